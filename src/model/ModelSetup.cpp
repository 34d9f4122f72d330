#include "model/ModelSetup.h"

#include "model/RegionTile.h"
#include "model/lattice/ModelGrid.h"
#include "tiles/TileRange.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>

namespace orolith {
namespace {

constexpr long double DegreesToRadians = 0.017453292519943295769L;

// The sample indexes a lookup between from and to blends along one axis: the first's own, up to
// the last's and the one past it when the last lies between two.
struct IndexSpan {
  int First;
  int Last;
};
IndexSpan SpanOf(const TSRTM::AxisPosition& from, const TSRTM::AxisPosition& to, int samples) {
  const int past = to.offset > 0 ? 1 : 0;
  return {from.index, std::min(to.index + past, samples - 1)};
}

template <typename Value>
void Widen(const Value* grid, int columns, IndexSpan rows, IndexSpan cols, long double& lowest,
           long double& highest) {
  for (int r = rows.First; r <= rows.Last; ++r) {
    const Value* row = grid + static_cast<std::ptrdiff_t>(r) * columns;
    for (int c = cols.First; c <= cols.Last; ++c) {
      const long double v = row[c];
      // No data (NaN) takes no part.
      if (v < lowest) lowest = v;
      if (v > highest) highest = v;
    }
  }
}

}  // namespace

long double GroundWidthMetres(const ModelSettings& s) noexcept {
  constexpr long double a = 6378137.0L;  // WGS 84
  constexpr long double f = 1 / 298.257223563L;
  constexpr long double e2 = f * (2 - f);
  const long double phi = (s.LatMin + s.LatMax) / 2 * DegreesToRadians;
  const long double sine = std::sin(phi);
  // The parallel's radius: the prime vertical's radius of curvature times the cosine.
  const long double radius = a * std::cos(phi) / std::sqrt(1 - e2 * sine * sine);
  return (s.LonMax - s.LonMin) * DegreesToRadians * radius;
}

std::optional<HeightRange> RegionHeights(const ModelSettings& s, Workspace& workspace,
                                         DemRaster* dem, OperationHost& host) {
  const long double step = GridStep(s);
  long double lowest = std::numeric_limits<long double>::infinity();
  long double highest = -lowest;
  TSRTM& tile = workspace.Tile;
  ForEachTile(RegionTiles(s), [&](std::int32_t lon, std::int32_t lat) {
    host.ProcessPendingEvents();
    if (!LoadRegionTile(s, workspace.Folders, dem, tile, lon, lat)) return;
    if (tile.Kind() == TileKind::NotATile) return;
    tile.HealVoids(HealRadius);
    const TileGrid g = GridInTile(s, step, tile.WestLon(), tile.SouthLat());
    const IndexSpan cols =
        SpanOf(tile.LonPosition(g.West), tile.LonPosition(g.East), tile.Columns());
    const IndexSpan rows =
        SpanOf(tile.LatPosition(g.South), tile.LatPosition(g.North), tile.Rows());
    if (tile.HoldsHeights()) {
      Widen(tile.Heights(), tile.Columns(), rows, cols, lowest, highest);
    } else {
      Widen(tile.Samples(), tile.Columns(), rows, cols, lowest, highest);
    }
  });
  if (lowest > highest) return std::nullopt;
  const auto held = [](long double v) { return std::clamp(v, 0.0L, 10000.0L); };
  return HeightRange{held(lowest), held(highest)};
}

ModelSettings ScaledSettings(ModelSettings s, const std::optional<HeightRange>& found) {
  if (s.ElevationAuto && found) {
    s.ZMin = found->Lowest;
    s.ZMax = found->Highest;
    if (s.ZMax - s.ZMin < 1) s.ZMax = s.ZMin + 1;
  }
  const long double ground = GroundWidthMetres(s);
  if (s.Scale > 0) s.XExtent = static_cast<float>(ground / s.Scale * 1000);
  if (s.Exaggeration > 0) {
    if (s.ZBasePercent >= 100) {
      throw std::invalid_argument(
          "A pedestal of 100 percent of the Z extent leaves no room for the heights at the "
          "exaggeration's scale");
    }
    const long double modelPerMetre = s.Exaggeration * static_cast<long double>(s.XExtent) / ground;
    s.ZExtent =
        static_cast<float>(ModelScale::ZExtentFor(s.ZMax - s.ZMin, modelPerMetre, s.ZBasePercent));
  }
  if (s.MaxErrorAuto) {
    s.MaxError = static_cast<float>(ModelScale(s).HeightMetres(s.LayerHeight / 2));
  }
  return s;
}

ModelSettings SettingsForModel(const ModelSettings& read, Workspace& workspace, DemRaster* dem,
                               OperationHost& host) {
  if (!read.ElevationAuto) return ScaledSettings(read, std::nullopt);
  return ScaledSettings(read, RegionHeights(read, workspace, dem, host));
}

void ApplyPrintPreset(FrontPanelValues& panel, const PrintGiven& given) {
  panel.Solid = true;
  if (!given.Band) panel.ElevationAuto = true;
  if (!given.MaxError) panel.MaxErrorAuto = true;
  // The spin edit's start of 1 stands for a model of 5 across: a print that wide needs more.
  if (!given.ZExtent) panel.ZExtent = fields::PrintZExtent;
  if (!given.Base) panel.ZBasePercent = fields::PrintZBase;
  if (given.XExtent) return;
  // A region deeper than wide would pass the side in Y, and most printers' beds with it.
  panel.XExtent = fields::PrintSide;
  const long double depth = ModelSize(ReadModelSettings(panel)).Y;
  if (depth > fields::PrintSide) {
    panel.XExtent = static_cast<float>(fields::PrintSide * fields::PrintSide / depth);
  }
}

PlannedSize PlannedModelSize(const FrontPanelValues& panel) {
  ModelSettings s = ReadModelSettings(panel);
  const bool zKnown = s.Exaggeration <= 0 || (!s.ElevationAuto && s.ZBasePercent < 100);
  if (!zKnown) s.Exaggeration = 0;
  return {ModelSize(ScaledSettings(s, std::nullopt)), zKnown};
}

}  // namespace orolith
