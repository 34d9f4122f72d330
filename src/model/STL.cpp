#include "model/STL.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>

#include "frontpanel/TSystem.h"

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

// A temporary file beside the target that is removed unless committed.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::string& target) : target_(target) {
    path_ = target + ".XXXXXX";
    fd_ = ::mkstemp(path_.data());
    if (fd_ < 0) throw CannotCreateFile(target, errno);
    // mkstemp makes the file private; give it the mode a plain create would.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd_, 0666 & ~mask);
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!committed_) ::unlink(path_.c_str());
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
    if (::rename(path_.c_str(), target_.c_str()) != 0) Fail(errno);
    committed_ = true;
  }

 private:
  [[noreturn]] void Fail(int errorNumber) const {
    throw FileError("Cannot write file \"" + target_ + "\". " + std::strerror(errorNumber));
  }

  std::string target_;
  std::string path_;
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
  PutVec(out50, face.Normal);
  PutVec(out50 + 12, face.Vertex1);
  PutVec(out50 + 24, face.Vertex2);
  PutVec(out50 + 36, face.Vertex3);
  out50[48] = 0;
  out50[49] = 0;
}

void TSTL::SaveBinary(const std::string& fileName) const {
  TemporaryFile file(fileName);
  const auto count = static_cast<std::uint32_t>(faces_.size());
  constexpr std::size_t recordsPerChunk = 1 << 16;  // 3.2 MB a write
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
