#pragma once

#include "base/OperationHost.h"

#include <stdexcept>
#include <string>

namespace orolith {

// Why an archive yielded no tile: the text that follows "Unpacking failed: ".
class UnpackError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Unpacks the tile tileFileName (a full path; its file name is looked for anywhere in the
// archive) from archiveFileName, an archive of any format the archiver reads (zip, gzip, ...).
// The archiver hands the tile's bytes over a pipe; only a file of one of the three tile sizes is
// put in place, whole, and nothing else the archive holds ever reaches the disk. No more than
// the largest tile's bytes are taken, however much the archive would unpack to: the archiver is
// stopped as soon as more arrives. host.WhileWaiting runs meanwhile; when it throws, the
// archiver is stopped and nothing is left behind.
// Throws UnpackError when the archive yields no tile, SystemError when the archiver can't be
// started (after a note to host.Diagnose naming it), FileError when the tile can't be written.
void UnpackTile(const std::string& archiveFileName, const std::string& tileFileName,
                OperationHost& host);

}  // namespace orolith
