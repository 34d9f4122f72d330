#include "frontpanel/TSystem.h"

#include <langinfo.h>
#include <locale.h>

#include <algorithm>
#include <ctime>
#include <memory>
#include <optional>
#include <type_traits>

namespace orolith {
namespace {

std::string UpperAscii(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

// Position just after the key in the first argument that holds it, with that argument.
struct KeyHit {
  std::string_view argument;
  std::size_t valueStart;
};

std::optional<KeyHit> FindKey(std::span<const char* const> args, std::string_view key,
                              bool caseSensitive) {
  // An empty key would match every argument; it names nothing, so nothing is found.
  if (key.empty()) return std::nullopt;
  const std::string keyCopy = caseSensitive ? std::string(key) : UpperAscii(key);
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == nullptr) continue;
    const std::string_view argument(args[i]);
    const std::string argumentCopy = caseSensitive ? std::string(argument) : UpperAscii(argument);
    const std::size_t at = argumentCopy.find(keyCopy);
    if (at != std::string::npos) return KeyHit{argument, at + keyCopy.size()};
  }
  return std::nullopt;
}

struct LocaleDeleter {
  void operator()(locale_t locale) const noexcept { freelocale(locale); }
};
using LocalePtr = std::unique_ptr<std::remove_pointer_t<locale_t>, LocaleDeleter>;

// The environment's locale for one category; the C locale when the environment names none
// that is installed.
LocalePtr EnvironmentLocale(int categoryMask) {
  locale_t locale = newlocale(categoryMask, "", static_cast<locale_t>(nullptr));
  if (locale == static_cast<locale_t>(nullptr)) {
    locale = newlocale(categoryMask, "C", static_cast<locale_t>(nullptr));
  }
  return LocalePtr(locale);
}

std::string FormatNow(const char* format) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const LocalePtr locale = EnvironmentLocale(LC_TIME_MASK);
  char text[128];
  const std::size_t n = strftime_l(text, sizeof text, format, &local, locale.get());
  return std::string(text, n);
}

}  // namespace

std::string FindCommandLineKey(std::span<const char* const> args, std::string_view key,
                               bool caseSensitive) {
  const auto hit = FindKey(args, key, caseSensitive);
  if (!hit) return {};
  const std::string_view value = hit->argument.substr(hit->valueStart);
  return caseSensitive ? std::string(value) : UpperAscii(value);
}

std::string FindCommandLineValue(std::span<const char* const> args, std::string_view key) {
  const auto hit = FindKey(args, key, false);
  if (!hit) return {};
  return std::string(hit->argument.substr(hit->valueStart));
}

std::int32_t ClampInt(std::int32_t value, std::int32_t bound1, std::int32_t bound2) noexcept {
  const std::int32_t low = std::min(bound1, bound2);
  const std::int32_t high = std::max(bound1, bound2);
  if (value < low) return low;
  if (value > high) return high;
  return value;
}

bool InRangeFloat(long double value, long double bound1, long double bound2) noexcept {
  const long double low = std::min(bound1, bound2);
  const long double high = std::max(bound1, bound2);
  return low <= value && value <= high;
}

long double ClampFloat(long double value, long double bound1, long double bound2) noexcept {
  const long double low = std::min(bound1, bound2);
  const long double high = std::max(bound1, bound2);
  if (value < low) return low;
  if (value > high) return high;
  return value;
}

std::string CurrentDateString() {
  return FormatNow("%x");
}

std::string CurrentTimeString() {
  return FormatNow("%X");
}

char EnvironmentDecimalSeparator() {
  const LocalePtr locale = EnvironmentLocale(LC_NUMERIC_MASK);
  const char* radix = nl_langinfo_l(RADIXCHAR, locale.get());
  // A multi-byte separator can't be typed into a single-byte field; keep the point then.
  if (radix == nullptr || radix[0] == '\0' || radix[1] != '\0') return '.';
  return radix[0];
}

}  // namespace orolith
