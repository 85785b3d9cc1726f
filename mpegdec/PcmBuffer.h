// Decoded PCM waiting to be delivered: bytes are appended at the back (decoded straight into
// uninitialised room, never zero-filled first) and taken from the front. Plain byte moves only,
// no per-element work, so it costs the same in instrumented builds as in release ones.
// Threading: belongs to one instance's playback or measurement, on the thread that calls it.
#ifndef QUELBARIN_MPEGDEC_PCMBUFFER_H
#define QUELBARIN_MPEGDEC_PCMBUFFER_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

namespace mpegdec {

class PcmBuffer {
 public:
  size_t size() const { return end_ - begin_; }
  bool empty() const { return end_ == begin_; }
  const uint8_t* data() const { return storage_.get() + begin_; }
  uint8_t* data() { return storage_.get() + begin_; }

  void clear() { begin_ = end_ = 0; }

  // Grows the buffer by `bytes` whose content is left undefined, and returns where they start.
  uint8_t* appendUninitialised(size_t bytes) {
    if (capacity_ - end_ < bytes) makeRoom(bytes);
    uint8_t* const room = storage_.get() + end_;
    end_ += bytes;
    return room;
  }
  void appendZeros(size_t bytes) { std::memset(appendUninitialised(bytes), 0, bytes); }
  // Takes `bytes` (at most size()) off the back.
  void dropBack(size_t bytes) { end_ -= std::min(bytes, size()); }
  // Takes `bytes` (at most size()) off the front.
  void dropFront(size_t bytes) { begin_ += std::min(bytes, size()); }
  // Removes `bytes` starting `offset` bytes from the front; the bytes after them move up.
  void erase(size_t offset, size_t bytes) {
    offset = std::min(offset, size());
    bytes = std::min(bytes, size() - offset);
    uint8_t* const at = data() + offset;
    std::memmove(at, at + bytes, size() - offset - bytes);
    end_ -= bytes;
  }

 private:
  void makeRoom(size_t bytes) {
    const size_t held = size();
    if (held + bytes <= capacity_) {  // enough once the delivered front is reclaimed
      std::memmove(storage_.get(), data(), held);
    } else {
      const size_t capacity = std::max(held + bytes, 2 * capacity_);
      std::unique_ptr<uint8_t[]> storage(new uint8_t[capacity]);
      if (held > 0) std::memcpy(storage.get(), data(), held);
      storage_ = std::move(storage);
      capacity_ = capacity;
    }
    begin_ = 0;
    end_ = held;
  }

  std::unique_ptr<uint8_t[]> storage_;
  size_t capacity_ = 0;
  size_t begin_ = 0;  // first byte not yet delivered
  size_t end_ = 0;    // one past the last byte held
};

}  // namespace mpegdec

#endif  // QUELBARIN_MPEGDEC_PCMBUFFER_H
