#include "acquisition/MapTileCache.h"

#include "support/Scoped.h"
#include "support/TempFiles.h"
#include "support/TestServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace orolith {
namespace {

using namespace std::chrono_literals;

TEST(MapTileCache, FetchesATileOnceAWeekWithItsUserAgentAndKeepsItForOfflineUse) {
  const test::TestServer server;
  const test::TempDir source;
  const test::TempDir cache;
  test::WriteBytes(source.Path() / "tile.png", {'P', 'N', 'G', '1'});
  server.Serve("/tiles/11/1068/728.png", source.Path() / "tile.png");
  // The server answers only a request that names the program.
  MapTileCache tiles(server.Url("/agent/tiles/"), cache.Path(), "Orolith/1.0 (test)");
  const std::vector<char> png{'P', 'N', 'G', '1'};
  EXPECT_EQ(tiles.Get(11, 1068, 728), png);
  EXPECT_EQ(tiles.Get(11, 1068, 728), png);
  EXPECT_EQ(server.Requests().size(), 1U) << "the second came from the disk";
  const std::filesystem::path copy = cache.Path() / "11" / "1068" / "728.png";
  ASSERT_TRUE(std::filesystem::exists(copy));

  // A week later the tile is asked for again; when that fails, the old copy stands in.
  std::filesystem::last_write_time(copy, std::filesystem::file_time_type::clock::now() - 170h);
  std::filesystem::remove(server.Files() / "tiles" / "11" / "1068" / "728.png");
  EXPECT_EQ(tiles.Get(11, 1068, 728), png);
  EXPECT_EQ(server.Requests().size(), 2U);
  EXPECT_THROW(tiles.Get(11, 1068, 729), HttpError) << "no tile and no copy";

  MapTileCache anonymous(server.Url("/agent/tiles/"), cache.Path() / "other", "");
  try {
    anonymous.Get(11, 1068, 728);
    ADD_FAILURE() << "a request without a User-Agent was answered";
  } catch (const HttpError& e) {
    EXPECT_EQ(e.Status(), 403);
  }
}

TEST(MapTileCache, TheDefaultFolderIsInTheUsersCache) {
  const test::ScopedEnvironment cacheHome("XDG_CACHE_HOME", "/srv/cache");
  EXPECT_EQ(MapTileCache::DefaultFolder(), "/srv/cache/orolith/osm-tiles");
  const test::ScopedEnvironment relative("XDG_CACHE_HOME", "cache");
  const test::ScopedEnvironment home("HOME", "/home/ann");
  EXPECT_EQ(MapTileCache::DefaultFolder(), "/home/ann/.cache/orolith/osm-tiles");
}

}  // namespace
}  // namespace orolith
