#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace orolith {

inline constexpr const char* DefaultArchiveHost = "dds.cr.usgs.gov";

// Bounds that keep one transfer from holding the program forever or filling its memory.
struct HttpLimits {
  std::size_t MaxBodyBytes = std::size_t{256} * 1024 * 1024;
  long ConnectTimeoutSeconds = 30;
  // A transfer that moves no byte for this long is abandoned.
  long StallSeconds = 30;
  // A transfer slower than LowSpeedBytesPerSecond for LowSpeedSeconds is abandoned too, however
  // steadily its bytes trickle in.
  long LowSpeedBytesPerSecond = 1000;
  long LowSpeedSeconds = 60;
  // Redirects followed before the transfer fails; 0: a redirect is itself a failure. None
  // ever leads from https to plain http.
  long MaxRedirects = 0;
};

// How a tile server files its tiles. The SRTM version 2.1 archive (retired; copies of it remain)
// holds both resolutions in region folders that are walked; the two mirrors hold SRTM-1 tiles
// only, one address each, from which SRTM-3 tiles are made; the Copernicus bucket holds GLO-30
// tiles, one folder each, which go to COP30/ in place of SRTM-1 tiles.
enum class ArchiveLayout { SrtmV21, Esa, Aws, Copernicus };

struct ArchiveLayoutName {
  const char* Name;
  ArchiveLayout Layout;
  // Empty for the archive, whose address comes from its host.
  const char* DefaultUrl;
  // What the window's "Tile source" choice calls it.
  const char* Caption;
};
// The first is the default: a source that serves.
inline constexpr std::array<ArchiveLayoutName, 4> ArchiveLayouts{{
    {"esa", ArchiveLayout::Esa, "https://step.esa.int/auxdata/dem/SRTMGL1/", "ESA"},
    {"aws", ArchiveLayout::Aws, "https://s3.amazonaws.com/elevation-tiles-prod/skadi/", "AWS"},
    {"copernicus", ArchiveLayout::Copernicus, "https://copernicus-dem-30m.s3.amazonaws.com/",
     "Copernicus"},
    {"srtm-v2.1", ArchiveLayout::SrtmV21, "", "SRTM v2.1"},
}};

// Where tiles come from: the server's layout, its address, the bounds of each transfer, the
// proxy to reach it through ("http://host:port"; empty: connect directly, whatever proxy the
// environment names), and what becomes of an archive once its tile is unpacked.
struct ArchiveSource {
  // The archive server, "host" or "host:port".
  std::string ArchiveHost = DefaultArchiveHost;
  ArchiveLayout Layout = ArchiveLayouts[0].Layout;
  // A server of Layout at another address (an institute's cache, a local copy), ending in
  // '/'; empty: the layout's own address.
  std::string TileUrl;
  // Where the AWS mirror is asked for a tile that the ESA mirror answered with neither the
  // tile nor that it has none; empty: AWS's own address, and only behind ESA's own.
  std::string FallbackUrl;
  HttpLimits Limits;
  std::string Proxy;
  // Off: the archive stays beside the tile unpacked from it, and serves a later run.
  bool RemoveArchives = false;
};

// The layout a source name (any letter case) stands for. Throws std::invalid_argument naming
// the known ones.
ArchiveLayout ArchiveLayoutNamed(std::string_view name);

// url as a base address: http:// or https:// and a host, ending in '/', with neither a query
// nor a fragment (the tile's path is appended to it). Throws std::invalid_argument.
std::string TileBaseUrl(std::string_view url);

// host as the archive's host: a name with an optional port (and credentials), perhaps followed
// by a path the archive's folders lie below; no scheme, query, fragment or blank. Throws
// std::invalid_argument.
std::string ArchiveHostName(std::string_view host);

// An address (or an archive host) as the log, the window and every message show it: without
// the user name and password it may carry, which only the request needs.
std::string AddressShown(std::string_view address);

// The address the SRTM version 2.1 archive's paths start from: "http://" + ArchiveHost +
// "/srtm/version2_1/", or the TileUrl of an archive mirror.
std::string ArchiveBaseUrl(const ArchiveSource& source);

// given with another layout chosen. The TileUrl of given belongs to its own layout: another
// layout has its own address, and choosing given's layout again brings the TileUrl back.
ArchiveSource WithLayout(const ArchiveSource& given, ArchiveLayout layout);

// The address SRTM-1 tiles (or, from the Copernicus bucket, the tiles that stand in for them)
// are downloaded from: ArchiveBaseUrl for the archive, else the source's TileUrl or its default.
std::string Srtm1BaseUrl(const ArchiveSource& source);

// The mirror asked when source's ESA mirror answers neither the tile nor that it has none: AWS
// at the FallbackUrl, or at its own address behind ESA's own; none for other sources.
std::optional<ArchiveSource> SecondMirror(const ArchiveSource& source);

// Where SRTM-3 tiles come from: the archive's SRTM-3 folders when source is the archive, else
// the SRTM-1 tiles of a mirror (source's own, or for the Copernicus bucket, which holds none,
// the default one at its own address), from which they are made.
ArchiveSource Srtm3Source(const ArchiveSource& source);

// Whether source is the SRTM version 2.1 archive at its own, retired, address.
bool IsRetiredArchive(const ArchiveSource& source);

// The folder lists of the archive server. Entry 0 remembers the folder that delivered the last
// tile; it lives as long as the program does.
struct DownloadFolders {
  std::array<std::string, 8> Srtm1RegionFolders{"01/", "01/", "02/", "03/",
                                                "04/", "05/", "06/", "07/"};
  std::array<std::string, 7> Srtm3RegionFolders{"Africa/",       "Africa/",  "Australia/",
                                                "Eurasia/",      "Islands/", "North_America/",
                                                "South_America/"};
};

}  // namespace orolith
