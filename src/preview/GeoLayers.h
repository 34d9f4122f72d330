#pragma once

#include "preview/MapGeometry.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace orolith {

enum class GeoKind : std::uint8_t { SeaShore, LakeShore, Border, River };
inline constexpr int GeoKindCount = 4;
// Crude, low, intermediate and high: GSHHG's resolutions c, l, i and h.
inline constexpr int GeoLevelCount = 4;

struct GeoVertex {
  float Lon;
  float Lat;
};

// The lines of the map's geography, each kind at up to four levels of detail. A line is a piece
// of a shore, border or river inside one bin of its source, so that a view at a large zoom
// visits only the few lines whose bounds it meets.
class GeoLayers {
 public:
  // Reads a packed geography file; throws std::runtime_error when it is damaged.
  explicit GeoLayers(std::span<const unsigned char> file);
  // The geography built into the program, read on first use.
  static const GeoLayers& Builtin();

  // The level whose simplification stays within about a pixel at scale pixels per degree.
  static int LevelFor(double scale) noexcept;

  // Calls visit(std::span<const GeoVertex>) for every line of kind that may meet box, at level
  // or, where the kind has no set at that level, at the finest one below it.
  template <typename Visit>
  void ForEachLine(GeoKind kind, int level, const GeoBox& box, Visit&& visit) const {
    const Set* set = SetFor(kind, level);
    if (set == nullptr) return;
    for (const Line& line : set->Lines) {
      if (Meets(line.Bounds, box))
        visit(std::span<const GeoVertex>(&vertices_[line.First], line.Count));
    }
  }

  std::size_t LineCount(GeoKind kind, int level) const noexcept;

 private:
  struct Line {
    GeoBox Bounds;
    std::uint32_t First;
    std::uint32_t Count;
  };
  struct Set {
    std::vector<Line> Lines;
  };
  const Set* SetFor(GeoKind kind, int level) const noexcept;

  std::array<std::array<std::optional<Set>, GeoLevelCount>, GeoKindCount> sets_;
  std::vector<GeoVertex> vertices_;
};

}  // namespace orolith
