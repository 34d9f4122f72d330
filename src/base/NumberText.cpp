#include "base/NumberText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace orolith {
namespace {

struct Conversion {
  bool leftAlign = false;
  bool zeroPad = false;
  int width = 0;
  int precision = -1;
  char type = 0;
};

// Parses "%[-0][width][.precision]type" from format[i] (just after '%'); i ends after type.
Conversion ParseConversion(std::string_view format, std::size_t& i) {
  Conversion c;
  for (; i < format.size() && (format[i] == '-' || format[i] == '0'); ++i) {
    (format[i] == '-' ? c.leftAlign : c.zeroPad) = true;
  }
  for (; i < format.size() && format[i] >= '0' && format[i] <= '9'; ++i) {
    c.width = c.width * 10 + (format[i] - '0');
  }
  if (i < format.size() && format[i] == '.') {
    c.precision = 0;
    for (++i; i < format.size() && format[i] >= '0' && format[i] <= '9'; ++i) {
      c.precision = c.precision * 10 + (format[i] - '0');
    }
  }
  if (i >= format.size()) throw std::invalid_argument("FormatText: conversion without a type");
  c.type = format[i++];
  return c;
}

void Pad(std::string& out, std::string_view body, const Conversion& c, bool numeric) {
  const std::size_t width = static_cast<std::size_t>(c.width);
  if (body.size() >= width) {
    out += body;
  } else if (c.leftAlign) {
    out += body;
    out.append(width - body.size(), ' ');
  } else if (c.zeroPad && numeric) {
    // Zeros go after the sign.
    const bool signed_ = !body.empty() && body[0] == '-';
    if (signed_) out += '-';
    out.append(width - body.size(), '0');
    out += body.substr(signed_ ? 1 : 0);
  } else {
    out.append(width - body.size(), ' ');
    out += body;
  }
}

std::string FormatInteger(long long value, int precision) {
  char digits[32];
  const unsigned long long magnitude = value < 0 ? 0ULL - static_cast<unsigned long long>(value)
                                                 : static_cast<unsigned long long>(value);
  const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, magnitude);
  std::string body = value < 0 ? "-" : "";
  const auto length = static_cast<int>(end - digits);
  if (precision > length) body.append(static_cast<std::size_t>(precision - length), '0');
  body.append(digits, end);
  return body;
}

std::string FormatFixed(long double value, int precision, char decimalSeparator) {
  if (precision < 0) precision = 6;
  // Room for the largest long double written out in full with the digits asked for, so the
  // conversion can't run short.
  constexpr std::size_t wholeDigits = std::numeric_limits<long double>::max_exponent10 + 2;
  std::string body(wholeDigits + 2 + static_cast<std::size_t>(precision), '\0');
  const auto [end, ec] = std::to_chars(body.data(), body.data() + body.size(), value,
                                       std::chars_format::fixed, precision);
  if (ec != std::errc()) throw std::length_error("FormatText: number too long to write");
  body.resize(static_cast<std::size_t>(end - body.data()));
  for (char& ch : body) {
    if (ch == '.') ch = decimalSeparator;
  }
  return body;
}

// Whether a number written as whole.fraction e exponent has a magnitude below 1 (its leading
// digit lies right of the point); only its order of magnitude matters, so the exponent is
// saturated far beyond any type's range.
bool BelowOne(std::string_view whole, std::string_view fraction, std::string_view exponent) {
  long long position = 0;  // decimal exponent of the leading non-zero digit, plus one
  const std::size_t firstWhole = whole.find_first_not_of('0');
  if (firstWhole != std::string_view::npos) {
    position = static_cast<long long>(whole.size() - firstWhole);
  } else {
    const std::size_t firstFraction = fraction.find_first_not_of('0');
    if (firstFraction == std::string_view::npos) return true;  // zero
    position = -static_cast<long long>(firstFraction);
  }
  long long power = 0;
  const bool negative = !exponent.empty() && exponent[0] == '-';
  for (const char ch : exponent) {
    if (ch >= '0' && ch <= '9') power = std::min(power * 10 + (ch - '0'), 1'000'000'000LL);
  }
  return position + (negative ? -power : power) <= 0;
}

}  // namespace

