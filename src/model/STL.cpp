#include "model/STL.h"

#include "base/Errors.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>
#include <utility>

namespace orolith {
namespace {

void PutU32(unsigned char* out, std::uint32_t v) noexcept {
  out[0] = static_cast<unsigned char>(v);
  out[1] = static_cast<unsigned char>(v >> 8);
  out[2] = static_cast<unsigned char>(v >> 16);
  out[3] = static_cast<unsigned char>(v >> 24);
}

}  // namespace

void EncodeStlHeader(const std::string& fileName, std::uint32_t count, unsigned char* out84) {
  std::memset(out84, 0, 80);
  const std::string text = "Binary STL : " + fileName;
  std::memcpy(out84, text.data(), std::min<std::size_t>(text.size(), 80));
  PutU32(out84 + 80, count);
}

// An unnamed file in the temporary folder; it goes with its handle.
class StlFileWriter::Spool {
 public:
  Spool() {
    std::error_code noTemporaryFolder;
    std::filesystem::path folder = std::filesystem::temp_directory_path(noTemporaryFolder);
    if (noTemporaryFolder) folder = "/tmp";
    path_ = (folder / "orolith-spool.XXXXXX").string();
    const int fd = ::mkostemp(path_.data(), O_CLOEXEC);
    if (fd < 0) throw CannotCreateFile(path_, errno);
    ::unlink(path_.c_str());
    file_.reset(::fdopen(fd, "w+b"));
    if (!file_) {
      const int error = errno;
      ::close(fd);
      throw CannotCreateFile(path_, error);
    }
  }

  void Write(const void* data, std::size_t size) {
    if (std::fwrite(data, 1, size, file_.get()) != size) throw CannotWriteFile(path_, errno);
  }

  // Everything written so far, from the start, to out.
  void CopyTo(AtomicOutputFile& out) {
    if (std::fflush(file_.get()) != 0 || std::fseek(file_.get(), 0, SEEK_SET) != 0) {
      throw CannotWriteFile(path_, errno);
    }
    constexpr std::size_t chunk = 1 << 20;
    const auto buffer = std::make_unique_for_overwrite<unsigned char[]>(chunk);
    std::size_t n = 0;
    while ((n = std::fread(buffer.get(), 1, chunk, file_.get())) > 0) out.Write(buffer.get(), n);
    if (std::ferror(file_.get())) throw CannotReadFile(path_, errno);
  }

 private:
  struct Closer {
    void operator()(std::FILE* f) const noexcept { std::fclose(f); }
  };
  std::string path_;
  std::unique_ptr<std::FILE, Closer> file_;
};

StlFileWriter::StlFileWriter(const std::string& fileName, AtomicOutputFile::WaitHook whileWaiting)
    : fileName_(fileName) {
  file_.emplace(fileName, AtomicOutputFile::Placement::FollowLinks, std::move(whileWaiting));
  if (file_->WritesInPlace() || !file_->CanSeek()) {
    // Overwritten in place, the file would be lost if the run stopped: it gets the model only
    // once the model is complete.
    spool_ = std::make_unique<Spool>();
    return;
  }
  unsigned char header[84];
  EncodeStlHeader(fileName_, 0, header);
  Put(header, sizeof header);
}

StlFileWriter::~StlFileWriter() = default;

void StlFileWriter::Encode(MeshChunk& chunk) const {
  unsigned char* out = chunk.Encoded.Resize(50 * chunk.Triangles.size());
  const Vec3* v = chunk.Vertices.data();
  for (const Triangle& t : chunk.Triangles) {
    EncodeStlRecord(TSTLFace::FaceNormal(v[t.A], v[t.B], v[t.C]), v[t.A], v[t.B], v[t.C], out);
    out += 50;
  }
}

void StlFileWriter::Write(const MeshChunk& chunk) {
  AddRecords(chunk.Encoded.Data(), chunk.Triangles.size());
}

void StlFileWriter::AddRecords(const unsigned char* records, std::size_t count) {
  Put(records, 50 * count);
  count_ += count;
}

void StlFileWriter::Finish() {
  if (error_) std::rethrow_exception(error_);
  unsigned char header[84];
  EncodeStlHeader(fileName_, static_cast<std::uint32_t>(count_), header);
  if (spool_) {
    file_->Write(header, sizeof header);
    spool_->CopyTo(*file_);
  } else {
    file_->WriteAt(80, header + 80, 4);
  }
  file_->Commit();
}

void StlFileWriter::Put(const void* bytes, std::size_t size) {
  if (error_) return;
  try {
    if (spool_) {
      spool_->Write(bytes, size);
    } else {
      file_->Write(bytes, size);
    }
  } catch (const FileError&) {
    Drop();
  }
}

void StlFileWriter::Drop() noexcept {
  error_ = std::current_exception();
  // A failed file goes now, not when the run ends: it may be what filled the disk.
  spool_.reset();
  file_.reset();
}

void TSTL::SaveBinary(const std::string& fileName) const {
  StlFileWriter out(fileName);
  constexpr std::size_t recordsPerChunk = 1 << 14;  // 800 kB a write, small enough to stay in cache
  const auto buffer = std::make_unique_for_overwrite<unsigned char[]>(50 * recordsPerChunk);
  for (std::size_t first = 0; first < faces_.size(); first += recordsPerChunk) {
    const std::size_t count = std::min(recordsPerChunk, faces_.size() - first);
    for (std::size_t i = 0; i < count; ++i) {
      EncodeStlRecord(faces_[first + i], buffer.get() + 50 * i);
    }
    out.AddRecords(buffer.get(), count);
  }
  out.Finish();
}

}  // namespace orolith
