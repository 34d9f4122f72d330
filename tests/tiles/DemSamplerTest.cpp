#include "base/Interrupt.h"
#include "support/Rasters.h"
#include "support/Scoped.h"
#include "support/TempFiles.h"
#include "tiles/DemRaster.h"
#include "tiles/DemSampler.h"
#include "tiles/SRTM.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace orolith {
namespace {

constexpr int Width = 40;
constexpr int Height = 30;
constexpr double West = 7.5;
constexpr double North = 46.5;
constexpr double Spacing = 0.001;

double Value(int x, int y) {
  return 100 + 3 * x + 7 * y + (x * y) % 5;
}

// Voids on a corner, along the edges and inside; none in another's window, where the order of
// the healing would tell (a tile heals its southern rows first, the raster its first lines).
bool IsVoid(int x, int y) {
  return (x == 0 && y == 0) || (x == 39 && y == 10) || (x == 12 && y == 29) ||
         (x == 20 && y == 15) || (x == 8 && y == 6);
}

TEST(DemSampler, HealsTheRastersVoidsAsATilesAndGivesNothingOutsideIt) {
  const test::TempDir dir;
  const std::string path = test::WriteGeographicRaster(
      dir.Root() + "voids.tif", West, North, Spacing, Width, Height, [](double lon, double lat) {
        const int x = static_cast<int>(std::floor((lon - West) / Spacing));
        const int y = static_cast<int>(std::floor((North - lat) / Spacing));
        return IsVoid(x, y) ? NAN : Value(x, y);
      });
  // The same samples as a tile's grid, row 0 south.
  auto grid = std::make_unique<float[]>(Width * Height);
  for (int y = 0; y < Height; ++y) {
    for (int x = 0; x < Width; ++x) {
      grid[(Height - 1 - y) * Width + x] =
          IsVoid(x, y) ? TSRTM::VoidHeight : static_cast<float>(Value(x, y));
    }
  }
  TSRTM tile;
  tile.AdoptHeights(std::move(grid), TileKind::Dem, Height, Width, 7, 46, "grid");
  EXPECT_EQ(tile.HealVoids(3), 5);

  DemRaster raster(path);
  DemSampler sampler(raster, -1);
  // Each pixel's centre, and one point west of the raster on every row.
  std::vector<float> heights((Width + 1) * Height);
  sampler.Sample(
      Height, Width + 1,
      [](std::size_t row, double* lon, double* lat) {
        for (int x = 0; x <= Width; ++x) {
          lon[x] = x == Width ? West - Spacing : West + (x + 0.5) * Spacing;
          lat[x] = North - (static_cast<double>(row) + 0.5) * Spacing;
        }
      },
      heights.data());
  EXPECT_EQ(sampler.Healed(), 5);
  for (int y = 0; y < Height; ++y) {
    for (int x = 0; x < Width; ++x) {
      EXPECT_NEAR(heights[y * (Width + 1) + x], tile.Height(Height - 1 - y, x), 1e-3)
          << x << ", " << y;
    }
    EXPECT_EQ(heights[y * (Width + 1) + Width], -1);
  }
}

TEST(DemSampler, AStopAskedForEndsTheSampling) {
  const test::TempDir dir;
  DemRaster raster(test::utm20s::WriteUtmPlane(dir.Root()));
  DemSampler sampler(raster, 0);
  float height = 0;
  const auto inside = [](std::size_t, double* lon, double* lat) { *lon = -63.5, *lat = -45.5; };
  const test::StopAsked stop;
  EXPECT_THROW(sampler.Sample(1, 1, inside, &height), Interrupted);
}

}  // namespace
}  // namespace orolith
