#include "base/Errors.h"
#include "support/Pipes.h"
#include "support/TempFiles.h"
#include "tiles/SRTM.h"
#include "tiles/TileRange.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace orolith {
namespace {

TEST(TileFileName, NamesTheSouthWestCornerWithPaddedDegrees) {
  struct Case {
    int lon;
    int lat;
    const char* name;
  };
  for (const Case& c :
       {Case{0, 0, "N00E000.hgt"}, Case{-1, -1, "S01W001.hgt"}, Case{-122, 45, "N45W122.hgt"},
        Case{7, -3, "S03E007.hgt"}, Case{-180, -90, "S90W180.hgt"}, Case{179, 89, "N89E179.hgt"}}) {
    EXPECT_EQ(TileFileName(c.lon, c.lat), c.name) << c.lon << " " << c.lat;
  }
}

TEST(TileKindOfFile, DecidesByByteSizeAloneWhateverTheNameOrFolder) {
  const test::TempDir dir;
  std::filesystem::create_directories(dir.Path() / "SRTM_1");
  const std::vector<std::pair<std::uintmax_t, TileKind>> sizes = {
      {0, TileKind::NotATile},         {29'281, TileKind::NotATile},
      {29'282, TileKind::Srtm30},      {29'283, TileKind::NotATile},
      {2'884'801, TileKind::NotATile}, {2'884'802, TileKind::Srtm3},
      {2'884'803, TileKind::NotATile}, {25'934'402, TileKind::Srtm1},
      {25'934'403, TileKind::NotATile}};
  for (const auto& [size, kind] : sizes) {
    // An SRTM-3 or SRTM-30 file in the SRTM-1 folder, under a name that is no tile name.
    const auto file = dir.Path() / "SRTM_1" / ("any" + std::to_string(size) + ".bin");
    std::ofstream(file).close();
    std::filesystem::resize_file(file, size);
    EXPECT_EQ(TileKindOfFile(file.string()), kind) << size;
  }
}

TEST(TileKindOfFile, RaisesTheOpenErrorForAMissingFileOrAFolder) {
  const test::TempDir dir;
  const std::string missing = dir.Root() + "N45W122.hgt";
  try {
    TileKindOfFile(missing);
    ADD_FAILURE() << "no error for a missing file";
  } catch (const FileError& error) {
    EXPECT_EQ(std::string(error.what()),
              "Cannot open file \"" + missing + "\". No such file or directory");
  }
  EXPECT_THROW(TileKindOfFile(dir.Path().string()), FileError);
}

TEST(TileKindOfFile, RefusesAPipeOrDeviceWithoutWaitingOnIt) {
  const test::TempDir dir;
  const std::string pipePath = dir.Root() + "N45E006.hgt";
  const test::PipeAtPath pipe(pipePath);
  for (const std::string& name : {pipePath, std::string("/dev/zero")}) {
    try {
      TileKindOfFile(name);
      ADD_FAILURE() << "no error for " << name;
    } catch (const FileError& error) {
      EXPECT_EQ(std::string(error.what()), "Cannot open file \"" + name + "\". Not a regular file");
    }
    TSRTM tile;
    EXPECT_THROW(tile.LoadFromFile(name, 6, 45), FileError);
    EXPECT_EQ(tile.Kind(), TileKind::NotATile);
  }
  EXPECT_EQ(pipe.Released(), 0) << "the pipe was opened";
}

TEST(TileIndex, TakesTheDegreeBelowAndOneLessForNegativeBounds) {
  EXPECT_EQ(TileIndex(-5.5L), -6);
  EXPECT_EQ(TileIndex(-5.0L), -6);
  EXPECT_EQ(TileIndex(-0.25L), -1);
  EXPECT_EQ(TileIndex(0.0L), 0);
  EXPECT_EQ(TileIndex(5.0L), 5);
  EXPECT_EQ(TileIndex(5.5L), 5);
  EXPECT_EQ(TileIndex(179.999L), 179);
  EXPECT_EQ(TileIndex(1e30L), 1'000'000'000);
  EXPECT_EQ(TileIndex(NAN), 0);
}

TEST(ForEachTile, WalksWestToEastOutsideAndSouthToNorthInside) {
  const TileRange range = TileRangeOf(-1.5L, 0.5L, 44.2L, 45.9L);
  EXPECT_EQ(range.West, -2);
  EXPECT_EQ(range.East, 0);
  EXPECT_EQ(range.South, 44);
  EXPECT_EQ(range.North, 45);
  EXPECT_EQ(range.Count(), 6U);
  std::vector<std::pair<int, int>> visited;
  ForEachTile(range, [&](std::int32_t lon, std::int32_t lat) { visited.emplace_back(lon, lat); });
  const std::vector<std::pair<int, int>> expected = {{-2, 44}, {-2, 45}, {-1, 44},
                                                     {-1, 45}, {0, 44},  {0, 45}};
  EXPECT_EQ(visited, expected);
}

}  // namespace
}  // namespace orolith
