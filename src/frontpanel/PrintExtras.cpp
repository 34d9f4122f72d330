#include "frontpanel/PrintExtras.h"

#include <charconv>
#include <cmath>

namespace orolith {

bool ReadColourBands(std::string_view text, PrintExtras& extras) {
  int count = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
  if (error == std::errc() && end == text.data() + text.size() && count >= 1 &&
      count <= MaxColourBands) {
    extras.ColourBands = count;
    extras.BandHeights.clear();
    return true;
  }
  std::vector<float> heights;
  while (true) {
    const std::size_t comma = text.find(',');
    const std::string_view item = text.substr(0, comma);
    float metres = 0;
    const auto [itemEnd, itemError] =
        std::from_chars(item.data(), item.data() + item.size(), metres);
    if (item.empty() || itemError != std::errc() || itemEnd != item.data() + item.size() ||
        !std::isfinite(metres) || std::fabs(metres) > 10000) {
      return false;
    }
    heights.push_back(metres);
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  if (heights.size() + 1 > static_cast<std::size_t>(MaxColourBands)) return false;
  extras.BandHeights = std::move(heights);
  return true;
}

}  // namespace orolith
