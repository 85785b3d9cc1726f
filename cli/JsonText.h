// JSON string literals for any bytes: file names on Linux are bytes, not always UTF-8.
// Threading: any thread; the function shares nothing.
#pragma once

#include <string>
#include <string_view>

namespace cli {

// `bytes` as a JSON string literal, quotes included. Valid UTF-8 is kept as it is; '"', '\' and
// control characters are escaped (\", \\, \n, \t, \r, \b, \f, \u00XX). Each byte that is not part
// of a valid UTF-8 sequence is written as the lone surrogate \uDCXX (XX the byte), the convention
// of Python's "surrogateescape": os.fsencode(json.loads(text)) gives the original bytes back, and
// no valid name can produce such an escape.
std::string JsonString(std::string_view bytes);

}  // namespace cli
