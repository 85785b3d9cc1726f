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
  // Without a helper pool: the parts a file's decoding is cut into, decoded one after another
  // (the output is the same; tests use it to check that).
  unsigned parts = 1;
};

}  // namespace cli
