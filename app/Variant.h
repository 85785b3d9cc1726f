// The tagged value that the settings helpers pass in and out, and its conversions to each kind.
// Conversions follow the classic variant's rules where they are sensible:
// - to text: True/False, integers in decimal, currency with up to four decimals ("1.5"), dates as
//   "YYYY-MM-DD HH:MM:SS" (the date alone at midnight, the time alone on day 0); '.' is the
//   decimal point whatever the locale.
// - to a Boolean: non-zero is true; text must be "True"/"False" (any case) or a number.
// - to an integer: rounds to the nearest, halves to even; true is 1; text must be a number.
// - to currency and to a date: from numbers and from the texts written above.
// - an empty variant is "", false or zero.
// A conversion that is impossible or out of range raises EVariantError.
// Threading: plain values and functions; any thread.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <variant>

namespace app {

// A currency amount in fixed point with four decimals: 1.5 is {15000}.
struct TCurrency {
  std::int64_t tenThousandths = 0;
  friend bool operator==(const TCurrency&, const TCurrency&) = default;
};

// A date and time: days since 1899-12-30 00:00; the fraction is the time of day (for days before
// that date the fraction still counts forward from midnight: -1.25 is 1899-12-29 06:00).
struct TDateTime {
  double days = 0.0;
  friend bool operator==(const TDateTime&, const TDateTime&) = default;
};

// Empty, text, Boolean, integer, currency or date/time.
using TVariant =
    std::variant<std::monostate, std::string, bool, std::int32_t, TCurrency, TDateTime>;

class EVariantError : public std::runtime_error {
 public:
  explicit EVariantError(const std::string& message) : std::runtime_error(message) {}
};

std::string VariantToString(const TVariant& value);
bool VariantToBool(const TVariant& value);
std::int32_t VariantToInteger(const TVariant& value);
TCurrency VariantToCurrency(const TVariant& value);
TDateTime VariantToDateTime(const TVariant& value);

}  // namespace app
