#include "tiles/DemRaster.h"

#include "base/Errors.h"
#include "base/Interrupt.h"
#include "tiles/DemRasterState.h"
#include "tiles/GdalBlocks.h"
#include "tiles/GdalRaster.h"

#include <cpl_conv.h>
#include <gdal_alg.h>
#include <gdal_utils.h>
#include <ogr_srs_api.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <numbers>
#include <type_traits>
#include <utility>
#include <vector>

namespace orolith {
namespace {

// Ground lengths of the target grid reckoned on the WGS 84 ellipsoid's equatorial radius.
constexpr double MetresPerDegree = 6378137.0 * std::numbers::pi / 180;
constexpr int MaxSamples = 3601;
constexpr int ShareLattice = 100;

struct SrsDeleter {
  void operator()(OGRSpatialReferenceH srs) const noexcept { OSRDestroySpatialReference(srs); }
};
using Srs = std::unique_ptr<std::remove_pointer_t<OGRSpatialReferenceH>, SrsDeleter>;

struct TransformationDeleter {
  void operator()(OGRCoordinateTransformationH t) const noexcept {
    OCTDestroyCoordinateTransformation(t);
  }
};

struct WarpOptionsDeleter {
  void operator()(GDALWarpAppOptions* o) const noexcept { GDALWarpAppOptionsFree(o); }
};

// WGS 84 longitude and latitude, in that order.
Srs Geographic() {
  Srs srs(OSRNewSpatialReference(nullptr));
  OSRImportFromEPSG(srs.get(), 4326);
  OSRSetAxisMappingStrategy(srs.get(), OAMS_TRADITIONAL_GIS_ORDER);
  return srs;
}

std::string Wkt(OGRSpatialReferenceH srs) {
  char* text = nullptr;
  OSRExportToWkt(srs, &text);
  std::string wkt = text != nullptr ? text : "";
  CPLFree(text);
  return wkt;
}

// Called by the warp between the lines it writes: a stop asked for ends it.
int CPL_STDCALL WarpGoesOn(double, const char*, void*) {
  return InterruptSignal() == 0 ? TRUE : FALSE;
}

// Samples along one degree at perDegree samples a degree, the edges included.
int SamplesPerDegree(double perDegree) {
  if (!(perDegree > 0)) return 2;
  return static_cast<int>(std::clamp(std::round(perDegree) + 1, 2.0, double{MaxSamples}));
}

}  // namespace

DemRaster::DemRaster(const std::string& fileName) : state_(std::make_unique<State>()) {
  State& s = *state_;
  s.dataset = gdal::OpenRaster(fileName, {});
  GDALDatasetH dataset = s.dataset.get();
  GDALRasterBandH band = gdal::SingleBand(dataset, fileName);
  // Nothing is read before the blocks are known to be of a size a reader holds, and all in the
  // file: a raster cut short is refused before anything is logged.
  gdal::CheckBlockSizes(band, fileName);
  VSIStatBufL file{};
  if (VSIStatL(fileName.c_str(), &file) == 0 && VSI_ISREG(file.st_mode)) {
    gdal::CheckBlocksInside(band, static_cast<std::uint64_t>(file.st_size), fileName);
  }
  s.description.Name = fileName;
  s.description.Width = GDALGetRasterXSize(dataset);
  s.description.Height = GDALGetRasterYSize(dataset);

  gdal::ErrorCapture capture;
  std::array<double, 6> geo{};
  const bool transformed = GDALGetGeoTransform(dataset, geo.data()) == CE_None;
  if (!transformed && GDALGetGCPCount(dataset) == 0) {
    throw CannotOpenFile(fileName, "The raster has no georeferencing");
  }
  OGRSpatialReferenceH srs =
      transformed ? GDALGetSpatialRef(dataset) : GDALGetGCPSpatialRef(dataset);
  if (srs == nullptr) throw CannotOpenFile(fileName, "The raster has no coordinate system");
  const Srs geographic = Geographic();
  const std::string cannot =
      "GDAL can't transform the raster's coordinate system to geographic coordinates: ";
  if (!std::unique_ptr<std::remove_pointer_t<OGRCoordinateTransformationH>, TransformationDeleter>(
          OCTNewCoordinateTransformation(srs, geographic.get()))) {
    throw CannotOpenFile(fileName, cannot + capture.Reason("no way is known"));
  }
  s.geographicWkt = Wkt(geographic.get());
  const std::string target = "DST_SRS=" + s.geographicWkt;
  const char* options[] = {target.c_str(), nullptr};
  s.transformer.reset(
      GDALCreateGenImgProjTransformer2(dataset, nullptr, const_cast<char**>(options)));
  if (!s.transformer) throw CannotOpenFile(fileName, cannot + capture.Reason("no way is known"));
  // A method PROJ knows by name only fails point by point: try the raster's centre.
  std::array<double, 3> centre{s.description.Width / 2.0, s.description.Height / 2.0, 0};
  int transformedCentre = 0;
  GDALGenImgProjTransform(s.transformer.get(), FALSE, 1, &centre[0], &centre[1], &centre[2],
                          &transformedCentre);
  if (transformedCentre == 0 || !std::isfinite(centre[0]) || !std::isfinite(centre[1])) {
    throw CannotOpenFile(fileName, cannot + capture.Reason("its centre does not come out"));
  }

  std::array<double, 6> suggested{};
  int pixels = 0;
  int lines = 0;
  std::array<double, 4> extent{};
  s.bounded =
      GDALSuggestedWarpOutput2(dataset, GDALGenImgProjTransform, s.transformer.get(),
                               suggested.data(), &pixels, &lines, extent.data(), 0) == CE_None;
  if (s.bounded) s.bounds = extent;
  const double middleLat = s.bounded ? (extent[1] + extent[3]) / 2 : 0;
  const double alongParallel = std::cos(middleLat * std::numbers::pi / 180);

  if (transformed && OSRIsGeographic(srs) != 0) {
    const double degreesPerUnit = OSRGetAngularUnits(srs, nullptr) * 180 / std::numbers::pi;
    s.degreesX = std::hypot(geo[1], geo[4]) * degreesPerUnit;
    s.degreesY = std::hypot(geo[2], geo[5]) * degreesPerUnit;
  } else if (transformed) {
    const double metresPerUnit = OSRGetLinearUnits(srs, nullptr);
    s.description.SpacingX = std::hypot(geo[1], geo[4]) * metresPerUnit;
    s.description.SpacingY = std::hypot(geo[2], geo[5]) * metresPerUnit;
  } else if (s.bounded) {
    // Ground control points: the spacing GDAL suggests for the whole raster.
    s.degreesX = s.degreesY = std::abs(suggested[1]);
  }
  if (s.degreesX > 0) {
    s.description.SpacingX = s.degreesX * MetresPerDegree * alongParallel;
    s.description.SpacingY = s.degreesY * MetresPerDegree;
  }
}

void DemRaster::WarpOnto(float* heights, int columns, int rows,
                         const std::array<double, 6>& geo) const {
  const State& s = *state_;
  const std::string& fileName = s.description.Name;
  gdal::ErrorCapture capture;
  const auto fail = [&](const char* fallback) {
    return CannotReadFile(fileName, capture.Reason(fallback));
  };
  // A raster in memory over the grid itself, each pixel centred on its sample, so that the warp
  // writes the samples in place.
  gdal::Dataset grid(
      GDALCreate(GDALGetDriverByName("MEM"), "", columns, rows, 0, GDT_Float32, nullptr));
  if (!grid) throw fail("No grid for the tile");
  std::array<char, 64> address{};
  CPLPrintPointer(address.data(), heights, static_cast<int>(address.size()) - 1);
  const std::string pointer = std::string("DATAPOINTER=") + address.data();
  const char* bandOptions[] = {pointer.c_str(), nullptr};
  if (GDALAddBand(grid.get(), GDT_Float32, const_cast<char**>(bandOptions)) != CE_None) {
    throw fail("No grid for the tile");
  }
  std::array<double, 6> transform = geo;
  GDALSetGeoTransform(grid.get(), transform.data());
  GDALSetProjection(grid.get(), s.geographicWkt.c_str());

  // The warper reads the raster a window of at most 32 MB at a time, from an overview where
  // the raster is much finer than the grid.
  const char* arguments[] = {"-r", "bilinear", "-wm", "32", "-dstnodata", "nan", nullptr};
  const std::unique_ptr<GDALWarpAppOptions, WarpOptionsDeleter> options(
      GDALWarpAppOptionsNew(const_cast<char**>(arguments), nullptr));
  GDALWarpAppOptionsSetProgress(options.get(), WarpGoesOn, nullptr);
  GDALDatasetH sources[] = {s.dataset.get()};
  int usageError = 0;
  const bool warped =
      GDALWarp(nullptr, grid.get(), 1, sources, options.get(), &usageError) != nullptr;
  // A stop makes the reads fail: it is no fault of the raster's.
  ThrowIfInterrupted();
  if (!warped) throw fail("The raster can't be warped onto the tile");
  GDALFlushCache(grid.get());
}

DemRaster::DemRaster(DemRaster&&) noexcept = default;
DemRaster& DemRaster::operator=(DemRaster&&) noexcept = default;
DemRaster::~DemRaster() = default;

const DemDescription& DemRaster::Description() const noexcept {
  return state_->description;
}

double DemRaster::CoveredShare(long double lonMin, long double lonMax, long double latMin,
                               long double latMax) const {
  constexpr int n = ShareLattice;
  constexpr std::size_t points = static_cast<std::size_t>(n) * n;
  std::vector<double> x(points);
  std::vector<double> y(points);
  std::vector<double> z(points, 0.0);
  std::vector<int> done(points, 0);
  for (std::size_t i = 0; i < points; ++i) {
    const auto column = static_cast<long double>(i % n) + 0.5L;
    const auto row = static_cast<long double>(i / n) + 0.5L;
    x[i] = static_cast<double>(lonMin + (lonMax - lonMin) * column / n);
    y[i] = static_cast<double>(latMin + (latMax - latMin) * row / n);
  }
  const gdal::ErrorCapture quiet;
  GDALGenImgProjTransform(state_->transformer.get(), TRUE, static_cast<int>(points), x.data(),
                          y.data(), z.data(), done.data());
  const double width = state_->description.Width;
  const double height = state_->description.Height;
  std::size_t covered = 0;
  for (std::size_t i = 0; i < points; ++i) {
    covered += done[i] != 0 && x[i] >= 0 && x[i] <= width && y[i] >= 0 && y[i] <= height;
  }
  return static_cast<double>(covered) / static_cast<double>(points);
}

bool DemRaster::LoadTile(TSRTM& tile, std::int16_t lon, std::int16_t lat) {
  State& s = *state_;
  const std::string& fileName = s.description.Name;
  if (s.bounded &&
      (lon + 1 < s.bounds[0] || lon > s.bounds[2] || lat + 1 < s.bounds[1] || lat > s.bounds[3])) {
    return false;
  }
  const double middleLat = lat + 0.5;
  const int columns = SamplesPerDegree(
      s.degreesX > 0 ? 1 / s.degreesX
                     : MetresPerDegree * std::cos(middleLat * std::numbers::pi / 180) /
                           s.description.SpacingX);
  const int rows =
      SamplesPerDegree(s.degreesY > 0 ? 1 / s.degreesY : MetresPerDegree / s.description.SpacingY);
  const std::size_t count = static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns);
  // The warp writes only where the raster reaches.
  auto heights = std::make_unique_for_overwrite<float[]>(count);
  std::fill_n(heights.get(), count, std::numeric_limits<float>::quiet_NaN());

