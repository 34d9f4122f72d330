#include "acquisition/TileMirrors.h"

#include "acquisition/DownloadAndUnzip.h"
#include "tiles/SRTM.h"

#include <stdexcept>

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
      break;
  }
  throw std::logic_error("the SRTM version 2.1 archive has no single address per tile");
}

DownloadAttempt DownloadMirrorTile(const ArchiveSource& source, const std::string& tileDir,
                                   std::int32_t lon, std::int32_t lat, OperationHost& host) {
  const MirrorTile tile = MirrorTileAt(source.Layout, Srtm1BaseUrl(source), lon, lat);
  HttpLimits limits = source.Limits;
  limits.MaxRedirects = MirrorRedirects;
  return DownloadAndUnzip(tile.Url, tileDir + tile.ArchiveName, host, limits, source.Proxy);
}

}  // namespace orolith
