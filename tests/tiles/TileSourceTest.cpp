#include "base/Errors.h"
#include "support/DataRoot.h"
#include "support/LongPaths.h"
#include "support/TempFiles.h"
#include "tiles/TileSource.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace orolith {
namespace {

TEST(DataFolders, EndInOneSeparatorAndNameTheThreeTileFolders) {
  const DataFolders work = MakeDataFolders("/home/u/Work");
  EXPECT_EQ(work.DataRoot, "/home/u/Work/");
  EXPECT_EQ(work.Srtm1Dir, "/home/u/Work/SRTM_1/");
  EXPECT_EQ(work.Srtm3Dir, "/home/u/Work/SRTM_3/");
  EXPECT_EQ(work.Srtm30Dir, "/home/u/Work/SRTM_30/");
  EXPECT_EQ(MakeDataFolders("/maps/").DataRoot, "/maps/");
  EXPECT_EQ(MakeDataFolders("/").Srtm1Dir, "/SRTM_1/");
}

TEST(FindTileSource, TakesTheFirstUnblockedFolderThatHoldsTheName) {
  const test::DataRoot root;
  const DataFolders folders = root.Folders();
  // Any size will do; a folder of that name is no tile.
  test::WriteBytes(root.Path() / "SRTM_3" / "N46E007.hgt", {1});
  test::WriteBytes(root.Path() / "SRTM_30" / "N46E007.hgt", {});
  std::filesystem::create_directories(root.Path() / "SRTM_1" / "N46E007.hgt");

  const auto found = FindTileSource(folders, "N46E007.hgt", {});
  ASSERT_TRUE(found);
  EXPECT_EQ(found->Folder, TileKind::Srtm3);
  EXPECT_EQ(found->Path, folders.Srtm3Dir + "N46E007.hgt");

  const auto past3 = FindTileSource(folders, "N46E007.hgt", {.Srtm3 = true});
  ASSERT_TRUE(past3);
  EXPECT_EQ(past3->Folder, TileKind::Srtm30);
  EXPECT_FALSE(FindTileSource(folders, "N46E007.hgt", {.Srtm3 = true, .Srtm30 = true}));
  EXPECT_FALSE(FindTileSource(folders, "N47E007.hgt", {}));
}

// A tile whose path the system can't take is no missing tile: the search can't tell.
TEST(FindTileSource, APathTooLongToLookUpIsAnErrorNotAMissingTile) {
  const test::TempDir base;
  const test::DeepFolder root(base.Path(), test::DataRootTooLongForTiles);
  root.MakeFolder("SRTM_1");
  root.WriteFile("SRTM_1/N46E007.hgt", "tile");
  const DataFolders folders = MakeDataFolders(root.Path());
  // The folders themselves can still be looked at.
  EXPECT_TRUE(UnreadableFolders(folders, {}).empty());
  for (const TileBlocks blocks : {TileBlocks{}, TileBlocks{.Srtm1 = true}}) {
    const std::string path = (blocks.Srtm1 ? folders.Srtm3Dir : folders.Srtm1Dir) + "N46E007.hgt";
    try {
      FindTileSource(folders, "N46E007.hgt", blocks);
      ADD_FAILURE() << "no error";
    } catch (const FileError& e) {
      EXPECT_EQ(e.what(), "Cannot open file \"" + path + "\". File name too long");
    }
  }
  EXPECT_FALSE(FindTileSource(folders, "N46E007.hgt", {true, true, true}));
}

}  // namespace
}  // namespace orolith
