// Text for a terminal: how many columns a UTF-8 string takes, file names made safe to print,
// and cutting to a number of columns.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace cli {

// The columns `text` takes on a terminal: one per code point, two for East Asian wide ones.
// Bytes that are not UTF-8 count one each.
std::size_t DisplayColumns(std::string_view text);

// A file name as it may go to a terminal: C0 and C1 control characters (which could move the
// cursor or start an escape sequence) and bytes that are not UTF-8 become '?'.
std::string Printable(std::string_view name);

// The longest start of `text` that fits in `columns`.
std::string CutRight(std::string_view text, std::size_t columns);

// `text` if it fits in `columns`, else "…" and the longest end of it that fits.
std::string CutLeft(std::string_view text, std::size_t columns);

}  // namespace cli
