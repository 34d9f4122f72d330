#include "model/mesh/SurfacePaint.h"

#include <algorithm>
#include <array>
#include <utility>

namespace orolith {
namespace {

// Lowland green to rock brown to snow.
constexpr std::array<std::uint32_t, 5> BandColours{0x3A7D44, 0x9DB86A, 0xC8A165, 0x8C6A4F,
                                                   0xF2F2F2};
constexpr std::uint32_t WaterColour = 0x2F6DB5;

}  // namespace

SurfacePaint::SurfacePaint(std::vector<float> bounds, std::optional<float> waterZ)
    : bounds_(std::move(bounds)),
      water_(waterZ),
      waterColour_(static_cast<std::uint32_t>(bounds_.size()) + 2) {
  std::sort(bounds_.begin(), bounds_.end());
}

std::vector<std::uint32_t> SurfacePaint::Colours() const {
  const std::size_t bands = bounds_.size() + 1;
  std::vector<std::uint32_t> colours;
  for (std::size_t k = 0; k < bands; ++k) {
    // Spread over the table so that two bands are green and snow, not two greens.
    const std::size_t at = bands == 1 ? 0 : k * (BandColours.size() - 1) / (bands - 1);
    colours.push_back(BandColours[at]);
  }
  if (water_) colours.push_back(WaterColour);
  return colours;
}

}  // namespace orolith
