// The map's geography and places, as built into the program and as read from damaged bytes.

#include "preview/GeoLayers.h"
#include "preview/PackedData.h"
#include "preview/Places.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

namespace orolith {
namespace {

TEST(GeoLayers, EveryKindIsThereAndALevelWithoutAKindFallsBackToACoarserOne) {
  const GeoLayers& layers = GeoLayers::Builtin();
  for (const GeoKind kind : {GeoKind::SeaShore, GeoKind::LakeShore, GeoKind::Border}) {
    for (int level = 1; level < GeoLevelCount; ++level) {
      EXPECT_GE(layers.LineCount(kind, level), layers.LineCount(kind, level - 1))
          << "finer levels have more lines " << static_cast<int>(kind) << " " << level;
    }
  }
  // Only the borders have the finest level; shores and rivers stand in from the one before.
  EXPECT_EQ(layers.LineCount(GeoKind::SeaShore, 3), layers.LineCount(GeoKind::SeaShore, 2));
  EXPECT_GT(layers.LineCount(GeoKind::Border, 3), layers.LineCount(GeoKind::Border, 2));
  EXPECT_GT(layers.LineCount(GeoKind::River, 1), 0U);
}

TEST(GeoLayers, ALineIsVisitedWhereItLiesAndNowhereElse) {
  const GeoLayers& layers = GeoLayers::Builtin();
  const auto count = [&](GeoKind kind, const GeoBox& box) {
    std::size_t lines = 0;
    layers.ForEachLine(kind, 2, box, [&](std::span<const GeoVertex> line) {
      GeoBox bounds{180, -180, 90, -90};
      for (const GeoVertex& v : line) {
        bounds = {std::min<double>(bounds.West, v.Lon), std::max<double>(bounds.East, v.Lon),
                  std::min<double>(bounds.South, v.Lat), std::max<double>(bounds.North, v.Lat)};
      }
      EXPECT_TRUE(Meets(bounds, box));
      ++lines;
    });
    return lines;
  };
  const GeoBox lakeGeneva{6.1, 6.9, 46.2, 46.6};
  const GeoBox midAtlantic{-40, -39, 30, 31};
  EXPECT_GT(count(GeoKind::LakeShore, lakeGeneva), 0U);
  EXPECT_GT(count(GeoKind::Border, lakeGeneva), 0U) << "France and Switzerland";
  EXPECT_EQ(count(GeoKind::SeaShore, lakeGeneva), 0U);
  EXPECT_EQ(count(GeoKind::SeaShore, midAtlantic), 0U);
  EXPECT_GT(count(GeoKind::SeaShore, {-10, 0, 36, 44}), 0U) << "Iberia's coast";
}

TEST(GeoLayers, TheLevelFollowsTheScale) {
  const struct {
    double scale;
    int level;
  } cases[] = {{1.5, 0}, {6.4, 0}, {6.5, 1}, {32, 1}, {33, 2}, {159, 2}, {160, 3}, {1e5, 3}};
  for (const auto& c : cases) EXPECT_EQ(GeoLayers::LevelFor(c.scale), c.level) << c.scale;
}

TEST(MapData, DamagedFilesAreRefusedWithTheirName) {
  const std::span<const unsigned char> geography = BuiltinGeography();
  const std::span<const unsigned char> places = BuiltinPlaces();
  const std::vector<unsigned char> cut(geography.begin(), geography.begin() + 1000);
  EXPECT_THROW(GeoLayers{cut}, std::runtime_error);
  try {
    const GeoLayers wrongKind{places};
    ADD_FAILURE() << "places read as geography";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "map geography: not a file of this kind");
  }
  // A payload that ends in the middle of a place: its size and bytes agree, its content not.
  std::vector<unsigned char> payload = UnpackMapFile(places, "OROPLC1\n", "test");
  payload.resize(100);
  try {
    PayloadReader in(payload, "map places");
    for (;;) in.Text();
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "map places: the data end early");
  }
}

