#pragma once

#include "base/ReadOnlyFile.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace orolith {

// One part of a zip package (a 3MF model's XML), read as a stream from the file: never the
// whole part in memory. The central directory is read as ZIP64 where the package needs it.
class ZipPart {
 public:
  // The part named name (letter case ignored) of the package at path. Throws FileError when
  // the file is no zip package, lacks the part, or stores it in a way this reader doesn't know.
  ZipPart(const std::string& path, std::string_view name);

  // The part's bytes from its start, deflated ones inflated, handed to take piece by piece
  // until it returns false. stop, when given, is looked at between pieces: false when it came
  // first. Each call reads the part anew. Throws FileError when the data are damaged.
  using Take = std::function<bool(const char* data, std::size_t size)>;
  bool Read(const Take& take, const std::atomic<bool>* stop = nullptr) const;

 private:
  bool ReadStored(const Take& take, const std::atomic<bool>* stop) const;
  bool ReadDeflated(const Take& take, const std::atomic<bool>* stop) const;

  std::string path_;
  ReadOnlyFile file_;
  std::uint64_t dataOffset_ = 0;
  std::uint64_t compressedSize_ = 0;
  bool deflated_ = false;
};

}  // namespace orolith
