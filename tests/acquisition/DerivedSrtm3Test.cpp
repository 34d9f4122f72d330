#include "acquisition/DerivedSrtm3.h"
#include "acquisition/TileArchive.h"
#include "support/TempFiles.h"
#include "support/Tiles.h"
#include "tiles/SRTM.h"

#include <gtest/gtest.h>

namespace orolith {
namespace {

// Every third sample of the SRTM-1 grid, the edges that neighbours share and a void included.
TEST(MakeSrtm3Tile, TakesEveryThirdSampleOfTheSrtm1Tile) {
  const test::TempDir dir;
  const auto srtm1 = dir.Path() / "N45E006.hgt";
  const auto sample = [](int row, int column) {
    return row == 1500 && column == 300 ? -32768 : row * 7 + column;
  };
  test::WriteTile(srtm1, 3601, sample);
  const std::string made = (dir.Path() / "made.hgt").string();
  MakeSrtm3Tile(srtm1.string(), made);

  TSRTM tile;
  tile.LoadFromFile(made, 6, 45);
  ASSERT_EQ(tile.Kind(), TileKind::Srtm3);
  for (const auto& [row, column] : {std::pair{0, 0}, std::pair{0, 1200}, std::pair{1200, 0},
                                    std::pair{1200, 1200}, std::pair{500, 101}, std::pair{1, 2}}) {
    SCOPED_TRACE(std::to_string(row) + "," + std::to_string(column));
    EXPECT_EQ(tile.Sample(row, column), sample(3 * row, 3 * column));
  }
  EXPECT_EQ(tile.Sample(500, 100), -32768);

  // A tile of another kind is no SRTM-1 tile to make one from.
  test::WriteTile(srtm1, 1201, sample);
  try {
    MakeSrtm3Tile(srtm1.string(), made);
    ADD_FAILURE() << "no error";
  } catch (const UnpackError& error) {
    EXPECT_EQ(std::string(error.what()), "N45E006.hgt holds an SRTM-3 tile, not an SRTM-1 tile");
  }
}

}  // namespace
}  // namespace orolith
