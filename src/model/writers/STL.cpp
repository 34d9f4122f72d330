#include "model/writers/STL.h"

#include "base/Errors.h"
#include "base/SpoolFile.h"

#include <algorithm>
#include <cstring>
#include <memory>
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

StlFileWriter::StlFileWriter(const std::string& fileName, AtomicOutputFile::WaitHook whileWaiting)
    : fileName_(fileName) {
  file_.emplace(fileName, AtomicOutputFile::Placement::FollowLinks, std::move(whileWaiting));
  if (file_->WritesInPlace() || !file_->CanSeek()) {
    // Overwritten in place, the file would be lost if the run stopped: it gets the model only
    // once the model is complete.
    spool_ = std::make_unique<SpoolFile>();
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
    spool_->CopyTo(
        [this](const unsigned char* data, std::size_t size) { file_->Write(data, size); });
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