std::string FormatText(char decimalSeparator, std::string_view format,
                       std::initializer_list<FormatArg> args) {
  std::string out;
  out.reserve(format.size() + 16 * args.size());
  auto next = args.begin();
  for (std::size_t i = 0; i < format.size();) {
    if (format[i] != '%') {
      out += format[i++];
      continue;
    }
    ++i;
    if (i < format.size() && format[i] == '%') {
      out += '%';
      ++i;
      continue;
    }
    const Conversion c = ParseConversion(format, i);
    if (next == args.end()) throw std::invalid_argument("FormatText: too few arguments");
    const auto& value = (next++)->Value();
    switch (c.type) {
      case 'd':
      case 'i':
        if (!std::holds_alternative<long long>(value)) {
          throw std::invalid_argument("FormatText: %d needs an integer");
        }
        Pad(out, FormatInteger(std::get<long long>(value), c.precision), c, c.precision < 0);
        break;
      case 'f': {
        long double real = 0;
        if (const auto* r = std::get_if<long double>(&value)) {
          real = *r;
        } else if (const auto* n = std::get_if<long long>(&value)) {
          real = static_cast<long double>(*n);
        } else {
          throw std::invalid_argument("FormatText: %f needs a number");
        }
        Pad(out, FormatFixed(real, c.precision, decimalSeparator), c, true);
        break;
      }
      case 's': {
        const auto* text = std::get_if<std::string_view>(&value);
        if (text == nullptr) throw std::invalid_argument("FormatText: %s needs a text");
        std::string_view body = *text;
        if (c.precision >= 0) body = body.substr(0, static_cast<std::size_t>(c.precision));
        Pad(out, body, c, false);
        break;
      }
      default:
        throw std::invalid_argument(std::string("FormatText: unknown conversion %") + c.type);
    }
  }
  return out;
}

std::optional<long double> ParseNumber(std::string_view text, char decimalSeparator) {
  std::size_t i = 0;
  const auto digitsFrom = [&](std::size_t start) {
    std::size_t end = start;
    while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
    return text.substr(start, end - start);
  };
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const std::string_view whole = digitsFrom(i);
  i += whole.size();
  std::string_view fraction;
  bool separator = false;
  if (i < text.size() && text[i] == decimalSeparator) {
    separator = true;
    fraction = digitsFrom(++i);
    i += fraction.size();
  }
  if (whole.empty() && !separator) return std::nullopt;
  std::string normal = negative ? "-" : "";
  normal += whole.empty() ? std::string_view("0") : whole;
  normal += '.';
  normal += fraction.empty() ? std::string_view("0") : fraction;
  std::string_view exponentText;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    normal += 'e';
    const std::size_t signAt = ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) normal += text[i++];
    const std::string_view exponent = digitsFrom(i);
    if (exponent.empty()) return std::nullopt;
    exponentText = text.substr(signAt, i + exponent.size() - signAt);
    normal += exponent;
    i += exponent.size();
  }
  while (i < text.size() && text[i] == ' ') ++i;
  if (i != text.size()) return std::nullopt;
  long double value = 0;
  const auto [end, ec] = std::from_chars(normal.data(), normal.data() + normal.size(), value);
  if (ec == std::errc::result_out_of_range && BelowOne(whole, fraction, exponentText)) {
    // Too small for the type rather than too large: it is as good as zero.
    return negative ? -0.0L : 0.0L;
  }
  if (ec != std::errc() || end != normal.data() + normal.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

std::int32_t RoundHalfEven(long double value) noexcept {
  if (std::isnan(value)) return 0;
  const long double rounded = std::nearbyint(value);
  if (rounded <= static_cast<long double>(std::numeric_limits<std::int32_t>::min())) {
    return std::numeric_limits<std::int32_t>::min();
  }
  if (rounded >= static_cast<long double>(std::numeric_limits<std::int32_t>::max())) {
    return std::numeric_limits<std::int32_t>::max();
  }
  return static_cast<std::int32_t>(rounded);
}

}  // namespace orolith
