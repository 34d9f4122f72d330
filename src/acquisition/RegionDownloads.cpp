#include "acquisition/RegionDownloads.h"

#include <charconv>
#include <cstdint>
#include <span>

#include "acquisition/TWinSystem.h"
#include "frontpanel/NumberText.h"
#include "tiles/SRTM.h"
#include "tiles/TileRange.h"

namespace orolith {
namespace {

// What sets the SRTM-1 and SRTM-3 downloads apart; the walk over the region is shared.
struct DownloadKind {
  const char* Title;
  const char* UrlPath;  // below the host, up to the folder text
  const char* AvailableSuffix;
  const char* MissingSuffix;
  const char* PresentCount;
  const char* DownloadedCount;
  const char* MissingCount;
  bool PumpBeforeName;
  // Writes the success line and remembers the folder in entry 0.
  void (*Found)(std::string& remembered, const std::string& folder, OperationHost& host,
                char decimalSeparator);
};

int RegionNumber(const std::string& folder) {
  int number = 0;
  std::from_chars(folder.data(), folder.data() + folder.size(), number);
  return number;
}

constexpr DownloadKind Srtm1Kind{
    "  SRTM-1 File Downloads ",
    "/srtm/version2_1/SRTM1/Region_",
    " : already available as SRTM-1 file (30 m X-Y resolution)",
    " was not found ... consider installing SRTM-3 or SRTM-30",
    "There were %d pre-existing SRTM-1 files found",
    "There were %d SRTM-1 files downloaded",
    "There are %d missing SRTM-1 files",
    false,
    [](std::string& remembered, const std::string& folder, OperationHost& host, char sep) {
      host.AppendLine(FormatText(sep, "SRTM-1 data found in Region # %d", {RegionNumber(folder)}));
      remembered = folder;
    }};

constexpr DownloadKind Srtm3Kind{
    "  SRTM-3 File Downloads ",
    "/srtm/version2_1/SRTM3/",
    " : already available as SRTM-3 file (100 m X-Y resolution)",
    " was not found ... consider installing SRTM-1 or SRTM-30",
    "There were %d pre-existing SRTM-3 files found",
    "There were %d SRTM-3 files downloaded",
    "There are %d missing SRTM-3 files",
    true,
    [](std::string& remembered, const std::string& folder, OperationHost& host, char sep) {
      remembered = folder;
      host.AppendLine(FormatText(sep, "SRTM-3 data found in Region %s", {folder}));
    }};

void DownloadRegion(const DownloadKind& kind, const FrontPanelValues& panel,
                    const std::string& tileDir, std::span<std::string> folderList,
                    const ArchiveSource& source, OperationHost& host, char sep) {
  const ModelSettings settings = ReadModelSettings(panel);
  const TileRange range =
      TileRangeOf(settings.LonMin, settings.LonMax, settings.LatMin, settings.LatMax);
  LogConfigurationSummary(settings, host, sep);
  host.AppendLine("*********************");
  host.AppendLine(kind.Title);
  host.AppendLine("*********************");

  const std::string urlStart = "http://" + source.ArchiveHost + kind.UrlPath;
  std::int64_t present = 0;
  std::int64_t downloaded = 0;
  std::int64_t missing = 0;
  ForEachTile(range, [&](std::int32_t lon, std::int32_t lat) {
    if (kind.PumpBeforeName) host.ProcessPendingEvents();
    const std::string name = TileFileName(lon, lat);
    if (!kind.PumpBeforeName) host.ProcessPendingEvents();
    if (FileExists(tileDir + name)) {
      host.AppendLine(name + kind.AvailableSuffix);
      ++present;
      return;
    }
    const std::string archive = tileDir + name + ".zip";
    bool found = false;
    for (std::size_t k = 0; k < folderList.size() && !found; ++k) {
      // A copy: a success rewrites entry 0.
      const std::string folder = folderList[k];
      const std::string url = urlStart + folder + name + ".zip";
      host.AppendLine("trying to find " + url);
      found = DownloadAndUnzip(url, archive, host, source.Limits);
      if (found) kind.Found(folderList[0], folder, host, sep);
    }
    if (found) {
      ++downloaded;
    } else {
      host.AppendLine(name + kind.MissingSuffix);
      ++missing;
    }
  });

  host.AppendLine(FormatText(sep, kind.PresentCount, {present}));
  host.AppendLine(FormatText(sep, kind.DownloadedCount, {downloaded}));
  host.AppendLine(FormatText(sep, kind.MissingCount, {missing}));
}

}  // namespace

void DownloadSrtm1Files(const FrontPanelValues& panel, const DataFolders& folders,
                        DownloadFolders& remembered, const ArchiveSource& source,
                        OperationHost& host, char decimalSeparator) {
  DownloadRegion(Srtm1Kind, panel, folders.Srtm1Dir, remembered.Srtm1RegionFolders, source, host,
                 decimalSeparator);
}

void DownloadSrtm3Files(const FrontPanelValues& panel, const DataFolders& folders,
                        DownloadFolders& remembered, const ArchiveSource& source,
                        OperationHost& host, char decimalSeparator) {
  DownloadRegion(Srtm3Kind, panel, folders.Srtm3Dir, remembered.Srtm3RegionFolders, source, host,
                 decimalSeparator);
}

}  // namespace orolith
