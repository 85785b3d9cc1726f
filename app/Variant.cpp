#include "app/Variant.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>
#include <string_view>

namespace app {
namespace {

constexpr std::int64_t kCurrencyScale = 10000;  // four decimals
constexpr int kCurrencyDecimals = 4;
constexpr double kMsPerDay = 86400000.0;
constexpr long long kSecondsPerDay = 86400;
// Dates from 0001-01-01 to 9999-12-31, as days from 1899-12-30.
constexpr double kFirstDay = -693593.0;
constexpr double kLastDay = 2958465.0;
constexpr std::chrono::sys_days kDayZero{std::chrono::year{1899} / 12 / 30};

template <class... Ts>
struct Overloaded : Ts... {
  using Ts::operator()...;
};
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

const char* TypeName(const TVariant& value) {
  static constexpr const char* kNames[] = {"Empty",   "String",   "Boolean",
                                           "Integer", "Currency", "Date"};
  return kNames[value.index()];
}

[[noreturn]] void CannotConvert(const TVariant& value, const char* to) {
  throw EVariantError(std::string("Could not convert variant of type (") + TypeName(value) +
                      ") into type (" + to + ")");
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// A whole text that is a finite decimal number ("-12", "+1.5", "2e3"), in any locale.
std::optional<double> ParseNumber(std::string_view text) {
  text = Trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  double value = 0.0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
      !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

// Rounds to the nearest integer, halves to even; nothing when out of [low, high].
std::optional<std::int64_t> RoundInRange(double value, double low, double high) {
  const double rounded = std::nearbyint(value);  // the default rounding mode: halves to even
  if (!std::isfinite(rounded) || rounded < low || rounded > high) return std::nullopt;
  return static_cast<std::int64_t>(rounded);
}

std::optional<std::int32_t> ToInt32(double value) {
  const auto n = RoundInRange(value, std::numeric_limits<std::int32_t>::min(),
                              std::numeric_limits<std::int32_t>::max());
  if (!n) return std::nullopt;
  return static_cast<std::int32_t>(*n);
}

// The largest doubles that still convert to std::int64_t.
constexpr double kInt64Low = -9223372036854775808.0;
constexpr double kInt64High = 9223372036854774784.0;

// "[+-]digits[.digits]" exactly, rounded to four decimals (halves to even).
std::optional<std::int64_t> ParseCurrency(std::string_view text) {
  text = Trim(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  __int128 scaled = 0;  // wide enough for any int64 amount times 10, checked per digit
  int decimals = -1;    // -1: before the point
  bool digits = false;
  int firstDropped = -1;  // first digit beyond four decimals
  bool nonZeroAfter = false;
  for (char c : text) {
    if (c == '.' && decimals < 0) {
      decimals = 0;
      continue;
    }
    if (c < '0' || c > '9') return std::nullopt;
    digits = true;
    if (decimals >= kCurrencyDecimals) {
      if (firstDropped < 0) {
        firstDropped = c - '0';
      } else if (c != '0') {
        nonZeroAfter = true;
      }
      continue;
    }
    scaled = scaled * 10 + (c - '0');
    if (decimals >= 0) ++decimals;
    if (scaled > static_cast<__int128>(std::numeric_limits<std::int64_t>::max()) * 10) {
      return std::nullopt;
    }
  }
  if (!digits) return std::nullopt;
  for (int d = std::max(decimals, 0); d < kCurrencyDecimals; ++d) scaled *= 10;
  if (firstDropped > 5 || (firstDropped == 5 && (nonZeroAfter || scaled % 2 != 0))) ++scaled;
  if (negative) scaled = -scaled;
  if (scaled < std::numeric_limits<std::int64_t>::min() ||
      scaled > std::numeric_limits<std::int64_t>::max()) {
    return std::nullopt;
  }
  return static_cast<std::int64_t>(scaled);
}

std::string CurrencyText(std::int64_t tenThousandths) {
  const bool negative = tenThousandths < 0;
  const std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(tenThousandths)
                                           : static_cast<std::uint64_t>(tenThousandths);
  std::string text = (negative ? "-" : "") + std::to_string(magnitude / kCurrencyScale);
  const auto fraction = static_cast<unsigned>(magnitude % kCurrencyScale);
  if (fraction != 0) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%04u", fraction);
    std::string decimals = digits;
    decimals.erase(decimals.find_last_not_of('0') + 1);
    text += "." + decimals;
  }
  return text;
}

bool ReadDigits(std::string_view s, std::size_t& pos, std::size_t count, int& value) {
  if (pos + count > s.size()) return false;
  value = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const char c = s[pos + i];
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  pos += count;
  return true;
}

// "YYYY-MM-DD", "YYYY-MM-DD HH:MM[:SS]" or "HH:MM[:SS]".
std::optional<double> ParseDateTime(std::string_view text) {
  text = Trim(text);
  std::size_t pos = 0;
  double days = 0.0;
  int year = 0;
  int month = 0;
  int day = 0;
  if (text.size() >= 10 && text[4] == '-' && text[7] == '-') {
    std::size_t yearAt = 0;
    std::size_t monthAt = 5;
    std::size_t dayAt = 8;
    const bool read = ReadDigits(text, yearAt, 4, year) && ReadDigits(text, monthAt, 2, month) &&
                      ReadDigits(text, dayAt, 2, day);
    const std::chrono::year_month_day date{std::chrono::year{year},
                                           std::chrono::month{static_cast<unsigned>(month)},
                                           std::chrono::day{static_cast<unsigned>(day)}};
    if (!read || year < 1 || !date.ok()) return std::nullopt;
    days = static_cast<double>((std::chrono::sys_days{date} - kDayZero).count());
    pos = 10;
    if (pos == text.size()) return days;
    if (text[pos] != ' ' && text[pos] != 'T') return std::nullopt;
    ++pos;
  }
  int hours = 0;
  int minutes = 0;
  int seconds = 0;
  if (!ReadDigits(text, pos, 2, hours) || pos >= text.size() || text[pos++] != ':' ||
      !ReadDigits(text, pos, 2, minutes)) {
    return std::nullopt;
  }
  if (pos < text.size() && (text[pos++] != ':' || !ReadDigits(text, pos, 2, seconds))) {
    return std::nullopt;
  }
  if (pos != text.size() || hours > 23 || minutes > 59 || seconds > 59) return std::nullopt;
  const double fraction =
      static_cast<double>(hours * 3600 + minutes * 60 + seconds) / kSecondsPerDay;
  return days < 0 ? days - fraction : days + fraction;
}

std::optional<std::string> DateTimeText(double value) {
  if (!std::isfinite(value)) return std::nullopt;
  const double datePart = std::trunc(value);
  if (datePart < kFirstDay || datePart > kLastDay) return std::nullopt;
  long long ms = std::llround(std::fabs(value - datePart) * kMsPerDay);
  ms = std::min(ms, static_cast<long long>(kMsPerDay) - 1);  // never carry into the next day
  const long long seconds = ms / 1000;
  const std::chrono::year_month_day date{kDayZero +
                                         std::chrono::days{static_cast<long long>(datePart)}};
  char text[32];
  const int hh = static_cast<int>(seconds / 3600);
  const int mm = static_cast<int>(seconds / 60 % 60);
  const int ss = static_cast<int>(seconds % 60);
  const int year = static_cast<int>(date.year());
  const auto month = static_cast<unsigned>(date.month());
  const auto day = static_cast<unsigned>(date.day());
  if (datePart == 0.0 && seconds != 0) {
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", hh, mm, ss);
  } else if (seconds == 0) {
    std::snprintf(text, sizeof text, "%04d-%02u-%02u", year, month, day);
  } else {
    std::snprintf(text, sizeof text, "%04d-%02u-%02u %02d:%02d:%02d", year, month, day, hh, mm, ss);
  }
  return std::string(text);
}

}  // namespace

std::string VariantToString(const TVariant& value) {
  return std::visit(Overloaded{
                        [](std::monostate) { return std::string(); },
                        [](const std::string& s) { return s; },
                        [](bool b) { return std::string(b ? "True" : "False"); },
                        [](std::int32_t n) { return std::to_string(n); },
                        [](TCurrency c) { return CurrencyText(c.tenThousandths); },
                        [&](TDateTime d) {
                          const auto text = DateTimeText(d.days);
                          if (!text) CannotConvert(value, "String");
                          return *text;
                        },
                    },
                    value);
}

bool VariantToBool(const TVariant& value) {
  return std::visit(Overloaded{
                        [](std::monostate) { return false; },
                        [&](const std::string& s) {
                          if (EqualsIgnoringCase(Trim(s), "true")) return true;
                          if (EqualsIgnoringCase(Trim(s), "false")) return false;
                          const auto number = ParseNumber(s);
                          if (!number) CannotConvert(value, "Boolean");
                          return *number != 0.0;
                        },
                        [](bool b) { return b; },
                        [](std::int32_t n) { return n != 0; },
                        [](TCurrency c) { return c.tenThousandths != 0; },
                        [](TDateTime d) { return d.days != 0.0; },
                    },
                    value);
}

std::int32_t VariantToInteger(const TVariant& value) {
  const std::optional<std::int32_t> result =
      std::visit(Overloaded{
                     [](std::monostate) -> std::optional<std::int32_t> { return 0; },
                     [](const std::string& s) -> std::optional<std::int32_t> {
                       const auto number = ParseNumber(s);
                       return number ? ToInt32(*number) : std::nullopt;
                     },
                     [](bool b) -> std::optional<std::int32_t> { return b ? 1 : 0; },
                     [](std::int32_t n) -> std::optional<std::int32_t> { return n; },
                     [](TCurrency c) -> std::optional<std::int32_t> {
                       // Exact: the quotient and remainder, rounded half to even.
                       std::int64_t whole = c.tenThousandths / kCurrencyScale;
                       const std::int64_t rest = c.tenThousandths % kCurrencyScale;
                       const std::int64_t twice = 2 * (rest < 0 ? -rest : rest);
                       if (twice > kCurrencyScale || (twice == kCurrencyScale && whole % 2 != 0)) {
                         whole += rest < 0 ? -1 : 1;
                       }
                       if (whole < std::numeric_limits<std::int32_t>::min() ||
                           whole > std::numeric_limits<std::int32_t>::max()) {
                         return std::nullopt;
                       }
                       return static_cast<std::int32_t>(whole);
                     },
                     [](TDateTime d) { return ToInt32(d.days); },
                 },
                 value);
  if (!result) CannotConvert(value, "Integer");
  return *result;
}

TCurrency VariantToCurrency(const TVariant& value) {
  const std::optional<std::int64_t> result = std::visit(
      Overloaded{
          [](std::monostate) -> std::optional<std::int64_t> { return 0; },
          [](const std::string& s) { return ParseCurrency(s); },
          [](bool b) -> std::optional<std::int64_t> { return b ? kCurrencyScale : 0; },
          [](std::int32_t n) -> std::optional<std::int64_t> { return n * kCurrencyScale; },
          [](TCurrency c) -> std::optional<std::int64_t> { return c.tenThousandths; },
          [](TDateTime d) { return RoundInRange(d.days * kCurrencyScale, kInt64Low, kInt64High); },
      },
      value);
  if (!result) CannotConvert(value, "Currency");
  return TCurrency{*result};
}

TDateTime VariantToDateTime(const TVariant& value) {
  const std::optional<double> result =
      std::visit(Overloaded{
                     [](std::monostate) -> std::optional<double> { return 0.0; },
                     [](const std::string& s) { return ParseDateTime(s); },
                     [](bool b) -> std::optional<double> { return b ? 1.0 : 0.0; },
                     [](std::int32_t n) -> std::optional<double> { return n; },
                     [](TCurrency c) -> std::optional<double> {
                       return static_cast<double>(c.tenThousandths) / kCurrencyScale;
                     },
                     [](TDateTime d) -> std::optional<double> { return d.days; },
                 },
                 value);
  if (!result) CannotConvert(value, "Date");
  return TDateTime{*result};
}

}  // namespace app
