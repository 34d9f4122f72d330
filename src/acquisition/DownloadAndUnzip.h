#pragma once

#include "base/OperationHost.h"
#include "frontpanel/DownloadSettings.h"

#include <algorithm>
#include <initializer_list>
#include <string>

namespace orolith {

// The archiver's arguments as the log shows them: extract archiveFileName into its own folder,
// replacing files.
std::string ArchiverArguments(const std::string& archiveFileName);

// How one attempt ended.
struct DownloadAttempt {
  enum class Result {
    TileInPlace,
    // Nothing arrived, and no archive was left by an earlier run.
    TransferFailed,
    // An archive was there but yielded no tile.
    UnpackFailed,
  };
  Result Outcome = Result::TileInPlace;
  // The HTTP status of a failed transfer that was answered, else 0.
  long Status = 0;
  // Why no tile was put in place, in a few words; empty when one was.
  std::string Reason;

  explicit operator bool() const noexcept { return Outcome == Result::TileInPlace; }
  // Whether the server answered with one of statuses, its way of saying it has no such file.
  bool NotOnServer(std::initializer_list<long> statuses) const noexcept {
    return Outcome == Result::TransferFailed &&
           std::find(statuses.begin(), statuses.end(), Status) != statuses.end();
  }
};

// One attempt at one tile: GET url, store the body as archiveFileName, and when that file
// exists afterwards (now or from an earlier run) unpack from it the tile named like the archive
// without its own extension ("N45E006.hgt" from "N45E006.hgt.zip") into its folder. A tile
// counts only when it has been put in place; then the archive stays beside it, or is removed
// with removeArchive. A failed transfer is logged only as "Download failed for some reason",
// its reason going to host.Diagnose; an archive that yields no tile is logged as "Unpacking
// failed: " and the reason, and stays. The log shows url without its credentials. A file that
// can't be written and an archiver that can't be started throw; host.WhileWaiting runs while
// the transfer and the archiver are waited on and may throw Interrupted.
DownloadAttempt DownloadAndUnzip(const std::string& url, const std::string& archiveFileName,
                                 OperationHost& host, const HttpLimits& limits = {},
                                 const std::string& proxy = {}, bool removeArchive = false);

}  // namespace orolith
