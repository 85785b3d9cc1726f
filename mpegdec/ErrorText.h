// The texts of the library's error numbers.
// Threading: any thread.
#ifndef QUELBARIN_MPEGDEC_ERRORTEXT_H
#define QUELBARIN_MPEGDEC_ERRORTEXT_H

#include <cstdint>

namespace mpegdec {

// Writes the text of `code` (either sign) into buffer as mpeg_GetErrorText documents.
int32_t writeErrorText(int32_t code, char* buffer, int32_t size);

}  // namespace mpegdec

#endif  // QUELBARIN_MPEGDEC_ERRORTEXT_H
