#include "mpegdec/ErrorText.h"

#include <cstdio>
#include <cstring>

#include "mpegdec/mpegdec.h"

namespace mpegdec {
namespace {

const char* const kErrorTexts[] = {
    "No error",
    "Invalid or unknown decoder handle",
    "Out of memory",
    "The file cannot be opened or read",
    "No MPEG audio stream was found in the file",
    "No file is bound to the decoder",
    "The file is not open for decoding",
    "Not allowed while the file is open for decoding",
    "Invalid argument",
    "Positioning in the stream failed",
    "The stream cannot be decoded",
    "Not supported by this decoder library",
    "Resource and pointer names are not supported",
    "Decoding was aborted",
};
constexpr int kErrorCount = int(sizeof kErrorTexts / sizeof kErrorTexts[0]);
static_assert(kErrorCount == MPEG_ERR_ABORTED + 1, "one text per error number");

}  // namespace

int32_t writeErrorText(int32_t code, char* buffer, int32_t size) {
  if (!buffer || size <= 0) return MPEG_ERR_BAD_ARGUMENT;
  // Reads return negated error numbers; both signs name the same error.
  const int64_t number = code < 0 ? -int64_t(code) : int64_t(code);
  char text[64];
  if (number < kErrorCount) {
    std::snprintf(text, sizeof text, "%s", kErrorTexts[number]);
  } else {
    std::snprintf(text, sizeof text, "Unknown error %lld", static_cast<long long>(code));
  }
  std::snprintf(buffer, size_t(size), "%s", text);
  if (number >= kErrorCount) return MPEG_ERR_BAD_ARGUMENT;
  return std::strlen(text) < size_t(size) ? MPEG_OK : MPEG_ERR_BAD_ARGUMENT;
}

}  // namespace mpegdec
