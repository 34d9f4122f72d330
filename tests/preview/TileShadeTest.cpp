#include "preview/TileShade.h"

#include "base/Errors.h"
#include "preview/ShadeCache.h"
#include "support/DataRoot.h"
#include "support/Rasters.h"
#include "support/TempFiles.h"
#include "support/Tiles.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace orolith {
namespace {

using test::TempDir;

constexpr int Srtm30Side = 121;

// Each sample tells where it lies: 200 a row from the south, 1 a column from the west.
int Where(int row, int column) {
  return row * 200 + column;
}

TEST(ReducedTile, KeepsEvenlySpacedSamplesWithTheEdgesNorthFirst) {
  TempDir dir;
  const std::string file = (dir.Path() / "N10E010.hgt").string();
  test::WriteTile(file, Srtm30Side, Where);
  const struct {
    int side;
    std::vector<int> kept;  // rows from the north and columns from the west
  } cases[] = {
      {2, {0, 120}},
      {4, {0, 40, 80, 120}},
      {5, {0, 30, 60, 90, 120}},
      {9, {0, 15, 30, 45, 60, 75, 90, 105, 120}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.side);
    const ReducedTile tile = ReadReducedTile(file, c.side);
    ASSERT_EQ(tile.Side, c.side);
    ASSERT_EQ(tile.Samples.size(), c.kept.size() * c.kept.size());
    for (std::size_t i = 0; i < c.kept.size(); ++i) {
      for (std::size_t j = 0; j < c.kept.size(); ++j) {
        EXPECT_EQ(tile.At(static_cast<int>(i), static_cast<int>(j)),
                  Where(120 - c.kept[i], c.kept[j]));
      }
    }
  }
  // More than the tile has: the tile itself.
  const ReducedTile whole = ReadReducedTile(file, 500);
  ASSERT_EQ(whole.Side, Srtm30Side);
  EXPECT_EQ(whole.At(0, 0), Where(120, 0));
  EXPECT_EQ(whole.At(120, 7), Where(0, 7));
}

TEST(ReducedTile, AgreesWithTheTileLoaderOnARealTile) {
  OROLITH_REQUIRE_SHARED_DATA("SRTM_3/N44W072.hgt");
  const std::string file = test::SharedData("SRTM_3/N44W072.hgt");
  TSRTM loaded;
  loaded.LoadFromFile(file, -72, 44);
  // 1200 intervals in 60 steps of 20 samples.
  const ReducedTile tile = ReadReducedTile(file, 61);
  ASSERT_EQ(tile.Side, 61);
  for (int i = 0; i < 61; ++i) {
    for (int j = 0; j < 61; ++j) {
      ASSERT_EQ(tile.At(i, j), loaded.Sample(1200 - 20 * i, 20 * j)) << i << "," << j;
    }
  }
}

TEST(ReducedTile, WhatIsNoTileIsRefused) {
  TempDir dir;
  const std::filesystem::path empty = dir.Path() / "empty.hgt";
  test::WriteBytes(empty, {});
  const std::filesystem::path odd = dir.Path() / "odd.hgt";
  test::WriteBytes(odd, std::vector<unsigned char>(1000, 7));
  const struct {
    std::filesystem::path file;
    const char* reason;
  } cases[] = {
      {empty, "The file has no tile's size"},
      {odd, "The file has no tile's size"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file.string());
    try {
      ReadReducedTile(c.file.string(), 17);
      ADD_FAILURE() << "read";
    } catch (const FileError& error) {
      const std::string text = error.what();
      EXPECT_NE(text.find(c.file.string()), std::string::npos) << text;
      EXPECT_NE(text.find(c.reason), std::string::npos) << text;
    }
  }
}

ReducedTile TileOf(int side, const std::function<int(int, int)>& northRowColumn) {
  ReducedTile tile;
  tile.Side = side;
  for (int r = 0; r < side; ++r) {
    for (int c = 0; c < side; ++c)
      tile.Samples.push_back(static_cast<std::int16_t>(northRowColumn(r, c)));
  }
  return tile;
}

int Brightness(std::uint32_t pixel) {
  return static_cast<int>(((pixel >> 16) & 0xFF) + ((pixel >> 8) & 0xFF) + (pixel & 0xFF));
}

TEST(ShadeTile, FlatGroundIsEvenlyLitAndSlopesFacingTheLightAreBrighter) {
  const std::uint32_t tint = LookOf(TileCoverage::Srtm1).Tint;  // 156, 224, 160
  const TileShade flat = ShadeTile(TileOf(33, [](int, int) { return 500; }), tint);
  ASSERT_EQ(flat.Side, 33);
  ASSERT_EQ(flat.Pixels.size(), 33U * 33U);
  // Lit from 45 degrees up: 0.22 + 0.78 * cos 45 of the tint.
  const std::uint32_t even = 0xFF000000U | 120U << 16 | 173U << 8 | 123U;
  for (const std::uint32_t pixel : flat.Pixels) ASSERT_EQ(pixel, even);

  // Rising to the south-east faces the north-west, where the light comes from.
  const TileShade towardsLight =
      ShadeTile(TileOf(33, [](int r, int c) { return 40 * (r + c); }), tint);
  const TileShade awayFromLight =
      ShadeTile(TileOf(33, [](int r, int c) { return 40 * (64 - r - c); }), tint);
  EXPECT_GT(Brightness(towardsLight.Pixels[16 * 33 + 16]), Brightness(even));
  EXPECT_LT(Brightness(awayFromLight.Pixels[16 * 33 + 16]), Brightness(even));
  for (const std::uint32_t pixel : awayFromLight.Pixels) EXPECT_EQ(pixel >> 24, 0xFFU);
}

TEST(ShadeTile, VoidsAreShadedAsTheGroundBesideThem) {
  const std::uint32_t tint = LookOf(TileCoverage::Srtm3).Tint;
  const TileShade flat = ShadeTile(TileOf(17, [](int, int) { return 300; }), tint);
  const TileShade holed = ShadeTile(
      TileOf(17, [](int r, int c) { return (r > 4 && r < 9 && c > 2 && c < 12) ? -32768 : 300; }),
      tint);
  EXPECT_EQ(holed.Pixels, flat.Pixels);
}

TEST(ShadeTile, ARealTileShowsHundredsOfShades) {
  OROLITH_REQUIRE_SHARED_DATA("SRTM_3/N44W072.hgt");
  const TileShade shade = ShadeTile(ReadReducedTile(test::SharedData("SRTM_3/N44W072.hgt"), 257),
                                    LookOf(TileCoverage::Srtm3).Tint);
  const std::set<std::uint32_t> colours(shade.Pixels.begin(), shade.Pixels.end());
  EXPECT_GE(colours.size(), 200U);
}

// A data root with tiles in each folder, one of them unreadable.
class TilePictureTest : public ::testing::Test {
 protected:
  TilePictureTest() {
    // Small SRTM-30 tiles stand in for every kind: the folder, not the size, tells the kind.
    Tile(folders_.Srtm1Dir + "N46E007.hgt", 100);
    Tile(folders_.Srtm3Dir + "N46E007.hgt", 200);
    Tile(folders_.Srtm3Dir + "N46E008.hgt", 300);
    Tile(folders_.Srtm30Dir + "N47E007.hgt", 400);
    test::WriteBytes(folders_.Srtm1Dir + "N45E007.hgt", {1, 2, 3});
    // Far north, where a Copernicus tile is narrow and quick to write.
    Tile(folders_.Srtm3Dir + "N85E007.hgt", 200);
    test::WriteCopernicusTile(folders_.Cop30Dir, 7, 85, [](double, double) { return 500.0; });
  }

