#pragma once

#include <array>
#include <string>

#include "acquisition/HttpClient.h"
#include "frontpanel/ModelSettings.h"
#include "frontpanel/OperationHost.h"

namespace orolith {

inline constexpr const char* DefaultArchiveHost = "dds.cr.usgs.gov";

// The folder lists of the archive server. Entry 0 remembers the folder that delivered the last
// tile; it lives as long as the program does.
struct DownloadFolders {
  std::array<std::string, 8> Srtm1RegionFolders{"01/", "01/", "02/", "03/",
                                                "04/", "05/", "06/", "07/"};
  std::array<std::string, 7> Srtm3RegionFolders{"Africa/",       "Africa/",  "Australia/",
                                                "Eurasia/",      "Islands/", "North_America/",
                                                "South_America/"};
};

// Where tiles come from: the archive server ("host" or "host:port") and the archiver.
struct ArchiveSource {
  std::string ArchiveHost = DefaultArchiveHost;
  // Size and time bounds of each transfer.
  HttpLimits Limits;
};

// "Download SRTM-1 files" / "Download SRTM-3 files": fetch every tile of the region that the
// tile folder lacks. Errors that are not transfer failures (an archive that can't be written,
// an archiver that can't be started) end the run and propagate.
void DownloadSrtm1Files(const FrontPanelValues& panel, const DataFolders& folders,
                        DownloadFolders& remembered, const ArchiveSource& source,
                        OperationHost& host, char decimalSeparator);
void DownloadSrtm3Files(const FrontPanelValues& panel, const DataFolders& folders,
                        DownloadFolders& remembered, const ArchiveSource& source,
                        OperationHost& host, char decimalSeparator);

}  // namespace orolith
