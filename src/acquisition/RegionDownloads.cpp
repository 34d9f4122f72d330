#include "acquisition/RegionDownloads.h"

#include "acquisition/DerivedSrtm3.h"
#include "acquisition/DownloadAndUnzip.h"
#include "acquisition/TileMirrors.h"
#include "base/Errors.h"
#include "base/NumberText.h"
#include "tiles/Copernicus.h"
#include "tiles/SRTM.h"
#include "tiles/TileRange.h"
#include "tiles/TileSource.h"

#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <functional>
#include <span>
#include <stdexcept>
#include <utility>

namespace orolith {
namespace {

// What sets the SRTM-1 and SRTM-3 downloads apart; the walk over the region is shared.
struct DownloadKind {
  // The file name of the tile at lon/lat in its folder.
  std::string (*Name)(std::int32_t lon, std::int32_t lat);
  const char* Title;
  const char* UrlPath;  // below the archive's base address, up to the folder text
  const char* AvailableSuffix;
  const char* MissingSuffix;
  const char* PresentCount;
  const char* DownloadedCount;
  const char* MissingCount;
  bool PumpBeforeName;
  // Writes the success line and remembers the folder in entry 0.
  void (*Found)(std::string& remembered, const std::string& folder, OperationHost& host);
};

// The region number a folder text spells ("03/" is 3).
int RegionNumber(const std::string& folder) {
  int number = 0;
  const auto [end, ec] = std::from_chars(folder.data(), folder.data() + folder.size(), number);
  if (ec != std::errc() || end == folder.data()) {
    throw std::logic_error("region folder without a number: " + folder);
  }
  return number;
}

constexpr DownloadKind Srtm1Kind{
    .Name = TileFileName,
    .Title = "  SRTM-1 File Downloads ",
    .UrlPath = "SRTM1/Region_",
    .AvailableSuffix = " : already available as SRTM-1 file (30 m X-Y resolution)",
    .MissingSuffix = " was not found ... consider installing SRTM-3 or SRTM-30",
    .PresentCount = "There were %d pre-existing SRTM-1 files found",
    .DownloadedCount = "There were %d SRTM-1 files downloaded",
    .MissingCount = "There are %d missing SRTM-1 files",
    .PumpBeforeName = false,
    .Found =
        [](std::string& remembered, const std::string& folder, OperationHost& host) {
          host.AppendLine(FormatText(host.DecimalSeparator(), "SRTM-1 data found in Region # %d",
                                     {RegionNumber(folder)}));
          remembered = folder;
        },
};

constexpr DownloadKind Srtm3Kind{
    .Name = TileFileName,
    .Title = "  SRTM-3 File Downloads ",
    .UrlPath = "SRTM3/",
    .AvailableSuffix = " : already available as SRTM-3 file (100 m X-Y resolution)",
    .MissingSuffix = " was not found ... consider installing SRTM-1 or SRTM-30",
    .PresentCount = "There were %d pre-existing SRTM-3 files found",
    .DownloadedCount = "There were %d SRTM-3 files downloaded",
    .MissingCount = "There are %d missing SRTM-3 files",
    .PumpBeforeName = true,
    .Found =
        [](std::string& remembered, const std::string& folder, OperationHost& host) {
          remembered = folder;
          host.AppendLine("SRTM-3 data found in Region " + folder);
        },
};

// Tiles from the Copernicus bucket, which has one address per tile and no folders to walk.
constexpr DownloadKind Cop30Kind{
    .Name = CopernicusTileName,
    .Title = "  Copernicus GLO-30 File Downloads ",
    .UrlPath = "",
    .AvailableSuffix = " : already available as Copernicus GLO-30 file (30 m X-Y resolution)",
    .MissingSuffix = " was not found ... consider installing SRTM-1, SRTM-3 or SRTM-30",
    .PresentCount = "There were %d pre-existing Copernicus GLO-30 files found",
    .DownloadedCount = "There were %d Copernicus GLO-30 files downloaded",
    .MissingCount = "There are %d missing Copernicus GLO-30 files",
    .PumpBeforeName = false,
    .Found = nullptr,
};

// What became of a missing tile: downloaded; or not, and then Failure says why unless the
// server answered that it has no such tile.
struct Fetched {
  bool Downloaded = false;
  std::string Failure;
};

// Fetches the missing tile name at lon/lat into the tile folder.
using FetchTile =
    std::function<Fetched(std::int32_t lon, std::int32_t lat, const std::string& name)>;

// A data root that is not there is most likely a mistyped one: the run ends before it fetches
// anything. A tile folder that is not there is made, as open to others as the data root is.
void PrepareTileFolder(const std::string& dataRoot, const std::string& tileDir) {
  if (const auto missing = MissingDataRoot(dataRoot)) throw FileError(*missing, dataRoot, ENOENT);
  struct stat root {};
  if (::stat(dataRoot.c_str(), &root) != 0) throw CannotOpenFile(dataRoot, errno);
  struct stat folder {};
  if (::stat(tileDir.c_str(), &folder) == 0 || errno != ENOENT) return;
  const mode_t mode = root.st_mode & 07777;
  if (::mkdir(tileDir.c_str(), mode) != 0) {
    if (errno == EEXIST) return;
    throw CannotCreateFolder(tileDir, errno);
  }
  // The umask must not make it narrower than the data root.
  if (::chmod(tileDir.c_str(), mode) != 0) throw CannotCreateFolder(tileDir, errno);
}

// The one walk over a region for every source: what is there is counted, what is missing is
// fetched, and the three counts close the run.
DownloadOutcome DownloadRegion(const DownloadKind& kind, const ModelSettings& settings,
                               const std::string& dataRoot, const std::string& tileDir,
                               OperationHost& host, const FetchTile& fetch) {
  const char sep = host.DecimalSeparator();
  const TileRange range = RegionTiles(settings);
  PrepareTileFolder(dataRoot, tileDir);
  // The log says only "was not found" of a tile in a folder that can't be read.
  for (const std::string& problem : UnreadableFolders(dataRoot, {tileDir})) {
    host.Diagnose(problem);
  }
  LogConfigurationSummary(settings, host);
  AppendBanner(host, kind.Title, 21);

  DownloadOutcome outcome;
  std::int64_t present = 0;
  std::int64_t downloaded = 0;
  std::int64_t missing = 0;
  std::uint64_t walked = 0;
  ForEachTile(range, [&](std::int32_t lon, std::int32_t lat) {
    host.ReportTileProgress(walked++, range.Count());
    if (kind.PumpBeforeName) host.ProcessPendingEvents();
    const std::string name = kind.Name(lon, lat);
    if (!kind.PumpBeforeName) host.ProcessPendingEvents();
    if (TileFileExists(tileDir + name)) {
      host.AppendLine(name + kind.AvailableSuffix);
      ++present;
      return;
    }
    Fetched fetched = fetch(lon, lat, name);
    if (fetched.Downloaded) {
      ++downloaded;
      return;
    }
    // The log counts the tile missing either way; only the outcome tells the two apart.
    host.AppendLine(name + kind.MissingSuffix);
    ++missing;
    if (!fetched.Failure.empty()) outcome.Failed.push_back({name, std::move(fetched.Failure)});
  });

  host.AppendLine(FormatText(sep, kind.PresentCount, {present}));
  host.AppendLine(FormatText(sep, kind.DownloadedCount, {downloaded}));
  host.AppendLine(FormatText(sep, kind.MissingCount, {missing}));
  return outcome;
}

// Why nothing comes from the archive's own address any more, and what serves instead.
std::string RetiredArchiveNote(const ArchiveSource& source) {
  std::string serving;
  for (const ArchiveLayoutName& known : ArchiveLayouts) {
    if (known.Layout == ArchiveLayout::SrtmV21) continue;
    serving +=
        std::string(serving.empty() ? "" : ", ") + known.Name + " (" + known.DefaultUrl + ")";
  }
  return AddressShown(source.ArchiveHost) +
         ", the SRTM version 2.1 archive, was retired in 2021 and serves no tile; these "
         "sources serve tiles today: " +
         serving +
         ". Choose one as the tile source (--tile-source, or \"Tile source\" in the "
         "window).";
}

// The archive has no rule that maps a tile to its folder: the folders are tried in turn, the
// one that delivered last (entry 0) first. Only a 404 from every folder says the archive has
// no such tile; the first other failure is the one reported. A failure at the retired
// archive's own address says so, once a run.
FetchTile ArchiveWalk(const DownloadKind& kind, const std::string& tileDir,
                      std::span<std::string> folderList, const ArchiveSource& source,
                      OperationHost& host) {
  return [&kind, &tileDir, folderList, &source, &host, retiredNoted = false](
             std::int32_t, std::int32_t, const std::string& name) mutable {
    const std::string urlStart = ArchiveBaseUrl(source) + kind.UrlPath;
    const std::string archive = tileDir + name + ".zip";
    Fetched fetched;
    for (std::size_t k = 0; k < folderList.size(); ++k) {
      // A copy: a success rewrites entry 0.
      const std::string folder = folderList[k];
      const std::string url = urlStart + folder + name + ".zip";
      host.AppendLine("trying to find " + AddressShown(url));
      DownloadAttempt attempt =
          DownloadAndUnzip(url, archive, host, source.Limits, source.Proxy, source.RemoveArchives);
      if (attempt) {
        kind.Found(folderList[0], folder, host);
        return Fetched{true, {}};
      }
      if (!retiredNoted && IsRetiredArchive(source)) {
        host.Diagnose(RetiredArchiveNote(source));
        retiredNoted = true;
      }
      if (fetched.Failure.empty() && !attempt.NotOnServer({404})) {
        fetched.Failure = std::move(attempt.Reason);
      }
    }
    return fetched;
  };
}

// What became of a mirror's tile: none on the mirror is as "not found" as none in the archive.
Fetched FromMirror(DownloadAttempt attempt) {
  if (attempt) return Fetched{true, {}};
  if (NoneOnMirror(attempt)) return Fetched{};
  return Fetched{false, std::move(attempt.Reason)};
}

}  // namespace

DownloadOutcome DownloadSrtm1Files(const ModelSettings& settings, Workspace& workspace,
                                   OperationHost& host) {
  const std::string& dataRoot = workspace.Folders.DataRoot;
  const ArchiveSource& source = workspace.Source;
  if (source.Layout == ArchiveLayout::Copernicus) {
    const std::string& tileDir = workspace.Folders.Cop30Dir;
    // A tile the bucket lacks (open sea) is as "not found" as one a mirror lacks.
    return DownloadRegion(
        Cop30Kind, settings, dataRoot, tileDir, host,
        [&](std::int32_t lon, std::int32_t lat, const std::string&) {
          return FromMirror(DownloadCopernicusTile(source, tileDir, lon, lat, host));
        });
  }
  const std::string& tileDir = workspace.Folders.Srtm1Dir;
  if (source.Layout == ArchiveLayout::SrtmV21) {
    return DownloadRegion(
        Srtm1Kind, settings, dataRoot, tileDir, host,
        ArchiveWalk(Srtm1Kind, tileDir, workspace.Remembered.Srtm1RegionFolders, source, host));
  }
  // A mirror has one address per tile: one attempt (two with a second mirror), nothing to
  // remember.
  return DownloadRegion(Srtm1Kind, settings, dataRoot, tileDir, host,
                        [&](std::int32_t lon, std::int32_t lat, const std::string&) {
                          return FromMirror(DownloadFromMirrors(source, tileDir, lon, lat, host));
                        });
}

DownloadOutcome DownloadSrtm3Files(const ModelSettings& settings, Workspace& workspace,
                                   OperationHost& host) {
  const std::string& dataRoot = workspace.Folders.DataRoot;
  const std::string& tileDir = workspace.Folders.Srtm3Dir;
  const ArchiveSource source = Srtm3Source(workspace.Source);
  if (source.Layout == ArchiveLayout::SrtmV21) {
    return DownloadRegion(
        Srtm3Kind, settings, dataRoot, tileDir, host,
        ArchiveWalk(Srtm3Kind, tileDir, workspace.Remembered.Srtm3RegionFolders, source, host));
  }
  // The mirrors hold SRTM-1 tiles only; each SRTM-3 tile is made from one.
  return DownloadRegion(
      Srtm3Kind, settings, dataRoot, tileDir, host,
      [&](std::int32_t lon, std::int32_t lat, const std::string&) {
        return FromMirror(DownloadDerivedSrtm3Tile(source, tileDir, lon, lat, host));
      });
}

}  // namespace orolith
