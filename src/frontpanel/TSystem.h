#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace orolith {

// The text after the first occurrence of key in the first argument (from args[1] on) that
// holds it; empty when none does. Case-insensitive mode upper-cases a..z of both key and
// result. The window reads DataRoot= with it on Windows only; elsewhere FindCommandLineValue.
std::string FindCommandLineKey(std::span<const char* const> args, std::string_view key,
                               bool caseSensitive);

// The same search with the key matched regardless of letter case, but the value returned as
// typed: on a case-sensitive file system a path must keep its case.
std::string FindCommandLineValue(std::span<const char* const> args, std::string_view key);

// The range helpers: the model clamps with ClampFloat; ClampInt and InRangeFloat complete the
// set and have no caller in the programs today.
std::int32_t ClampInt(std::int32_t value, std::int32_t bound1, std::int32_t bound2) noexcept;
bool InRangeFloat(long double value, long double bound1, long double bound2) noexcept;
long double ClampFloat(long double value, long double bound1, long double bound2) noexcept;

// Today's date in the locale's short form (%x) and the time in its long form (%X), read from
// the environment's locale (LC_ALL / LC_TIME / LANG) without touching the global C locale.
std::string CurrentDateString();
std::string CurrentTimeString();

// The decimal separator of the environment's locale (LC_ALL / LC_NUMERIC / LANG).
char EnvironmentDecimalSeparator();

}  // namespace orolith