  const double dx = 1.0 / (columns - 1);
  const double dy = 1.0 / (rows - 1);
  WarpOnto(heights.get(), columns, rows, {lon - dx / 2, dx, 0, lat + 1 + dy / 2, 0, -dy});

  // Row 0 south, as a tile holds it.
  for (int r = 0, north = rows - 1; r < north; ++r, --north) {
    std::swap_ranges(heights.get() + static_cast<std::ptrdiff_t>(r) * columns,
                     heights.get() + static_cast<std::ptrdiff_t>(r + 1) * columns,
                     heights.get() + static_cast<std::ptrdiff_t>(north) * columns);
  }
  if (std::all_of(heights.get(), heights.get() + count, [](float h) { return std::isnan(h); })) {
    return false;
  }
  tile.AdoptHeights(std::move(heights), TileKind::Dem, static_cast<std::int16_t>(rows),
                    static_cast<std::int16_t>(columns), lon, lat, fileName);
  return true;
}

std::optional<DemExtent> DemRaster::Extent() const {
  // The edge's points themselves, so that the box holds the whole raster to the last pixel.
  const std::vector<std::array<double, 2>> outline = Outline(64);
  if (outline.empty()) return std::nullopt;
  DemExtent extent{outline[0][0], outline[0][0], outline[0][1], outline[0][1]};
  for (const auto& [lon, lat] : outline) {
    extent = {std::min(extent.West, lon), std::max(extent.East, lon), std::min(extent.South, lat),
              std::max(extent.North, lat)};
  }
  return extent;
}

