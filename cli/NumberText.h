// Strict reading of the numbers given to options: at most one sign, then the digits (and for a
// decimal one point), and nothing before or after them, so that "+-5", "5x" or " 5" are refused
// rather than read as something the user did not write.
// Threading: any thread; the functions share nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace cli {

// "12", "+12", "-3": a whole number that fits in 64 bits.
std::optional<std::int64_t> ParseInteger(std::string_view text);

// "-14", "+0", "-16.5", ".5", "5.": a decimal number without exponent.
std::optional<double> ParseDecimal(std::string_view text);

}  // namespace cli
