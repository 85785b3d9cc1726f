#include "cli/NumberText.h"

#include <charconv>

namespace cli {
namespace {

// Removes one leading sign; true when it was '-'.
bool TakeSign(std::string_view& text) {
  if (text.empty() || (text.front() != '+' && text.front() != '-')) return false;
  const bool negative = text.front() == '-';
  text.remove_prefix(1);
  return negative;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

std::optional<std::int64_t> ParseInteger(std::string_view text) {
  const bool negative = TakeSign(text);
  if (text.empty() || !IsDigit(text.front())) return std::nullopt;
  // Parsed as unsigned so that the most negative value fits too.
  std::uint64_t magnitude = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, error] = std::from_chars(text.data(), end, magnitude);
  if (error != std::errc() || ptr != end) return std::nullopt;
  constexpr std::uint64_t kMaxPositive = INT64_MAX;
  if (!negative) {
    if (magnitude > kMaxPositive) return std::nullopt;
    return static_cast<std::int64_t>(magnitude);
  }
  if (magnitude > kMaxPositive + 1) return std::nullopt;
  return magnitude == kMaxPositive + 1 ? INT64_MIN : -static_cast<std::int64_t>(magnitude);
}

std::optional<double> ParseDecimal(std::string_view text) {
  const bool negative = TakeSign(text);
  std::size_t digits = 0;
  std::size_t points = 0;
  for (const char c : text) {
    if (IsDigit(c)) {
      ++digits;
    } else if (c != '.' || ++points > 1) {
      return std::nullopt;
    }
  }
  if (digits == 0) return std::nullopt;
  double value = 0.0;
  const char* end = text.data() + text.size();
  const auto [ptr, error] = std::from_chars(text.data(), end, value, std::chars_format::fixed);
  if (error != std::errc() || ptr != end) return std::nullopt;
  return negative ? -value : value;
}

}  // namespace cli
