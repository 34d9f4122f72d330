#pragma once

#include <array>
#include <cstddef>
#include <string>

namespace orolith {

inline constexpr const char* DefaultArchiveHost = "dds.cr.usgs.gov";

// Bounds that keep one transfer from holding the program forever or filling its memory.
struct HttpLimits {
  std::size_t MaxBodyBytes = std::size_t{256} * 1024 * 1024;
  long ConnectTimeoutSeconds = 30;
  // A transfer that moves no byte for this long is abandoned.
  long StallSeconds = 30;
};

// Where tiles come from: the archive server ("host" or "host:port"), the bounds of each
// transfer, and the proxy to reach it through ("http://host:port"; empty: connect directly,
// whatever proxy the environment names).
struct ArchiveSource {
  std::string ArchiveHost = DefaultArchiveHost;
  HttpLimits Limits;
  std::string Proxy;
};

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
