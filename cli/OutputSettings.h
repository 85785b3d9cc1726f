// How each MPEG source is written: sample depth, normalization, dither and tags. The same for
// every file of a run.
#pragma once

#include "cli/Normalization.h"
#include "cli/OutputDepth.h"

namespace cli {

struct OutputSettings {
  OutputDepth depth = OutputDepth::k16;  // --bits
  NormalizeSpec normalize;               // --normalize
  bool dither = true;                    // off with --no-dither
  bool tags = true;                      // off with --no-tags
  // Threads that the measuring pass of a normalization may use for one file.
  unsigned measureThreads = 1;
};

}  // namespace cli
