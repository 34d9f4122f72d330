#include "preview/GeoLayers.h"

#include "preview/PackedData.h"

#include <algorithm>
#include <stdexcept>

namespace orolith {
namespace {

constexpr double DegreesPerStep = 1e-5;

}  // namespace

GeoLayers::GeoLayers(std::span<const unsigned char> file) {
  const std::vector<unsigned char> payload = UnpackMapFile(file, "OROGEO1\n", "map geography");
  PayloadReader in(payload, "map geography");
  const std::uint64_t setCount = in.Varint();
  for (std::uint64_t s = 0; s < setCount; ++s) {
    const std::uint64_t kind = in.Varint();
    const std::uint64_t level = in.Varint();
    const double step = static_cast<double>(in.Varint()) * DegreesPerStep;
    if (kind >= GeoKindCount || level >= GeoLevelCount) {
      throw std::runtime_error("map geography: a set of an unknown kind or level");
    }
    Set& set = sets_[kind][level].emplace();
    const std::uint64_t lineCount = in.Varint();
    for (std::uint64_t l = 0; l < lineCount; ++l) {
      const std::uint64_t count = in.Varint();
      Line line{{180, -180, 90, -90}, static_cast<std::uint32_t>(vertices_.size()), 0};
      std::int64_t lon = 0;
      std::int64_t lat = 0;
      for (std::uint64_t p = 0; p < count; ++p) {
        lon += in.Zigzag();
        lat += in.Zigzag();
        const double x = static_cast<double>(lon) * step;
        const double y = static_cast<double>(lat) * step;
        line.Bounds = {std::min(line.Bounds.West, x), std::max(line.Bounds.East, x),
                       std::min(line.Bounds.South, y), std::max(line.Bounds.North, y)};
        vertices_.push_back({static_cast<float>(x), static_cast<float>(y)});
      }
      line.Count = static_cast<std::uint32_t>(count);
      if (count >= 2) set.Lines.push_back(line);
    }
  }
  if (!in.AtEnd()) throw std::runtime_error("map geography: bytes after the last set");
}

const GeoLayers& GeoLayers::Builtin() {
  static const GeoLayers layers(BuiltinGeography());
  return layers;
}

int GeoLayers::LevelFor(double scale) noexcept {
  // The resolutions' tolerances, 25, 5 and 1 km, as about 1.5 pixels.
  if (scale < 6.5) return 0;
  if (scale < 33) return 1;
  if (scale < 160) return 2;
  return 3;
}

std::size_t GeoLayers::LineCount(GeoKind kind, int level) const noexcept {
  const Set* set = SetFor(kind, level);
  return set == nullptr ? 0 : set->Lines.size();
}

const GeoLayers::Set* GeoLayers::SetFor(GeoKind kind, int level) const noexcept {
  const auto& levels = sets_[static_cast<std::size_t>(kind)];
  for (int l = std::clamp(level, 0, GeoLevelCount - 1); l >= 0; --l) {
    if (levels[static_cast<std::size_t>(l)]) return &*levels[static_cast<std::size_t>(l)];
  }
  return nullptr;
}

}  // namespace orolith
