// The bytes libmpg123 reads, as one stream: the spans of consecutive frames found at binding,
// without the tags, the RIFF wrapper or junk between frames (whose false frame headers
// libmpg123's resync would otherwise decode as noise). `read` and `seek` are its reader
// callbacks, with the StreamReader as their handle.
// Threading: called by libmpg123 inside the decoder calls of one instance.
#ifndef QUELBARIN_MPEGDEC_STREAMREADER_H
#define QUELBARIN_MPEGDEC_STREAMREADER_H

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "mpegdec/CachedReader.h"
#include "mpegdec/MpegParse.h"

namespace mpegdec {

class StreamReader {
 public:
  StreamReader(int fd, std::vector<FrameSpan> spans);

  int64_t size() const { return size_; }
  void rewind() { position_ = 0; }

  // libmpg123's reader callbacks (mpg123_replace_reader_handle).
  static ssize_t read(void* handle, void* buffer, size_t size);
  static off_t seek(void* handle, off_t offset, int whence);

 private:
  CachedReader cache_;
  std::vector<FrameSpan> spans_;
  std::vector<int64_t> starts_;  // stream offset of each span
  int64_t size_ = 0;
  int64_t position_ = 0;
};

}  // namespace mpegdec

#endif  // QUELBARIN_MPEGDEC_STREAMREADER_H
