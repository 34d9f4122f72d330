#pragma once

// Rasters for the GDAL readers' tests, written with GDAL itself into the test's own folder.

#include "tiles/Copernicus.h"

#include <cpl_string.h>
#include <gdal.h>
#include <ogr_srs_api.h>

#include <array>
#include <cmath>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace orolith::test {

struct NewRaster {
  int Width = 0;
  int Height = 0;
  std::optional<std::array<double, 6>> Geo{};  // none: no georeferencing
  std::string Srs{};                           // WKT or "EPSG:n"; empty: none
  int Bands = 1;
  std::optional<double> NoData{};
  // GTiff writes the file directly; COG copies it, as the bucket's tiles were made.
  std::string Driver = "GTiff";
  std::vector<std::string> Options{};
};

// Deflate with the floating-point predictor in 1024-pixel blocks, as the bucket's tiles are.
inline std::vector<std::string> BucketLayout(const std::string& driver) {
  if (driver == "COG") return {"BLOCKSIZE=1024", "COMPRESS=DEFLATE", "PREDICTOR=YES"};
  return {"TILED=YES",        "BLOCKXSIZE=1024", "BLOCKYSIZE=1024",
          "COMPRESS=DEFLATE", "PREDICTOR=3",     "ZLEVEL=1"};
}

// Writes path with value(x, y) at pixel x of line y (line 0 north) in every band.
void WriteRaster(const std::string& path, const NewRaster& raster,
                 const std::function<double(int, int)>& value);

// The georeferencing the bucket gives the tile at lon, lat: the first pixel's centre on the
// north-west corner.
inline std::array<double, 6> CopernicusGeo(int lon, int lat) {
  const double dx = 1.0 / CopernicusColumns(lat);
  const double dy = 1.0 / CopernicusRows;
  return {lon - dx / 2, dx, 0, lat + 1 + dy / 2, 0, -dy};
}

// The Copernicus tile at lon, lat in folder, under the bucket's name, with height(lon, lat) at
// each pixel's centre; its path.
std::string WriteCopernicusTile(const std::string& folder, int lon, int lat,
                                const std::function<double(double, double)>& height,
                                const std::string& driver = "GTiff");

// A plane in UTM zone 20S, 30 m pixels, 1200 by 1000 of them: about 63.8 to 63.3 W, 45.4 to
// 45.7 S, inside the tile at 64 W, 46 S.
namespace utm20s {
inline constexpr double West = 440000;
inline constexpr double North = 4970000;
inline constexpr double Pixel = 30;
inline constexpr int Width = 1200;
inline constexpr int Height = 1000;

inline double UtmPlane(double easting, double northing) {
  return 200 + 0.02 * (easting - West) + 0.03 * (northing - (North - Height * Pixel));
}

// The plane as a GeoTIFF in folder; its path.
inline std::string WriteUtmPlane(const std::string& folder) {
  const std::string path = folder + "plane-utm20s.tif";
  WriteRaster(
      path,
      {.Width = Width,
       .Height = Height,
       .Geo = std::array<double, 6>{West, Pixel, 0, North, 0, -Pixel},
       .Srs = "EPSG:32720",
       .Options = {"TILED=YES", "COMPRESS=DEFLATE"}},
      [](int x, int y) { return UtmPlane(West + (x + 0.5) * Pixel, North - (y + 0.5) * Pixel); });
  return path;
}
}  // namespace utm20s

// Longitude and latitude to UTM (zone 20S unless told), for the checks.
class ToUtm {
 public:
  explicit ToUtm(int epsg = 32720) {
    OSRImportFromEPSG(geographic_, 4326);
    OSRSetAxisMappingStrategy(geographic_, OAMS_TRADITIONAL_GIS_ORDER);
    OSRImportFromEPSG(utm_, epsg);
    OSRSetAxisMappingStrategy(utm_, OAMS_TRADITIONAL_GIS_ORDER);
    transform_ = OCTNewCoordinateTransformation(geographic_, utm_);
  }
  ToUtm(const ToUtm&) = delete;
  ToUtm& operator=(const ToUtm&) = delete;
  ~ToUtm() {
    OCTDestroyCoordinateTransformation(transform_);
    OSRDestroySpatialReference(geographic_);
    OSRDestroySpatialReference(utm_);
  }
  bool operator()(double lon, double lat, double& easting, double& northing) const {
    easting = lon;
    northing = lat;
    return OCTTransform(transform_, 1, &easting, &northing, nullptr) != 0;
  }

 private:
  OGRSpatialReferenceH geographic_ = OSRNewSpatialReference(nullptr);
  OGRSpatialReferenceH utm_ = OSRNewSpatialReference(nullptr);
  OGRCoordinateTransformationH transform_ = nullptr;
};

// A geographic raster (WGS 84) from west, north, spacing degrees apart, with height(lon, lat) at
// each pixel's centre (NaN there: the nodata value); its path.
std::string WriteGeographicRaster(const std::string& path, double west, double north,
                                  double spacing, int width, int height,
                                  const std::function<double(double, double)>& value);

}  // namespace orolith::test
