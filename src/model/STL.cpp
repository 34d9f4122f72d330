#include "model/STL.h"

#include "frontpanel/TSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>

namespace orolith {
namespace {

void PutU32(unsigned char* out, std::uint32_t v) noexcept {
  out[0] = static_cast<unsigned char>(v);
  out[1] = static_cast<unsigned char>(v >> 8);
  out[2] = static_cast<unsigned char>(v >> 16);
  out[3] = static_cast<unsigned char>(v >> 24);
}

void PutVec(unsigned char* out, const Vec3& v) noexcept {
  PutU32(out, std::bit_cast<std::uint32_t>(v.x));
  PutU32(out + 4, std::bit_cast<std::uint32_t>(v.y));
  PutU32(out + 8, std::bit_cast<std::uint32_t>(v.z));
}

// Where SaveBinary's bytes go. A regular file (or a new name) is written to a temporary file
// beside it that is renamed over it only when complete, so a failed save never destroys what
// was there. Anything else that already exists under the name (a device, a pipe, a symbolic
// link) is opened and written in place, as a plain create would.
class OutputFile {
 public:
  explicit OutputFile(const std::string& target) : target_(target) {
    struct stat info {};
    const bool exists = ::lstat(target.c_str(), &info) == 0;
    if (exists && S_ISDIR(info.st_mode)) throw CannotCreateFile(target, EISDIR);
    if (exists && !S_ISREG(info.st_mode)) {
      fd_ = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
      if (fd_ < 0) throw CannotCreateFile(target, errno);
      return;
    }
    // Renaming would replace a file that a plain create may not open for writing.
    if (exists && ::access(target.c_str(), W_OK) != 0) throw CannotCreateFile(target, errno);
    path_ = target + ".XXXXXX";
    fd_ = ::mkstemp(path_.data());
    if (fd_ < 0 && errno == ENAMETOOLONG) {
      // The name itself fits but the suffix does not: fall back to a short name in the folder.
      const std::filesystem::path folder = std::filesystem::path(target).parent_path();
      path_ = (folder / ".orolith-save.XXXXXX").string();
      fd_ = ::mkstemp(path_.data());
    }
    if (fd_ < 0) {
      path_.clear();
      throw CannotCreateFile(target, errno);
    }
    // mkstemp makes the file private: give it the mode of the file it replaces, or the mode a
    // plain create would.
    mode_t mode = info.st_mode & 07777;
    if (!exists) {
      const mode_t mask = ::umask(0);
      ::umask(mask);
      mode = 0666 & ~mask;
    }
    if (::fchmod(fd_, mode) != 0) Fail(errno);
  }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!path_.empty() && !committed_) ::unlink(path_.c_str());
  }

  void Write(const unsigned char* data, std::size_t size) {
    while (size > 0) {
      const ssize_t n = ::write(fd_, data, size);
      if (n < 0) {
        if (errno == EINTR) continue;
        Fail(errno);
      }
      data += n;
      size -= static_cast<std::size_t>(n);
    }
  }

  void Commit() {
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) Fail(errno);
    if (!path_.empty() && ::rename(path_.c_str(), target_.c_str()) != 0) Fail(errno);
    committed_ = true;
  }

 private:
  [[noreturn]] void Fail(int errorNumber) const {
    throw FileError("Cannot write file \"" + target_ + "\". " + std::strerror(errorNumber));
  }

  std::string target_;
  std::string path_;  // the temporary file; empty when writing in place
  int fd_ = -1;
  bool committed_ = false;
};

}  // namespace

void EncodeStlHeader(const std::string& fileName, std::uint32_t count, unsigned char* out84) {
  std::memset(out84, 0, 80);
  const std::string text = "Binary STL : " + fileName;
  std::memcpy(out84, text.data(), std::min<std::size_t>(text.size(), 80));
  PutU32(out84 + 80, count);
}

void EncodeStlRecord(const TSTLFace& face, unsigned char* out50) noexcept {
  if constexpr (std::endian::native == std::endian::little && sizeof(float) == 4 &&
                std::numeric_limits<float>::is_iec559) {
    // The face holds the twelve floats in file order, already in the file's byte order.
    static_assert(offsetof(TSTLFace, Normal) == 0 && offsetof(TSTLFace, Vertex1) == 12 &&
                  offsetof(TSTLFace, Vertex2) == 24 && offsetof(TSTLFace, Vertex3) == 36);
    std::memcpy(out50, &face, 48);
  } else {
    PutVec(out50, face.Normal);
    PutVec(out50 + 12, face.Vertex1);
    PutVec(out50 + 24, face.Vertex2);
    PutVec(out50 + 36, face.Vertex3);
  }
  out50[48] = 0;
  out50[49] = 0;
}

void TSTL::SaveBinary(const std::string& fileName) const {
  OutputFile file(fileName);
  const auto count = static_cast<std::uint32_t>(faces_.size());
  constexpr std::size_t recordsPerChunk = 1 << 14;  // 800 kB a write, small enough to stay in cache
  auto buffer = std::make_unique_for_overwrite<unsigned char[]>(84 + 50 * recordsPerChunk);
  EncodeStlHeader(fileName, count, buffer.get());
  std::size_t used = 84;
  for (std::size_t i = 0; i < count; ++i) {
    EncodeStlRecord(faces_[i], buffer.get() + used);
    used += 50;
    if (used + 50 > 84 + 50 * recordsPerChunk) {
      file.Write(buffer.get(), used);
      used = 0;
    }
  }
  file.Write(buffer.get(), used);
  file.Commit();
}

}  // namespace orolith
