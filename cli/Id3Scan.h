// Reads a file's ID3v2 tag within fixed memory caps, before any tag library sees it: walks the
// frame headers (sizes checked against the tag, a compressed frame's declared size checked
// before anything is inflated), leaves out what goes over a cap, and rebuilds the frames that
// are kept as a plain tag of the same version: no extended header, no unsynchronisation, no
// compression, no padding. A tag reader given that copy never inflates or allocates more than
// the caps allow, and reads tags whose extended header it would misparse.
// Threading: any thread; each call has its own objects.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <vector>

namespace cli {

// One picture frame (APIC, PIC): room for a large cover scan, far more than players show.
constexpr std::size_t kMaxId3PictureBytes = std::size_t(12) << 20;
// Any other frame, after inflating: text, comments, lyrics.
constexpr std::size_t kMaxId3FrameBytes = std::size_t(1) << 20;
// The whole tag held in memory and copied into the WAV's "id3 " chunk: a largest picture and
// the rest. The reading costs a few times the tag, which keeps a conversion's peak within
// 64 MiB of a conversion without tags.
constexpr std::size_t kMaxId3TagBytes = std::size_t(16) << 20;
// How far into the file a tag behind leading junk is looked for.
constexpr std::uint64_t kId3SearchBytes = std::uint64_t(1) << 20;

struct Id3Scan {
  int version = 0;     // major version: 2, 3 or 4
  bool whole = false;  // the tag, as its header gives it, lies within the file
  // The file's tag byte for byte (header, frames, padding, footer) when it is whole, within
  // kMaxId3TagBytes, nothing was left out, and it holds frames or frames that cannot be walked
  // (a compressed version 2.2 tag, a damaged extended header); else empty.
  std::vector<char> raw;
  // Every frame kept, as a plain tag of the file's version (empty without frames).
  std::vector<char> kept;
  // The frames kept that the fields are read from (title, artist, ... comment), at most 4 MiB of
  // them, as a plain tag.
  std::vector<char> texts;
  // What was left out, one line each.
  std::vector<std::string> notices;
};

// Finds the first ID3v2 tag in the first kId3SearchBytes of `in` (a stream of `fileBytes`) and
// scans it. Nothing when there is no ID3v2 header or its flags make no sense. Reads at most
// kMaxId3TagBytes of tag, plus one frame header at a time.
std::optional<Id3Scan> ScanId3v2(std::istream& in, std::uint64_t fileBytes);

}  // namespace cli
