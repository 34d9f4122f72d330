#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

namespace orolith {

// One argument of FormatText: an integer, a real or a text.
class FormatArg {
 public:
  template <typename T>
  requires std::is_integral_v<T> FormatArg(T v)
      : value_(static_cast<long long>(v)) {}  // NOLINT(google-explicit-constructor)
  template <typename T>
  requires std::is_floating_point_v<T> FormatArg(T v)
      : value_(static_cast<long double>(v)) {}  // NOLINT(google-explicit-constructor)
  FormatArg(std::string_view v) : value_(v) {}  // NOLINT(google-explicit-constructor)
  FormatArg(const std::string& v) : value_(std::string_view(v)) {}  // NOLINT
  FormatArg(const char* v) : value_(std::string_view(v)) {}         // NOLINT

  const std::variant<long long, long double, std::string_view>& Value() const { return value_; }

 private:
  std::variant<long long, long double, std::string_view> value_;
};

// printf-style formatting for the conversions the program's texts use: %d, %s and %f with
// optional width and precision ("%.6f", "%.2d", "%3d"), and "%%". Reals are written with the
// given decimal separator whatever the process locale is. Throws std::invalid_argument on a
// conversion it does not know or on an argument of the wrong kind.
std::string FormatText(char decimalSeparator, std::string_view format,
                       std::initializer_list<FormatArg> args);

// Reads a number: optional blanks, optional sign, digits with an optional decimal separator
// and digits (a lone separator reads as 0), optional exponent, optional blanks. Anything else,
// or a number beyond the range of long double, is not a number.
std::optional<long double> ParseNumber(std::string_view text, char decimalSeparator);

// Rounds to the nearest integer, halves to even; saturates at the int32 limits.
std::int32_t RoundHalfEven(long double value) noexcept;

}  // namespace orolith
