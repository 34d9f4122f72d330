#pragma once

#include "frontpanel/DownloadSettings.h"
#include "tiles/SRTM.h"
#include "tiles/TileSource.h"

#include <utility>

namespace orolith {

// What a shell (the window, the command-line tool) keeps for the life of the program and hands
// to every operation: where the tiles lie, where they come from, the download folders that
// delivered last, and the one tile object.
struct Workspace {
  explicit Workspace(DataFolders folders, ArchiveSource source = {})
      : Folders(std::move(folders)), Source(std::move(source)) {}

  DataFolders Folders;
  ArchiveSource Source;
  DownloadFolders Remembered;
  TSRTM Tile;
};

}  // namespace orolith
