// libFuzzer target: arbitrary text through the number reader and the fields' reader. Whatever
// is read is finite, a field's value keeps to its limits, and every number the program writes
// it can read back.

#include "base/NumberText.h"
#include "frontpanel/ModelSettings.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const char separator = (data[0] & 1) != 0 ? ',' : '.';
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

  const auto value = orolith::ParseNumber(text, separator);
  if (value) {
    if (!std::isfinite(*value)) __builtin_trap();
    const std::string written = orolith::FormatText(separator, "%.6f", {*value});
    if (!orolith::ParseNumber(written, separator)) __builtin_trap();
  }
  // With neither separator in it, a text reads the same whichever the user's is.
  if (text.find_first_of(".,") == std::string_view::npos &&
      orolith::ParseNumber(text, '.') != orolith::ParseNumber(text, ',')) {
    __builtin_trap();
  }

  static constexpr std::array fields{orolith::fields::Longitude,    orolith::fields::Latitude,
                                     orolith::fields::ElevationLow, orolith::fields::XExtent,
                                     orolith::fields::ZExtent,      orolith::fields::ZBase,
                                     orolith::fields::XYPixelSize};
  const orolith::FieldLimits& field = fields[data[0] / 2 % fields.size()];
  const float read = orolith::ReadFieldValue(text, field, separator);
  if (!(read >= field.MinValue && read <= field.MaxValue)) __builtin_trap();
  const std::string shown = orolith::FormatFieldValue(read, field, separator);
  if (!orolith::ParseFieldNumber(shown, separator)) __builtin_trap();
  return 0;
}
