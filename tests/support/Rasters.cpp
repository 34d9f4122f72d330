#include "support/Rasters.h"

namespace orolith::test {

void WriteRaster(const std::string& path, const NewRaster& raster,
                 const std::function<double(int, int)>& value) {
  GDALAllRegister();
  const bool copy = raster.Driver != "GTiff";
  GDALDriverH memory = GDALGetDriverByName("MEM");
  GDALDriverH gtiff = GDALGetDriverByName("GTiff");
  char** options = nullptr;
  for (const std::string& option : raster.Options) options = CSLAddString(options, option.c_str());
  GDALDatasetH ds =
      copy ? GDALCreate(memory, "", raster.Width, raster.Height, raster.Bands, GDT_Float32, nullptr)
           : GDALCreate(gtiff, path.c_str(), raster.Width, raster.Height, raster.Bands, GDT_Float32,
                        options);
  if (ds == nullptr) {
    CSLDestroy(options);
    throw std::runtime_error("cannot create " + path);
  }
  if (raster.Geo) GDALSetGeoTransform(ds, const_cast<double*>(raster.Geo->data()));
  if (!raster.Srs.empty()) {
    OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
    OSRSetFromUserInput(srs, raster.Srs.c_str());
    GDALSetSpatialRef(ds, srs);
    OSRDestroySpatialReference(srs);
  }
  std::vector<float> pixels(static_cast<std::size_t>(raster.Width) *
                            static_cast<std::size_t>(raster.Height));
  for (int y = 0; y < raster.Height; ++y) {
    for (int x = 0; x < raster.Width; ++x) {
      pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(raster.Width) +
             static_cast<std::size_t>(x)] = static_cast<float>(value(x, y));
    }
  }
  CPLErr written = CE_None;
  for (int b = 1; b <= raster.Bands; ++b) {
    GDALRasterBandH band = GDALGetRasterBand(ds, b);
    if (raster.NoData) GDALSetRasterNoDataValue(band, *raster.NoData);
    if (written == CE_None) {
      written = GDALRasterIO(band, GF_Write, 0, 0, raster.Width, raster.Height, pixels.data(),
                             raster.Width, raster.Height, GDT_Float32, 0, 0);
    }
  }
  if (copy && written == CE_None) {
    GDALDatasetH out = GDALCreateCopy(GDALGetDriverByName(raster.Driver.c_str()), path.c_str(), ds,
                                      FALSE, options, nullptr, nullptr);
    if (out == nullptr) written = CE_Failure;
    GDALClose(out);
  }
  GDALClose(ds);
  CSLDestroy(options);
  if (written != CE_None) throw std::runtime_error("cannot write " + path);
}

std::string WriteCopernicusTile(const std::string& folder, int lon, int lat,
                                const std::function<double(double, double)>& height,
                                const std::string& driver) {
  const std::string path = folder + CopernicusTileName(lon, lat);
  const int columns = CopernicusColumns(lat);
  WriteRaster(path,
              {.Width = columns,
               .Height = CopernicusRows,
               .Geo = CopernicusGeo(lon, lat),
               .Srs = "EPSG:4326",
               .Driver = driver,
               .Options = BucketLayout(driver)},
              [&](int x, int y) {
                return height(lon + static_cast<double>(x) / columns,
                              lat + 1 - static_cast<double>(y) / CopernicusRows);
              });
  return path;
}

std::string WriteGeographicRaster(const std::string& path, double west, double north,
                                  double spacing, int width, int height,
                                  const std::function<double(double, double)>& value) {
  constexpr double nodata = -9999;
  WriteRaster(path,
              {.Width = width,
               .Height = height,
               .Geo = std::array<double, 6>{west, spacing, 0, north, 0, -spacing},
               .Srs = "EPSG:4326",
               .NoData = nodata},
              [&](int x, int y) {
                const double h = value(west + (x + 0.5) * spacing, north - (y + 0.5) * spacing);
                return std::isnan(h) ? nodata : h;
              });
  return path;
}

}  // namespace orolith::test
