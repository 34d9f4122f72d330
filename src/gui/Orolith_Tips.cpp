#include "gui/Orolith_Main.h"

#include "gui/FloatSpin.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>

#include <utility>
#include <vector>

namespace orolith {

void TForm4::SetToolTips() {
  // Examples with decimals use the separator the fields read.
  const QChar point = QLatin1Char(DecimalSeparator());
  const auto number = [point](const char* text) {
    return QString::fromLatin1(text).replace(QLatin1Char('.'), point);
  };
  const QString longitude =
      QStringLiteral(
          "Longitude of the region's west or east side, in degrees (east positive), "
          "-180 to 180; e.g. %1 and %2. The two may come in either order.")
          .arg(number("7.55"), number("7.80"));
  const QString latitude =
      QStringLiteral(
          "Latitude of the region's south or north side, in degrees (north positive), "
          "-90 to 90; e.g. %1 and %2. SRTM ends at 60 N.")
          .arg(number("45.90"), number("46.05"));
  const QString elevation = QStringLiteral(
      "Elevation band in metres, 0 to 10000; e.g. 1500 and 4500. Lower ground sits on the "
      "pedestal, higher ground is cut flat at the top of the model.");
  const std::vector<std::pair<QWidget*, QString>> tips{
      {Long1Ctl, longitude},
      {Long2Ctl, longitude},
      {Lat1Ctl, latitude},
      {Lat2Ctl, latitude},
      {Z1Ctl, elevation},
      {Z2Ctl, elevation},
      {XSizeCtl, QStringLiteral("Size of the model from west to east, in millimetres (the "
                                "model's units), 1 to 10000; e.g. 150. The north-south size "
                                "follows from the region.")},
      {ZSizeCtl, QStringLiteral("Height of the model in millimetres, from its base (z = 0) to "
                                "the top of the elevation band, pedestal included; %1 to "
                                "1000, e.g. 30.")
                     .arg(number("0.01"))},
      {ZBaseCtl, QStringLiteral("Height of the pedestal under the lowest ground, in percent of "
                                "the Z extent, 0 to 100; e.g. 10 (3 mm of a 30 mm Z extent).")},
      {XY_ResolutionCtl,
       QStringLiteral("Ground size of one model cell in metres, 15 to 100000; e.g. 30 for SRTM-1 "
                      "and Copernicus tiles, 90 for SRTM-3. Each cell makes two to four faces: "
                      "\"Test for SRTM Files\" estimates the file's size.")},
      {MaxErrorCtl, QStringLiteral("Adaptive surface: the largest height error allowed, in "
                                   "metres of ground, 0 to 1000; e.g. 2. 0 keeps the regular "
                                   "grid, two faces a cell.")},
      {SaveFilenameCtl, QStringLiteral("Name of the model file: binary STL, or a 3MF package "
                                       "when it ends in .3mf; e.g. matterhorn.3mf. A name "
                                       "without a folder goes to the working folder.")},
      {Button4, QStringLiteral("Choose the model file's folder and name.")},
      {BlockSRTM1Ctl, QStringLiteral("Leave the folder SRTM_1 (SRTM-1 tiles, about 30 m) out "
                                     "of the tile search.")},
      {BlockSRTM3Ctl, QStringLiteral("Leave the folder SRTM_3 (SRTM-3 tiles, about 90 m) out "
                                     "of the tile search.")},
      {BlockSRTM30Ctl, QStringLiteral("Leave the folder SRTM_30 (SRTM-30 tiles, about 900 m) "
                                      "out of the tile search.")},
      {BlockCOP30Ctl, QStringLiteral("Leave the folder COP30 (Copernicus GLO-30 tiles, about "
                                     "30 m) out of the tile search.")},
      {MissedDataCtl, QStringLiteral("A tile found in no folder becomes flat ground at 0 m "
                                     "instead of a hole in the model.")},
      {SolidCtl, QStringLiteral("Close the surface into a solid for printing: walls on the four "
                                "sides and a flat bottom.")},
      {FloorCtl, QStringLiteral("Thickness of the solid's bottom under its base, in percent of "
                                "the Z extent, 1 to 100; e.g. 5 (%1 mm of a 30 mm Z extent).")
                     .arg(number("1.5"))},
      {FileTestCtl, QStringLiteral("Lists the tiles the region needs and where they are, and "
                                   "estimates the model's size. Reads no tile.")},
      {GetSRTM1Ctl, QStringLiteral("Downloads the region's missing SRTM-1 tiles from the tile "
                                   "source below into SRTM_1 (Copernicus: into COP30).")},
      {GetSRTM3Ctl, QStringLiteral("Downloads the region's missing SRTM-3 tiles from the SRTM "
                                   "version 2.1 archive into SRTM_3.")},
      {TileSourceCtl, QStringLiteral("Where \"Download SRTM-1 files\" fetches from: the retired "
                                     "SRTM version 2.1 archive, the ESA or AWS mirror of SRTM-1, "
                                     "or the Copernicus GLO-30 bucket.")},
      {CreateStlCtl, QStringLiteral("Makes the model of the region and saves it under the file "
                                    "name. Stop or Escape ends it; an older file of that name "
                                    "then stays as it was.")},
      {Label6, QStringLiteral("The address \"Download SRTM-1 files\" fetches from.")},
      {DemFileCtl, QStringLiteral("Your own raster (a GeoTIFF, an ASCII grid, any file GDAL "
                                  "reads) in place of the tile folders; e.g. /maps/lidar.tif. "
                                  "Empty: the tile folders.")},
      {SelectDemCtl, QStringLiteral("Choose the raster file.")},
      {SelectDataRootCtl, QStringLiteral("Choose another data root; the tile folders and the "
                                         "map follow it.")},
      {RememberCtl, QStringLiteral("Keep every field, box and choice and the data root chosen "
                                   "here for the next start (as Remember=yes on the command "
                                   "line); keys on the command line still come first.")},
      {ProgressCtl, QStringLiteral("How far the running operation has come.")},
      {StopCtl, QStringLiteral("Stops the running operation (Escape does the same). A model "
                               "stopped leaves no file; an older one of its name stays.")},
  };
  for (const auto& [control, tip] : tips) control->setToolTip(tip);
}

}  // namespace orolith