  static void Tile(const std::string& file, int height) {
    test::WriteTile(file, Srtm30Side, [height](int, int) { return height; });
  }

  test::DataRoot dir_{true};
  DataFolders folders_ = dir_.Folders();
  ShadeCache cache_{std::size_t{16} << 20};
};

TEST_F(TilePictureTest, EachTileIsTintedAsTheCoverageCheckFindsIt) {
  const TileBlocks none;
  const TileBlocks noSrtm1{true, false, false};
  const TileBlocks all{true, true, true};
  const TileBlocks noCop30{false, false, false, true};
  const struct {
    std::int32_t lon;
    std::int32_t lat;
    TileBlocks blocked;
    TileCoverage coverage;
    std::string path;
  } cases[] = {
      {7, 46, none, TileCoverage::Srtm1, folders_.Srtm1Dir + "N46E007.hgt"},
      {7, 46, noSrtm1, TileCoverage::Srtm3, folders_.Srtm3Dir + "N46E007.hgt"},
      {8, 46, none, TileCoverage::Srtm3, folders_.Srtm3Dir + "N46E008.hgt"},
      {7, 47, none, TileCoverage::Srtm30, folders_.Srtm30Dir + "N47E007.hgt"},
      {7, 47, all, TileCoverage::Missing, ""},
      {8, 47, none, TileCoverage::Missing, ""},
      // Found, but unreadable: missing on the map.
      {7, 45, none, TileCoverage::Missing, folders_.Srtm1Dir + "N45E007.hgt"},
      {7, 85, none, TileCoverage::Cop30, folders_.Cop30Dir + CopernicusTileName(7, 85)},
      {7, 85, noCop30, TileCoverage::Srtm3, folders_.Srtm3Dir + "N85E007.hgt"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const TilePicture picture = PictureOfTile(folders_, c.blocked, c.lon, c.lat, 17, cache_);
    EXPECT_EQ(picture.Coverage, c.coverage);
    EXPECT_EQ(picture.Path, c.path);
    ASSERT_EQ(picture.Shade != nullptr, c.coverage != TileCoverage::Missing);
    if (!picture.Shade) continue;
    ASSERT_EQ(picture.Shade->Side, 17);
    // Flat ground: the tint, evenly darkened.
    const std::uint32_t pixel = picture.Shade->Pixels[0];
    const std::uint32_t tint = LookOf(c.coverage).Tint;
    for (const int shift : {16, 8, 0}) {
      const double ratio = static_cast<double>((pixel >> shift) & 0xFF) / ((tint >> shift) & 0xFF);
      EXPECT_NEAR(ratio, 0.7715, 0.01) << shift;
    }
  }
}

TEST_F(TilePictureTest, TheCacheKeepsAPictureUntilItsFileChanges) {
  const TilePicture first = PictureOfTile(folders_, {}, 8, 46, 17, cache_);
  const TilePicture again = PictureOfTile(folders_, {}, 8, 46, 17, cache_);
  ASSERT_NE(first.Shade, nullptr);
  EXPECT_EQ(again.Shade, first.Shade) << "read twice";
  EXPECT_EQ(cache_.Count(), 1U);
  const TilePicture finer = PictureOfTile(folders_, {}, 8, 46, 33, cache_);
  EXPECT_EQ(finer.Shade->Side, 33);
  EXPECT_EQ(cache_.Count(), 2U);

  // A download lands: a new file under the same name, with another time.
  const std::string file = folders_.Srtm3Dir + "N46E008.hgt";
  test::WriteTile(file, Srtm30Side, [](int row, int) { return 10 * row; });
  std::filesystem::last_write_time(
      file, std::filesystem::last_write_time(file) + std::chrono::seconds(5));
  const TilePicture landed = PictureOfTile(folders_, {}, 8, 46, 17, cache_);
  ASSERT_NE(landed.Shade, nullptr);
  EXPECT_NE(landed.Shade, first.Shade);
  EXPECT_NE(landed.Shade->Pixels, first.Shade->Pixels);
}

TEST(ShadeCache, KeepsTheMostRecentlyUsedWithinItsBudget) {
  const auto picture = [](std::uint32_t colour) {
    auto shade = std::make_shared<TileShade>();
    shade->Side = 16;
    shade->Pixels.assign(256, colour);  // 1 KB
    return std::shared_ptr<const TileShade>(std::move(shade));
  };
  const auto key = [](const char* path) { return ShadeKey{path, 1, 2, 16}; };
  ShadeCache cache(3 * 1024);
  cache.Insert(key("a"), picture(1));
  cache.Insert(key("b"), picture(2));
  cache.Insert(key("c"), picture(3));
  ASSERT_NE(cache.Find(key("a")), nullptr);  // a is used again, b is now the oldest
  cache.Insert(key("d"), picture(4));
  EXPECT_EQ(cache.Find(key("b")), nullptr);
  for (const char* kept : {"a", "c", "d"}) EXPECT_NE(cache.Find(key(kept)), nullptr) << kept;
  EXPECT_EQ(cache.Bytes(), 3U * 1024U);

  // The same file at another time or size is another picture.
  EXPECT_EQ(cache.Find(ShadeKey{"a", 2, 2, 16}), nullptr);
  EXPECT_EQ(cache.Find(ShadeKey{"a", 1, 3, 16}), nullptr);
  // A picture larger than the budget is not kept, and drives nothing out.
  auto huge = std::make_shared<TileShade>();
  huge->Pixels.assign(4096, 0);
  cache.Insert(key("huge"), std::move(huge));
  EXPECT_EQ(cache.Find(key("huge")), nullptr);
  EXPECT_EQ(cache.Count(), 3U);
}

TEST(ShadeCache, AKeyIsAPlainFileWithItsTimeAndSize) {
  TempDir dir;
  const std::filesystem::path file = dir.Path() / "t.hgt";
  test::WriteBytes(file, {1, 2, 3, 4, 5});
  const std::optional<ShadeKey> key = ShadeKeyOf(file.string(), 33);
  ASSERT_TRUE(key.has_value());
  EXPECT_EQ(key->Size, 5U);
  EXPECT_EQ(key->Side, 33);
  EXPECT_EQ(key->Path, file.string());
  EXPECT_FALSE(ShadeKeyOf((dir.Path() / "absent").string(), 33).has_value());
  EXPECT_FALSE(ShadeKeyOf(dir.Path().string(), 33).has_value());
}

}  // namespace
}  // namespace orolith
