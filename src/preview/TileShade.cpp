#include "preview/TileShade.h"

#include "base/Errors.h"
#include "base/ReadOnlyFile.h"
#include "preview/ShadeCache.h"
#include "tiles/Copernicus.h"

#include <algorithm>
#include <cmath>

namespace orolith {
namespace {

// The index of the kept sample i of count among total, first and last included.
int Spread(int i, int count, int total) noexcept {
  const auto spread = (static_cast<std::int64_t>(i) * (total - 1) + (count - 1) / 2) / (count - 1);
  return static_cast<int>(spread);
}

constexpr std::int16_t VoidBelow = -32000;
// Relief drawn twice as steep: at a few hundred metres a pixel, hills still show.
constexpr double Exaggeration = 2.0;

}  // namespace

void ShadeHeights(const float* heights, int columns, int rows, double spacingX, double spacingY,
                  std::uint32_t tint, std::uint32_t* pixels) {
  const auto nx = static_cast<std::size_t>(columns);
  const auto ny = static_cast<std::size_t>(rows);
  const double scaleX = Exaggeration / (8 * spacingX);
  const double scaleY = Exaggeration / (8 * spacingY);
  // Light from the north-west, 45 degrees up.
  const double lx = -0.5;
  const double ly = 0.5;
  const double lz = std::sqrt(0.5);
  const auto channel = [](std::uint32_t colour, int shift, double brightness) {
    const double c = static_cast<double>((colour >> shift) & 0xFFU) * brightness;
    return static_cast<std::uint32_t>(std::lround(std::clamp(c, 0.0, 255.0))) << shift;
  };
  for (std::size_t r = 0; r < ny; ++r) {
    const float* north = &heights[(r == 0 ? 0 : r - 1) * nx];
    const float* here = &heights[r * nx];
    const float* south = &heights[(r + 1 == ny ? r : r + 1) * nx];
    for (std::size_t c = 0; c < nx; ++c) {
      const std::size_t w = c == 0 ? 0 : c - 1;
      const std::size_t e = c + 1 == nx ? c : c + 1;
      // Horn's slopes over the 3 x 3 neighbourhood; y points north.
      const double dx =
          ((north[e] + 2 * here[e] + south[e]) - (north[w] + 2 * here[w] + south[w])) * scaleX;
      const double dy =
          ((north[w] + 2 * north[c] + north[e]) - (south[w] + 2 * south[c] + south[e])) * scaleY;
      const double length = std::sqrt(dx * dx + dy * dy + 1);
      const double lit = std::isfinite(length) ? std::max(0.0, (-dx * lx - dy * ly + lz) / length)
                                               : std::sqrt(0.5);
      const double brightness = 0.22 + 0.78 * lit;
      pixels[r * nx + c] = (tint & 0xFF000000U) | channel(tint, 16, brightness) |
                           channel(tint, 8, brightness) | channel(tint, 0, brightness);
    }
  }
}

RasterShade ShadeOverview(const DemOverview& overview, std::uint32_t tint) {
  RasterShade shade;
  shade.Columns = overview.Columns;
  shade.Rows = overview.Rows;
  shade.Extent = overview.Extent;
  const std::size_t count = overview.Heights.size();
  if (overview.Columns < 2 || overview.Rows < 2 ||
      count !=
          static_cast<std::size_t>(overview.Columns) * static_cast<std::size_t>(overview.Rows)) {
    return shade;
  }
  // Where the raster has no value the slope is taken as flat, and the pixel left clear.
  std::vector<float> heights(overview.Heights);
  float fill = 0;
  for (float& h : heights) {
    if (std::isnan(h)) {
      h = fill;
    } else {
      fill = h;
    }
  }
  shade.Pixels.resize(count);
  const DemExtent& e = overview.Extent;
  const double spacingY = (e.North - e.South) / overview.Rows * 100000.0;
  const double spacingX = (e.East - e.West) / overview.Columns * 100000.0 *
                          std::cos((e.North + e.South) / 2 * 0.017453292519943295769);
  ShadeHeights(heights.data(), overview.Columns, overview.Rows, spacingX, spacingY, tint,
               shade.Pixels.data());
  for (std::size_t i = 0; i < count; ++i) {
    if (std::isnan(overview.Heights[i])) shade.Pixels[i] = 0;
  }
  return shade;
}

ReducedTile ReadReducedTile(const std::string& path, int side) {
  const ReadOnlyFile file(path);
  const TileKind kind = TileKindOfSize(file.Size());
  if (kind == TileKind::NotATile) throw CannotReadFile(path, "The file has no tile's size");
  const int total = TileSamplesPerSide(kind);
  ReducedTile tile;
  tile.Side = std::clamp(side, 2, total);
  const auto n = static_cast<std::size_t>(tile.Side);
  tile.Samples.resize(n * n);

  std::vector<int> columns(n);
  for (int i = 0; i < tile.Side; ++i)
    columns[static_cast<std::size_t>(i)] = Spread(i, tile.Side, total);
  const std::size_t rowBytes = static_cast<std::size_t>(total) * 2;
  std::vector<unsigned char> row(rowBytes);
  for (int i = 0; i < tile.Side; ++i) {
    const auto offset = static_cast<std::uint64_t>(Spread(i, tile.Side, total)) * rowBytes;
    file.ReadAt(row.data(), rowBytes, offset);
    std::int16_t* out = &tile.Samples[static_cast<std::size_t>(i) * n];
    for (std::size_t c = 0; c < n; ++c) {
      const unsigned char* sample = &row[static_cast<std::size_t>(columns[c]) * 2];
      out[c] = static_cast<std::int16_t>(static_cast<std::uint16_t>((sample[0] << 8) | sample[1]));
    }
  }
  return tile;
}

TileShade ShadeTile(const ReducedTile& tile, std::uint32_t tint) {
  TileShade shade;
  shade.Side = tile.Side;
  const auto n = static_cast<std::size_t>(std::max(tile.Side, 0));
  shade.Pixels.assign(n * n, tint);
  if (n < 2) return shade;

  std::vector<float> height(n * n);
  for (std::size_t r = 0; r < n; ++r) {
    for (std::size_t c = 0; c < n; ++c) {
      const std::int16_t v = tile.Samples[r * n + c];
      float& h = height[r * n + c];
      if (v >= VoidBelow) {
        h = v;
      } else if (c > 0) {
        h = height[r * n + c - 1];
      } else {
        h = r > 0 ? height[(r - 1) * n] : 0.0F;
      }
    }
  }

  // 100000 m to a degree, as the model counts; the tile is one degree wide.
  const double spacing = 100000.0 / static_cast<double>(n - 1);
  ShadeHeights(height.data(), tile.Side, tile.Side, spacing, spacing, tint, shade.Pixels.data());
  return shade;
}

TilePicture PictureOfTile(const DataFolders& folders, const TileBlocks& blocked, std::int32_t lon,
                          std::int32_t lat, int side, ShadeCache& cache) {
  TilePicture picture;
  const std::optional<TileSource> found = FindTileSource(folders, lon, lat, blocked);
  if (!found) return picture;
  picture.Path = found->Path;
  const std::optional<ShadeKey> key = ShadeKeyOf(found->Path, side);
  if (!key) return picture;
  const auto coverage = static_cast<TileCoverage>(found->Folder);
  std::shared_ptr<const TileShade> shade = cache.Find(*key);
  if (!shade) {
    try {
      ReducedTile reduced;
      if (coverage == TileCoverage::Cop30) {
        reduced.Samples = ReadReducedCopernicusTile(found->Path, lon, lat, side);
        reduced.Side = static_cast<int>(std::lround(std::sqrt(reduced.Samples.size())));
      } else {
        reduced = ReadReducedTile(found->Path, side);
      }
      shade = std::make_shared<const TileShade>(ShadeTile(reduced, LookOf(coverage).Tint));
    } catch (const FileError&) {
      return picture;
    }
    cache.Insert(*key, shade);
  }
  picture.Coverage = coverage;
  picture.Shade = std::move(shade);
  return picture;
}

}  // namespace orolith
