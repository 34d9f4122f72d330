#pragma once

#include "frontpanel/ModelSettings.h"
#include "support/TempFiles.h"
#include "support/Tiles.h"
#include "tiles/TileSource.h"

#include <filesystem>
#include <functional>
#include <string>

namespace orolith::test {

// A fresh data root with the SRTM tile folders (and COP30 when asked for), removed with
// everything in it.
class DataRoot : public TempDir {
 public:
  explicit DataRoot(bool copernicus = false) {
    for (const char* folder : {"SRTM_1", "SRTM_3", "SRTM_30"}) {
      std::filesystem::create_directory(Path() / folder);
    }
    if (copernicus) std::filesystem::create_directory(Path() / "COP30");
  }

  DataFolders Folders() const { return MakeDataFolders(Root()); }

  // A tile at relative ("SRTM_30/N46E007.hgt") through the program's own encoder.
  void Tile(const std::string& relative, int side,
            const std::function<int(int row, int column)>& sample) const {
    WriteTile(Path() / relative, side, sample);
  }

  // A real tile of the shared data at relative, under any name: a stand-in for a neighbour the
  // shared data lacks.
  void SharedTile(const std::string& shared, const std::string& relative) const {
    std::filesystem::copy_file(SharedData(shared), Path() / relative);
  }
};

// The region's fields as typed: longitudes lon1 and lon2, latitudes lat1 and lat2.
inline void SetRegion(FrontPanelValues& panel, float lon1, float lon2, float lat1, float lat2) {
  panel.Long1 = lon1;
  panel.Long2 = lon2;
  panel.Lat1 = lat1;
  panel.Lat2 = lat2;
}

// A front panel of that region and pixel size, every other field at its initial value.
inline FrontPanelValues RegionPanel(float lon1, float lon2, float lat1, float lat2,
                                    float pixel = fields::XYPixelSize.Initial) {
  FrontPanelValues panel;
  SetRegion(panel, lon1, lon2, lat1, lat2);
  panel.XYPixelSize = pixel;
  return panel;
}

}  // namespace orolith::test
