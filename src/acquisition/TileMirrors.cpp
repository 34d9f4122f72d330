#include "acquisition/TileMirrors.h"

#include "acquisition/DownloadAndUnzip.h"
#include "acquisition/HttpClient.h"
#include "base/Errors.h"
#include "base/Files.h"
#include "tiles/Copernicus.h"
#include "tiles/SRTM.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <optional>
#include <span>
#include <stdexcept>
#include <vector>

namespace orolith {

MirrorTile MirrorTileAt(ArchiveLayout layout, const std::string& baseUrl, std::int32_t lon,
                        std::int32_t lat) {
  const std::string name = TileFileName(lon, lat);
  const std::string stem = name.substr(0, name.size() - 4);
  switch (layout) {
    case ArchiveLayout::Esa:
      return {baseUrl + stem + ".SRTMGL1.hgt.zip", name + ".zip"};
    case ArchiveLayout::Aws:
      return {baseUrl + stem.substr(0, stem.find_first_of("EW")) + "/" + name + ".gz",
              name + ".gz"};
    case ArchiveLayout::SrtmV21:
    case ArchiveLayout::Copernicus:
      break;
  }
  throw std::logic_error("no SRTM-1 archive of a single address per tile in this layout");
}

std::string CopernicusTileUrl(const std::string& baseUrl, std::int32_t lon, std::int32_t lat) {
  const std::string name = CopernicusTileName(lon, lat);
  return baseUrl + name.substr(0, name.size() - 4) + "/" + name;
}

DownloadAttempt DownloadMirrorTile(const ArchiveSource& source, const std::string& tileDir,
                                   std::int32_t lon, std::int32_t lat, OperationHost& host) {
  const MirrorTile tile = MirrorTileAt(source.Layout, Srtm1BaseUrl(source), lon, lat);
  HttpLimits limits = source.Limits;
  limits.MaxRedirects = MirrorRedirects;
  return DownloadAndUnzip(tile.Url, tileDir + tile.ArchiveName, host, limits, source.Proxy,
                          source.RemoveArchives);
}

bool NoneOnMirror(const DownloadAttempt& attempt) {
  return attempt.NotOnServer({404, 403});
}

DownloadAttempt DownloadFromMirrors(const ArchiveSource& source, const std::string& tileDir,
                                    std::int32_t lon, std::int32_t lat, OperationHost& host) {
  DownloadAttempt attempt = DownloadMirrorTile(source, tileDir, lon, lat, host);
  if (attempt || NoneOnMirror(attempt)) return attempt;
  if (const std::optional<ArchiveSource> second = SecondMirror(source)) {
    return DownloadMirrorTile(*second, tileDir, lon, lat, host);
  }
  return attempt;
}

DownloadAttempt DownloadCopernicusTile(const ArchiveSource& source, const std::string& tileDir,
                                       std::int32_t lon, std::int32_t lat, OperationHost& host) {
  const std::string url = CopernicusTileUrl(Srtm1BaseUrl(source), lon, lat);
  const std::string file = tileDir + CopernicusTileName(lon, lat);
  // A tile is as large as a transfer gets: its folder is looked at before it is fetched.
  struct stat folder {};
  if (::stat(tileDir.c_str(), &folder) != 0) throw CannotCreateFile(file, errno);
  HttpLimits limits = source.Limits;
  limits.MaxRedirects = MirrorRedirects;
  limits.MaxBodyBytes = std::min(limits.MaxBodyBytes, CopernicusMaxFileBytes);
  std::vector<char> body;
  {
    HttpClient client(limits, source.Proxy);
    host.AppendLine("Attempting to Download : " + AddressShown(url));
    try {
      body = client.Get(url, [&host] { host.WhileWaiting(); });
    } catch (const HttpError& error) {
      host.Diagnose(error.what());
      host.AppendLine("Download failed for some reason");
      return {DownloadAttempt::Result::TransferFailed, error.Status(), error.what()};
    }
  }
  // The tile is checked before it is written: bytes that are no such tile never reach the
  // folder, where the tile search would take them. Until then they are known by their address.
  const std::span<const std::byte> bytes = std::as_bytes(std::span(body));
  try {
    CheckCopernicusTile(bytes, AddressShown(url), lon, lat);
  } catch (const FileError& error) {
    const std::string line = std::string("Checking failed: ") + error.what();
    host.AppendLine(line);
    return {DownloadAttempt::Result::UnpackFailed, 0, line};
  }
  host.AppendLine("Download completed, attempting to save to : " + file);
  WriteFileAtomically(file, bytes, AtomicOutputFile::Placement::ReplaceLinks);
  return {};
}

}  // namespace orolith
