#include "acquisition/DownloadAndUnzip.h"

#include "acquisition/HttpClient.h"
#include "acquisition/TileArchive.h"
#include "base/Files.h"
#include "tiles/TileSource.h"

#include <filesystem>
#include <span>
#include <system_error>
#include <vector>

namespace orolith {

std::string ArchiverArguments(const std::string& archiveFileName) {
  const std::string folder = archiveFileName.substr(0, archiveFileName.rfind(PathSeparator) + 1);
  return "e e \"" + archiveFileName + "\" -o\"" + folder + "\" -aoa";
}

DownloadAttempt DownloadAndUnzip(const std::string& url, const std::string& archiveFileName,
                                 OperationHost& host, const HttpLimits& limits,
                                 const std::string& proxy, bool removeArchive) {
  DownloadAttempt failed{DownloadAttempt::Result::TransferFailed, 0, {}};
  {
    HttpClient client(limits, proxy);
    host.AppendLine("Attempting to Download : " + AddressShown(url));
    try {
      const std::vector<char> body = client.Get(url, [&host] { host.WhileWaiting(); });
      host.AppendLine("Download completed, attempting to save to : " + archiveFileName);
      // Whatever is under the name, a link included, is replaced: nothing is written elsewhere.
      WriteFileAtomically(archiveFileName, std::as_bytes(std::span(body)),
                          AtomicOutputFile::Placement::ReplaceLinks);
    } catch (const HttpError& error) {
      // Whether the attempt counts is judged by the archive file alone: one left by an
      // earlier run still serves. The log keeps its one line for a failure; why it failed is
      // for the person running the program.
      host.Diagnose(error.what());
      failed.Status = error.Status();
      failed.Reason = error.what();
    }
  }
  if (!FileExists(archiveFileName)) {
    host.AppendLine("Download failed for some reason");
    return failed;
  }
  host.AppendLine("Download successful, ... trying to unzip with " +
                  ArchiverArguments(archiveFileName));
  const std::string tileFileName =
      std::filesystem::path(archiveFileName).replace_extension().string();
  try {
    UnpackTile(archiveFileName, tileFileName, host);
  } catch (const UnpackError& error) {
    const std::string line = std::string("Unpacking failed: ") + error.what();
    host.AppendLine(line);
    return {DownloadAttempt::Result::UnpackFailed, 0, line};
  }
  std::error_code error;
  if (removeArchive && !std::filesystem::remove(archiveFileName, error) && error) {
    host.Diagnose("The archive \"" + archiveFileName +
                  "\" could not be removed: " + error.message());
  }
  return {};
}

}  // namespace orolith
