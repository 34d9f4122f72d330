#pragma once

// What an open DemRaster holds, shared by its reader and its sampler. Private to the tiles
// library.

#include "tiles/DemRaster.h"
#include "tiles/GdalRaster.h"

#include <gdal_alg.h>

#include <array>
#include <memory>
#include <string>

namespace orolith {

struct GenImgTransformerDeleter {
  void operator()(void* t) const noexcept { GDALDestroyGenImgProjTransformer(t); }
};

struct DemRaster::State {
  gdal::Dataset dataset;
  DemDescription description;
  std::string geographicWkt;
  // Longitude and latitude to the raster's pixel and line, in its inverse direction.
  std::unique_ptr<void, GenImgTransformerDeleter> transformer;
  // Degrees between neighbouring pixels where the raster is geographic; 0 where it is not.
  double degreesX = 0;
  double degreesY = 0;
  // The raster's bounds in longitude and latitude, where GDAL could work them out.
  bool bounded = false;
  std::array<double, 4> bounds{};  // west, south, east, north
};

}  // namespace orolith