TEST(Places, SearchFormDropsCaseAccentsAndLigatures) {
  const struct {
    const char* name;
    const char* form;
  } cases[] = {
      {"Zürich", "zurich"},
      {"ZURICH", "zurich"},
      {"Straße", "strasse"},
      {"Łódź", "lodz"},
      {"Ærøskøbing", "aeroskobing"},
      {"Mount Rainier", "mount rainier"},
      {"Köln × 2", "koln × 2"},
      {"Москва", "Москва"},
      {"\xC3", "\xC3"},  // a cut sequence stays as it is
  };
  for (const auto& c : cases) EXPECT_EQ(SearchForm(c.name), c.form) << c.name;
}

TEST(Places, MatchesRankByHowTheyMatchThenByImportance) {
  const auto place = [](const char* name, std::uint32_t number, PlaceKind kind) {
    return Place{name, "XX", kind, number, 0, 0};
  };
  const Places places(std::vector<Place>{
      place("Saint-Martin-de-Rainier", 90000, PlaceKind::Populated),
      place("Rainierville", 2000, PlaceKind::Populated),
      place("Mount Rainier", 8000, PlaceKind::Populated),
      place("Mount Rainier", 4392, PlaceKind::Peak),
      place("Rainier", 1500, PlaceKind::Populated),
      place("Rain", 500000, PlaceKind::Populated),
      place("Brainier", 900000, PlaceKind::Populated),
  });
  std::vector<std::string> found;
  for (const Place* p : places.Find("RAINIER", 10)) found.push_back(p->Name);
  // Equal name, then names beginning so, then words beginning so, the peak before the larger
  // town; "Brainier" not at all.
  EXPECT_EQ(found, (std::vector<std::string>{"Rainier", "Rainierville", "Mount Rainier",
                                             "Saint-Martin-de-Rainier", "Mount Rainier"}));
  const std::vector<const Place*> mount = places.Find("mount rain", 1);
  ASSERT_EQ(mount.size(), 1U);
  EXPECT_EQ(mount.front()->Kind, PlaceKind::Peak) << "4392 m count as 439,200 people";
  EXPECT_TRUE(places.Find("  ", 5).empty());
  EXPECT_EQ(places.Find("rain", 2).size(), 2U);
}

TEST(Places, TheBuiltInPlacesHoldTownsAndPeaksWhereTheyAre) {
  const struct {
    const char* query;
    const char* country;
    double lat;
    double lon;
    PlaceKind kind;
  } cases[] = {
      {"Zermatt", "CH", 46.02, 7.75, PlaceKind::Populated},
      {"innsbruck", "AT", 47.26, 11.39, PlaceKind::Populated},
      {"Mount Rainier", "US", 46.85, -121.76, PlaceKind::Peak},
      {"zurich", "CH", 47.37, 8.55, PlaceKind::Populated},
  };
  for (const auto& c : cases) {
    const std::vector<const Place*> found = Places::Builtin().Find(c.query, 1);
    ASSERT_EQ(found.size(), 1U) << c.query;
    EXPECT_EQ(found.front()->Country, c.country);
    EXPECT_NEAR(found.front()->Lat, c.lat, 0.01) << c.query;
    EXPECT_NEAR(found.front()->Lon, c.lon, 0.01) << c.query;
    EXPECT_EQ(found.front()->Kind, c.kind);
  }
  EXPECT_GT(Places::Builtin().Size(), 100000U);
}

TEST(Places, ALineNamesThePlaceAndWhatItIs) {
  EXPECT_EQ(PlaceLine({"Zermatt", "CH", PlaceKind::Populated, 6629, 7.7486, 46.02}, ','),
            "Zermatt\tCH\t46,0200\t7,7486\tpopulation 6629");
  EXPECT_EQ(PlaceLine({"Pico", "", PlaceKind::Peak, 2351, -28.3987, 38.4685}, '.'),
            "Pico\t-\t38.4685\t-28.3987\tpeak 2351 m");
}

}  // namespace
}  // namespace orolith
