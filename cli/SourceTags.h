// The tags of an MPEG audio file, in the forms a WAVE file carries them: a "LIST"/"INFO" list
// and a whole ID3v2 tag for an "id3 " chunk.
// Threading: any thread; each call opens its own objects, calls share nothing.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace cli {

// The longest text an INFO field takes; a longer one is cut where a character starts.
constexpr std::size_t kMaxInfoTextBytes = std::size_t(64) << 10;

// The largest INFO list of a WAVE source that is read, as for a whole ID3v2 tag; a larger one
// is left out.
constexpr std::size_t kMaxInfoListBytes = std::size_t(16) << 20;

// `text` cut to at most kMaxInfoTextBytes, where a UTF-8 character starts.
std::string CutInfoText(std::string text);

struct SourceTags {
  // INFO id ("INAM", ...) and UTF-8 text, in the order INAM, IART, IPRD, ICRD, IGNR, ICMT, ITRK,
  // ISFT; empty fields left out.
  std::vector<std::pair<std::string, std::string>> info;
  // An ID3v2 tag (header, frames, footer) for the "id3 " chunk; empty when there is none.
  std::vector<char> id3v2;
  // What was left out or cut to keep within the caps, one line each, for the user.
  std::vector<std::string> notices;

  bool Empty() const { return info.empty() && id3v2.empty(); }
};

// Reads the ID3v1, ID3v2 (2.2 to 2.4) and APE tags of `source`, within the caps of Id3Scan.h and
// kMaxInfoTextBytes. A field is taken from the ID3v2 tag, else the APE tag, else the ID3v1 tag.
// The ID3v2 bytes are the file's own tag, copied whole, when it is sound and within the caps
// (also when no field could be read from it); when only its frames over a cap or its padding
// were too much, the frames within the caps; otherwise, when any field was found, an ID3v2.4 tag
// (UTF-8) made from the merged fields. A RIFF file, a file that cannot be read, or one without
// tags gives an empty result. Never throws: the tags are untrusted input.
SourceTags ReadSourceTags(const std::filesystem::path& source);

}  // namespace cli
