#pragma once

#include "acquisition/DownloadAndUnzip.h"
#include "base/OperationHost.h"
#include "frontpanel/DownloadSettings.h"

#include <cstdint>
#include <string>

namespace orolith {

// Where a mirror keeps one tile, and the name its archive is saved under beside the tile.
struct MirrorTile {
  std::string Url;
  std::string ArchiveName;
};

// The tile at whole degrees lon/lat on a mirror of the given layout (Esa or Aws) at baseUrl:
//   esa  BASE + "N46E007.SRTMGL1.hgt.zip", a zip of N46E007.hgt, saved as N46E007.hgt.zip
//   aws  BASE + "N46/N46E007.hgt.gz", a gzip of N46E007.hgt, saved as N46E007.hgt.gz
MirrorTile MirrorTileAt(ArchiveLayout layout, const std::string& baseUrl, std::int32_t lon,
                        std::int32_t lat);

// The Copernicus GLO-30 tile at whole degrees lon/lat in the bucket at baseUrl, a folder of its
// own named like the tile: BASE + "Copernicus_DSM_COG_10_N46_00_E007_00_DEM/" + the same + ".tif".
std::string CopernicusTileUrl(const std::string& baseUrl, std::int32_t lon, std::int32_t lat);

// Mirrors hand requests on to their storage hosts; a few hops are enough.
inline constexpr long MirrorRedirects = 5;

// One attempt at an SRTM-1 tile from the source's mirror into tileDir, through the archive
// download and unpacking every tile goes through (the archive removed with RemoveArchives).
DownloadAttempt DownloadMirrorTile(const ArchiveSource& source, const std::string& tileDir,
                                   std::int32_t lon, std::int32_t lat, OperationHost& host);

// The SRTM-1 tile from the source's mirror and, when that answers neither the tile nor that it
// has none (404 or 403), from its SecondMirror. The last answer is the attempt's.
DownloadAttempt DownloadFromMirrors(const ArchiveSource& source, const std::string& tileDir,
                                    std::int32_t lon, std::int32_t lat, OperationHost& host);

// Whether a mirror's answer says it has no such tile: an S3 bucket that keeps its listing
// private answers 403 for a key it hasn't.
bool NoneOnMirror(const DownloadAttempt& attempt);

// One attempt at the Copernicus tile at lon/lat from the source's bucket into tileDir: GET it
// (no more than CopernicusMaxFileBytes), check the bytes in memory as the tile at lon/lat, and
// only then write it under its own name. A transfer that fails is logged as "Download failed
// for some reason" (its reason going to host.Diagnose), bytes that are no such tile as
// "Checking failed: " and the reason; neither writes anything. A file that can't be written
// throws; host.WhileWaiting runs while the transfer is waited on and may throw Interrupted.
DownloadAttempt DownloadCopernicusTile(const ArchiveSource& source, const std::string& tileDir,
                                       std::int32_t lon, std::int32_t lat, OperationHost& host);

}  // namespace orolith
