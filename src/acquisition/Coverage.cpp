#include "acquisition/Coverage.h"

#include "base/NumberText.h"
#include "tiles/SRTM.h"
#include "tiles/TileRange.h"
#include "tiles/TileSource.h"

#include <array>
#include <cstdint>
#include <string>

namespace orolith {

void CheckTileCoverage(const ModelSettings& s, Workspace& workspace, OperationHost& host) {
  const char sep = host.DecimalSeparator();
  const TileRange range = RegionTiles(s);
  // The log says only "was not found" of a tile in a folder that can't be read.
  for (const std::string& problem : UnreadableFolders(workspace.Folders, s.Blocks())) {
    host.Diagnose(problem);
  }
  LogConfigurationSummary(s, host);
  AppendBanner(host, "  File Verification ", 21);

  static constexpr std::array<const char*, 3> foundAs{
      " : found as SRTM-1 file (30 m X-Y resolution)",
      " : found as SRTM-3 file (100 m X-Y resolution)",
      " : found as SRTM-30 file (1000 m X-Y resolution)"};
  // Wide enough for every tile of the globe, which the 16 bits of a form field are not.
  std::array<std::uint64_t, 3> found{};
  std::uint64_t missing = 0;
  ForEachTile(range, [&](std::int32_t lon, std::int32_t lat) {
    const std::string name = TileFileName(lon, lat);
    if (const auto source = FindTileSource(workspace.Folders, name, s.Blocks())) {
      const auto kind = static_cast<std::size_t>(source->Folder);
      ++found[kind];
      host.AppendLine(name + foundAs[kind]);
    } else {
      ++missing;
      host.AppendLine(name + " was not found ... consider installing");
    }
  });

  const SizeEstimate estimate = EstimateSize(s);
  host.AppendLine(
      FormatText(sep, "This will create a file containing about %.0f faces", {estimate.Faces}));
  host.AppendLine(FormatText(sep, "This will be about %.1f MB in size", {estimate.MegaBytes}));
  host.AppendLine(FormatText(
      sep, "Number of SRTM-1, SRTM-3, SRTM-30 files found : %d,  %d, and %d, respectively",
      {found[0], found[1], found[2]}));
  if (missing != 0) {
    host.AppendLine(FormatText(sep, "  There are %d missing files", {missing}));
  } else {
    host.AppendLine("All required SRTM files found");
  }
}

}  // namespace orolith