std::vector<std::array<double, 2>> DemRaster::Outline(int pointsPerSide) const {
  const double width = state_->description.Width;
  const double height = state_->description.Height;
  const int n = std::max(pointsPerSide, 2) - 1;
  std::vector<double> x;
  std::vector<double> y;
  // Top to the right, right side down, bottom to the left, left side up.
  const std::array<std::array<double, 4>, 4> sides{
      {{0, 0, width, 0}, {width, 0, width, height}, {width, height, 0, height}, {0, height, 0, 0}}};
  for (const auto& side : sides) {
    for (int i = 0; i < n; ++i) {
      x.push_back(side[0] + (side[2] - side[0]) * i / n);
      y.push_back(side[1] + (side[3] - side[1]) * i / n);
    }
  }
  std::vector<double> z(x.size(), 0.0);
  std::vector<int> done(x.size(), 0);
  const gdal::ErrorCapture quiet;
  GDALGenImgProjTransform(state_->transformer.get(), FALSE, static_cast<int>(x.size()), x.data(),
                          y.data(), z.data(), done.data());
  std::vector<std::array<double, 2>> outline;
  for (std::size_t i = 0; i < x.size(); ++i) {
    if (done[i] != 0 && std::isfinite(x[i]) && std::isfinite(y[i])) outline.push_back({x[i], y[i]});
  }
  return outline;
}

DemOverview DemRaster::Overview(int maxSide) {
  DemOverview overview;
  const std::optional<DemExtent> extent = Extent();
  if (!extent || maxSide < 2) return overview;
  const double lonSpan = extent->East - extent->West;
  const double latSpan = extent->North - extent->South;
  if (!(lonSpan > 0) || !(latSpan > 0)) return overview;
  // Cells about square on the ground.
  const double across =
      lonSpan * std::cos((extent->South + extent->North) / 2 * std::numbers::pi / 180);
  const double longest = std::max(across, latSpan);
  overview.Columns = std::max(2, static_cast<int>(std::lround(maxSide * across / longest)));
  overview.Rows = std::max(2, static_cast<int>(std::lround(maxSide * latSpan / longest)));
  overview.Extent = *extent;
  overview.Heights.assign(
      static_cast<std::size_t>(overview.Columns) * static_cast<std::size_t>(overview.Rows),
      std::numeric_limits<float>::quiet_NaN());
  const double dx = lonSpan / overview.Columns;
  const double dy = latSpan / overview.Rows;
  WarpOnto(overview.Heights.data(), overview.Columns, overview.Rows,
           {extent->West, dx, 0, extent->North, 0, -dy});
  return overview;
}

}  // namespace orolith
