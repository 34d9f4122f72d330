#include "acquisition/DownloadAndUnzip.h"

#include "acquisition/HttpClient.h"
#include "acquisition/TWinSystem.h"
#include "base/Files.h"
#include "tiles/TileSource.h"

#include <cstdint>

namespace orolith {
namespace {

constexpr std::uint16_t ShowNormal = 1;
constexpr const char* ArchiverName = "7za";

}  // namespace

std::string ArchiverArguments(const std::string& archiveFileName) {
  const std::string folder = archiveFileName.substr(0, archiveFileName.rfind(PathSeparator) + 1);
  return "e e \"" + archiveFileName + "\" -o\"" + folder + "\" -aoa";
}

void WriteFileAtomically(const std::string& fileName, const std::vector<char>& bytes) {
  AtomicOutputFile file(fileName);
  file.Write(bytes.data(), bytes.size());
  file.Commit();
}

bool DownloadAndUnzip(const std::string& url, const std::string& archiveFileName,
                      OperationHost& host, const HttpLimits& limits) {
  {
    HttpClient client(limits);
    host.AppendLine("Attempting to Download : " + url);
    try {
      const std::vector<char> body = client.Get(url);
      host.AppendLine("Download completed, attempting to save to : " + archiveFileName);
      WriteFileAtomically(archiveFileName, body);
    } catch (const HttpError& error) {
      // Whether the attempt counts is judged by the archive file alone: one left by an
      // earlier run still serves. The log keeps its one line for a failure; why it failed is
      // for the person running the program.
      host.Diagnose(error.what());
    }
  }
  if (!FileExists(archiveFileName)) {
    host.AppendLine("Download failed for some reason");
    return false;
  }
  const std::string arguments = ArchiverArguments(archiveFileName);
  host.AppendLine("Download successful, ... trying to unzip with " + arguments);
  RunProgram(ArchiverName, arguments, ShowNormal, true);
  return true;
}

}  // namespace orolith
