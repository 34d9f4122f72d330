#include "acquisition/Coverage.h"

#include "base/NumberText.h"
#include "model/ModelSetup.h"
#include "model/SizeEstimate.h"
#include "tiles/DemRaster.h"
#include "tiles/SRTM.h"
#include "tiles/TileRange.h"
#include "tiles/TileSource.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace orolith {
namespace {

const char* FoundAs(TileKind kind) {
  switch (kind) {
    case TileKind::Srtm1:
      return " : found as SRTM-1 file (30 m X-Y resolution)";
    case TileKind::Srtm3:
      return " : found as SRTM-3 file (100 m X-Y resolution)";
    case TileKind::Srtm30:
      return " : found as SRTM-30 file (1000 m X-Y resolution)";
    case TileKind::Cop30:
      return " : found as Copernicus GLO-30 file (30 m X-Y resolution)";
    case TileKind::NotATile:
    case TileKind::Dem:
      break;
  }
  return " : found";
}

// A model set up for printing is described in millimetres and triangles as well.
void LogSizeEstimate(const ModelSettings& s, OperationHost& host) {
  const char sep = host.DecimalSeparator();
  const SizeEstimate estimate = EstimateSize(s);
  host.AppendLine(
      FormatText(sep, "This will create a file containing about %.0f faces", {estimate.Faces}));
  host.AppendLine(FormatText(sep, "This will be about %.1f MB in size", {estimate.MegaBytes}));
  if (!PrintSetup(s)) return;
  for (const std::string& line : ModelSizeLines(s, sep)) host.AppendLine(line);
}

// The heights the band was found from, when it is to be found.
void LogRegionHeights(const std::optional<HeightRange>& found, OperationHost& host) {
  if (!found) {
    host.AppendLine("No elevation data found in the region's tiles");
    return;
  }
  host.AppendLine(FormatText(host.DecimalSeparator(),
                             "Elevation in the region ranges from %.0f  to  %.0f m",
                             {found->Lowest, found->Highest}));
}

// With the user's raster the tile folders are not searched: the raster, its size and spacing
// and how much of the region it covers.
void CheckDemCoverage(const ModelSettings& read, Workspace& workspace, OperationHost& host) {
  const char sep = host.DecimalSeparator();
  DemRaster dem(read.DemFile);
  const DemDescription& d = dem.Description();
  const double share = dem.CoveredShare(read.LonMin, read.LonMax, read.LatMin, read.LatMax);
  const std::optional<HeightRange> found =
      read.ElevationAuto ? RegionHeights(read, workspace, &dem, host) : std::nullopt;
  const ModelSettings s = ScaledSettings(read, found);
  LogConfigurationSummary(s, host);
  AppendBanner(host, "  File Verification ", 21);
  host.AppendLine("DEM file : " + d.Name);
  host.AppendLine(FormatText(sep, "   %d x %d pixels, %.1f m x %.1f m apart",
                             {d.Width, d.Height, d.SpacingX, d.SpacingY}));
  if (const std::optional<DemExtent> e = dem.Extent()) {
    host.AppendLine(
        FormatText(sep, "   Its extent : %.6f   to   %.6f degrees longitude", {e->West, e->East}));
    host.AppendLine(
        FormatText(sep, "                %.6f   to   %.6f degrees latitude", {e->South, e->North}));
  }
  host.AppendLine(FormatText(sep, "   It covers %.1f percent of the region", {share * 100}));
  if (s.ElevationAuto) LogRegionHeights(found, host);
  LogSizeEstimate(s, host);
}

}  // namespace

void CheckTileCoverage(const ModelSettings& read, Workspace& workspace, OperationHost& host) {
  if (!read.DemFile.empty()) return CheckDemCoverage(read, workspace, host);
  const char sep = host.DecimalSeparator();
  const TileRange range = RegionTiles(read);
  // The log says only "was not found" of a tile in a folder that can't be read.
  for (const std::string& problem : UnreadableFolders(workspace.Folders, read.Blocks())) {
    host.Diagnose(problem);
  }
  const std::optional<HeightRange> heights =
      read.ElevationAuto ? RegionHeights(read, workspace, nullptr, host) : std::nullopt;
  const ModelSettings s = ScaledSettings(read, heights);
  LogConfigurationSummary(s, host);
  AppendBanner(host, "  File Verification ", 21);

  // By kind; wide enough for every tile of the globe, which the 16 bits of a form field are not.
  std::array<std::uint64_t, static_cast<std::size_t>(TileKind::Cop30) + 1> found{};
  std::uint64_t missing = 0;
  std::uint64_t checked = 0;
  ForEachTile(range, [&](std::int32_t lon, std::int32_t lat) {
    host.ReportTileProgress(checked++, range.Count());
    const std::string name = TileFileName(lon, lat);
    if (const auto source = FindTileSource(workspace.Folders, lon, lat, s.Blocks())) {
      ++found[static_cast<std::size_t>(source->Folder)];
      // A Copernicus tile goes by its corner alone: its file has another name.
      const bool cop = source->Folder == TileKind::Cop30;
      host.AppendLine((cop ? name.substr(0, name.size() - 4) : name) + FoundAs(source->Folder));
    } else {
      ++missing;
      host.AppendLine(name + " was not found ... consider installing");
    }
  });

  if (s.ElevationAuto) LogRegionHeights(heights, host);
  LogSizeEstimate(s, host);
  host.AppendLine(FormatText(
      sep, "Number of SRTM-1, SRTM-3, SRTM-30 files found : %d,  %d, and %d, respectively",
      {found[0], found[1], found[2]}));
  if (const std::uint64_t cop = found[static_cast<std::size_t>(TileKind::Cop30)]; cop != 0) {
    host.AppendLine(FormatText(sep, "Number of Copernicus GLO-30 files found : %d", {cop}));
  }
  if (missing != 0) {
    host.AppendLine(FormatText(sep, "  There are %d missing files", {missing}));
  } else {
    host.AppendLine("All required SRTM files found");
  }
}

}  // namespace orolith
