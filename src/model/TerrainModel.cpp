#include "model/TerrainModel.h"

#include "base/NumberText.h"
#include "base/OrderedPipeline.h"
#include "model/ModelSetup.h"
#include "model/RegionTile.h"
#include "model/SizeEstimate.h"
#include "model/SurfaceMeshers.h"
#include "model/lattice/ModelGrid.h"
#include "model/solid/SolidClosure.h"
#include "model/writers/ModelFile.h"
#include "tiles/DemRaster.h"
#include "tiles/DemSampler.h"
#include "tiles/TileRange.h"
#include "tiles/TileSource.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace orolith {
namespace {

std::uint64_t RunSeed(const GenerationOptions& options) {
  if (options.Seed) return *options.Seed;
  return static_cast<std::uint64_t>(
      std::chrono::high_resolution_clock::now().time_since_epoch().count());
}

// A tile in a folder that can't be read would leave a hole without a word in the log.
void ReportUnreadableFolders(const ModelSettings& s, const Workspace& workspace,
                             OperationHost& host) {
  for (const std::string& problem : UnreadableFolders(workspace.Folders, s.Blocks())) {
    host.Diagnose(problem);
  }
}

void LogPreamble(const ModelSettings& s, OperationHost& host) {
  AppendBanner(host, "  STL File Generation  ", 23);
  LogConfigurationSummary(s, host);
}

// The large-file question; false when it is answered Cancel. A model set up for printing is
// described in millimetres and triangles under it.
bool SizeAccepted(const ModelSettings& s, OperationHost& host) {
  const SizeEstimate estimate = EstimateSize(s);
  if (estimate.MegaBytes < 100) return true;
  std::string question =
      FormatText(host.DecimalSeparator(), "Are you sure you want to make a %.0f MB STL File?",
                 {estimate.MegaBytes});
  if (PrintSetup(s)) {
    for (const std::string& line : ModelSizeLines(s, host.DecimalSeparator())) {
      question += "\n" + line;
    }
  }
  return host.ConfirmLargeFile(question, "Warning : Very Large STL FileSize");
}

// Looked for in the folders a run searches before anything is loaded or created: a piece of
// some area with a tile file, or the flat stand-in for a missing one. The user's raster is
// only known to have values once its tiles are read.
void RequireElevationData(const ModelSettings& s, const Workspace& workspace) {
  if (s.MissedDataZero || !s.DemFile.empty()) return;
  const long double step = GridStep(s);
  bool found = false;
  ForEachTile(RegionTiles(s), [&](std::int32_t lon, std::int32_t lat) {
    found = found || (GridInTile(s, step, lon, lat).HasArea() &&
                      FindTileSource(workspace.Folders, lon, lat, s.Blocks()));
  });
  if (found) return;
  const TileBlocks blocked = s.Blocks();
  if (blocked.Srtm1 && blocked.Cop30 && blocked.Srtm3 && blocked.Srtm30) {
    throw NothingToModel("No elevation data in the region: every tile folder is blocked");
  }
  if (blocked.Srtm1 || blocked.Cop30 || blocked.Srtm3 || blocked.Srtm30) {
    throw NothingToModel(
        "No elevation data in the region: no tile of it was found in the tile folders that are "
        "not blocked");
  }
  throw NothingToModel("No elevation data in the region: no tile of it was found");
}

// Cells finer than the raster's own spacing only interpolate between its pixels.
void LimitPixelSize(ModelSettings& s, const DemDescription& raster, OperationHost& host) {
  const int finest = DemPixelFloor(raster);
  if (s.XYResolution >= finest) return;
  host.Diagnose(FormatText(host.DecimalSeparator(),
                           "The XY pixel size of %d m is finer than the DEM file's spacing; "
                           "using %d m",
                           {s.XYResolution, finest}));
  s.XYResolution = finest;
  s.XYPixelSize = static_cast<float>(finest);
}

// One run from its tile loop to its closing lines: the region's tiles, their grids and the file
// their faces go to.
class ModelRun {
 public:
  ModelRun(const ModelSettings& s, Workspace& workspace, DemRaster* dem, OperationHost& host,
           const GenerationOptions& options)
      : s_(s),
        workspace_(workspace),
        dem_(dem),
        host_(host),
        sep_(host.DecimalSeparator()),
        range_(RegionTiles(s)),
        scale_(s),
        gridStep_(GridStep(s)),
        sink_(OpenModelFile(
            s.StlFileName, [&host] { host.WhileWaiting(); }, PaintOf(s, scale_))),
        surface_(
            OpenSurfaceMesher(s, scale_, RunSeed(options), WorkThreads(options.Threads), *sink_)) {
    ForEachTile(range_, [&](std::int32_t lon, std::int32_t lat) {
      plannedCells_ += GridInTile(s_, gridStep_, lon, lat).Cells();
    });
    // The closed solid keeps each tile's outline while the tile is loaded; its faces follow
    // the surface's.
    if (s.Solid) solid_.emplace(range_, scale_.FloorZ());
    // Where the raster has no value the box "Missed data set to 0 m" sets it to 0 m.
    if (dem != nullptr) {
      sampler_.emplace(*dem, s.MissedDataZero ? 0.0F : std::numeric_limits<float>::quiet_NaN());
    }
  }

  const TileRange& Tiles() const noexcept { return range_; }

  void Tile(std::int32_t lon, std::int32_t lat) {
    host_.ProcessPendingEvents();
    const std::optional<std::string> name = Load(lon, lat);
    if (!name) {
      MissingPiece(lon, lat);
      return;
    }
    HealAndLog(*name);
    // A file of no tile size leaves no grid of its own to sample.
    if (tile_.Kind() == TileKind::NotATile) {
      MissingPiece(lon, lat);
      return;
    }
    const TileGrid grid = GridInTile(s_, gridStep_, tile_.WestLon(), tile_.SouthLat());
    lattice_.Reset(grid, scale_, &tile_, sampler_ ? &*sampler_ : nullptr);
    const std::uint64_t before = surface_->Faces();
    const bool meshed = surface_->Mesh(lattice_, lon, lat, [this](std::uint64_t cells) {
      cellsDone_ += cells;
      host_.ReportProgress(cellsDone_, plannedCells_);
    });
    if (!meshed) return;
    if (grid.HasArea()) {
      ++piecesWithData_;
      facesWithArea_ += surface_->Faces() - before;
    }
    if (solid_) solid_->AddSurface(lon, lat, surface_->Outline(lattice_));
  }

  // The tile search only saw that files are there; one that turned out to be no tile leaves its
  // piece without data as well. A raster's data can also miss every cell, when it is narrower
  // than one or lies between the cells' corners: a model with no face is no model either.
  void RequireSurface() const {
    if (facesWithArea_ != 0) return;
    if (dem_ == nullptr) {
      throw NothingToModel(
          "No elevation data in the region: none of the files found for it is an SRTM tile");
    }
    if (piecesWithData_ == 0) {
      throw NothingToModel("No elevation data in the region: the DEM file has no value in it");
    }
    throw NothingToModel(
        "No elevation data in the region: the DEM file's values in it make no whole cell");
  }

  void CloseSolid() {
    if (solid_) closureFaces_ = solid_->Close(*sink_);
  }

  void ClosingLines() {
    host_.AppendLine("Topography generation completed");
    host_.AppendLine(FormatText(sep_, "Elevation in SRTM files ranged from %d  to  %d m",
                                {runLowest_, runHighest_}));
    host_.AppendLine(FormatText(sep_, "%d Faces created, now saving to %s ...",
                                {surface_->Faces() + closureFaces_, s_.StlFileName}));
    sink_->Finish();
    host_.AppendLine("File has been saved");
  }

 private:
  std::optional<std::string> Load(std::int32_t lon, std::int32_t lat) {
    return LoadRegionTile(s_, workspace_.Folders, dem_, tile_, lon, lat);
  }

  void HealAndLog(const std::string& name) {
    host_.AppendLine("Loaded new file : " + name);
    AppendLines(host_, tile_.PropertiesReport());
    const std::int32_t healed = tile_.HealVoids(HealRadius);
    host_.AppendLine(FormatText(sep_, "Healing adjusted %d faulted data points", {healed}));
    std::int16_t lowest = 0;
    std::int16_t highest = 0;
    tile_.GetElevationRange(lowest, highest);
    host_.AppendLine(FormatText(sep_, "Post-Healing Elevation Limits of this file : %d %d m",
                                {lowest, highest}));
    runLowest_ = std::min(runLowest_, lowest);
    runHighest_ = std::max(runHighest_, highest);
    host_.AppendLine(" ");
  }

  void MissingPiece(std::int32_t lon, std::int32_t lat) {
    if (!solid_) return;
    lattice_.Reset(GridInTile(s_, gridStep_, lon, lat), scale_, nullptr);
    solid_->AddMissing(lon, lat, OutlineOf(lattice_));
  }

  const ModelSettings& s_;
  Workspace& workspace_;
  DemRaster* dem_;  // null: the tiles come from the tile folders
  OperationHost& host_;
  TSRTM& tile_ = workspace_.Tile;
  char sep_;
  TileRange range_;
  ModelScale scale_;
  long double gridStep_;
  std::uint64_t plannedCells_ = 0;
  std::uint64_t cellsDone_ = 0;
  std::uint64_t closureFaces_ = 0;
  std::uint64_t piecesWithData_ = 0;  // of some area, meshed
  std::uint64_t facesWithArea_ = 0;   // of the surface, in those pieces
  std::int16_t runLowest_ = 32000;
  std::int16_t runHighest_ = -32000;
  std::unique_ptr<FaceSink> sink_;  // binary STL or 3MF, by the file's name
  std::optional<SolidClosure> solid_;
  // The heights of the user's raster at the lattice's own points; none from the tile folders.
  std::optional<DemSampler> sampler_;
  PieceLattice lattice_;  // of the tile being meshed, read by the meshing threads
  // The regular grid or the adaptive surface; last: nothing in flight once it goes.
  std::unique_ptr<SurfaceMesher> surface_;
};

}  // namespace

RunOutcome CreateStlModel(const ModelSettings& read, Workspace& workspace, OperationHost& host,
                          const GenerationOptions& options) {
  // A raster that can't be used is refused before a line is logged or a file made.
  std::optional<DemRaster> dem;
  ModelSettings limited = read;
  if (!read.DemFile.empty()) {
    dem.emplace(read.DemFile);
    LimitPixelSize(limited, dem->Description(), host);
  } else {
    ReportUnreadableFolders(read, workspace, host);
  }
  const ModelSettings s = SettingsForModel(limited, workspace, dem ? &*dem : nullptr, host);
  if (!SizeAccepted(s, host)) return RunOutcome::Cancelled;
  LogPreamble(s, host);
  RequireElevationData(s, workspace);
  // The run makes its file first: a name that can't be written stops the log at the summary.
  ModelRun run(s, workspace, dem ? &*dem : nullptr, host, options);
  ForEachTile(run.Tiles(), [&](std::int32_t lon, std::int32_t lat) { run.Tile(lon, lat); });
  run.RequireSurface();
  run.CloseSolid();
  run.ClosingLines();
  return RunOutcome::Completed;
}

}  // namespace orolith
