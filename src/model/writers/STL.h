#pragma once

#include "base/Files.h"
#include "base/SpoolFile.h"
#include "model/mesh/FaceSink.h"
#include "model/mesh/STLVectors.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orolith {

// One triangle and its unit normal; 48 bytes, no virtual functions.
struct TSTLFace {
  Vec3 Normal;
  Vec3 Vertex1;
  Vec3 Vertex2;
  Vec3 Vertex3;

  // Normal from the corners by the right-hand rule; a degenerate face keeps (0, 0, 0).
  void ComputeDerived() noexcept { Normal = FaceNormal(Vertex1, Vertex2, Vertex3); }

  static Vec3 FaceNormal(const Vec3& v1, const Vec3& v2, const Vec3& v3) noexcept {
    const Vec3 d1 = VecSub(v3, v1);
    const Vec3 d2 = VecSub(v2, v1);
    return VecNormalize(VecCross(d2, d1));
  }
};
static_assert(sizeof(TSTLFace) == 48);

// The ordered face list of one model, in one contiguous block. The generation streams its
// faces through StlFileWriter instead; the face list serves the tests' independent reference
// model and the foundation benchmark.
class TSTL {
 public:
  void AddFace(const Vec3& a, const Vec3& b, const Vec3& c) {
    TSTLFace& face = faces_.emplace_back(TSTLFace{{}, a, b, c});
    face.ComputeDerived();
  }
  // Reserves room for count faces; untouched pages of a large reservation cost no memory.
  void Reserve(std::size_t count) { faces_.reserve(count); }

  // No face (nullptr) outside the list.
  const TSTLFace* FaceAt(std::int32_t index) const noexcept {
    if (index < 0 || static_cast<std::size_t>(index) >= faces_.size()) return nullptr;
    return &faces_[static_cast<std::size_t>(index)];
  }
  std::int32_t Count() const noexcept { return static_cast<std::int32_t>(faces_.size()); }
  const std::vector<TSTLFace>& Faces() const noexcept { return faces_; }

  // Writes the binary STL file through StlFileWriter: a temporary file in the same folder that
  // replaces the target only when complete (a symbolic link is followed, a device or a
  // descriptor such as /dev/stdout is written as a stream, a pipe gets the whole file at the
  // end). Throws FileError naming the file when it can't be created ("Cannot create file ...")
  // or a write or close fails ("Cannot write file ..."); an existing regular file of that name
  // then survives.
  void SaveBinary(const std::string& fileName) const;

 private:
  std::vector<TSTLFace> faces_;
};

// The 80-byte header with the count, and the 50-byte record of one face.
void EncodeStlHeader(const std::string& fileName, std::uint32_t count, unsigned char* out84);
inline void EncodeStlRecord(const Vec3& normal, const Vec3& v1, const Vec3& v2, const Vec3& v3,
                            unsigned char* out50) noexcept {
  if constexpr (std::endian::native == std::endian::little && sizeof(float) == 4 &&
                std::numeric_limits<float>::is_iec559) {
    // The floats are already in the file's byte order. Copied one vector at a time, straight
    // from where they are: a face assembled on the stack first costs more than its arithmetic.
    static_assert(sizeof(Vec3) == 12);
    std::memcpy(out50, &normal, 12);
    std::memcpy(out50 + 12, &v1, 12);
    std::memcpy(out50 + 24, &v2, 12);
    std::memcpy(out50 + 36, &v3, 12);
  } else {
    unsigned char* out = out50;
    for (const Vec3* v : {&normal, &v1, &v2, &v3}) {
      for (const float f : {v->x, v->y, v->z}) {
        const auto bits = std::bit_cast<std::uint32_t>(f);
        for (int i = 0; i < 4; ++i) *out++ = static_cast<unsigned char>(bits >> (8 * i));
      }
    }
  }
  out50[48] = 0;
  out50[49] = 0;
}
inline void EncodeStlRecord(const TSTLFace& face, unsigned char* out50) noexcept {
  EncodeStlRecord(face.Normal, face.Vertex1, face.Vertex2, face.Vertex3, out50);
}

// The binary STL writer, the first FaceSink: it writes a file while its faces are still being
// made, holding none of them. The header goes out first and the count is patched into it at
// the end. A destination that can't seek (a pipe, a terminal) must get the count first, so
// there the records wait in an unnamed file in the temporary folder and follow the header at
// Finish; so do they for a file that is overwritten in place (AtomicOutputFile::WritesInPlace).
// The file appears under its name only when Finish succeeds (AtomicOutputFile); otherwise an
// existing regular file keeps its bytes and no partial file is left behind. A file that can't
// be made (or a named pipe nobody opens before the stop) throws from the constructor, before
// the first face. Errors of the writes are kept, not thrown, until Finish: a caller that logs
// between its last face and Finish stops its log at the same line whether the disk fails early
// or at the end. Faces that come after an error are still counted. Vertices are written with
// every face that uses them, so the lattice means nothing here.
class StlFileWriter final : public FaceSink {
 public:
  // whileWaiting: called while the file waits for a pipe's reader (AtomicOutputFile).
  explicit StlFileWriter(const std::string& fileName, AtomicOutputFile::WaitHook whileWaiting = {});
  ~StlFileWriter() override;

  // The chunk's faces as 50-byte records, in the chunk's order.
  void Encode(MeshChunk& chunk) const override;
  void Write(const MeshChunk& chunk) override;
  // count records made by EncodeStlRecord, in file order.
  void AddRecords(const unsigned char* records, std::size_t count);
  std::uint64_t Count() const noexcept { return count_; }
  // Completes the file under its name, or throws the first FileError met on the way.
  void Finish() override;

 private:
  void Put(const void* bytes, std::size_t size);
  // Keeps the FileError being handled for Finish and lets go of the file.
  void Drop() noexcept;

  std::string fileName_;
  std::optional<AtomicOutputFile> file_;
  std::unique_ptr<SpoolFile> spool_;  // the records until Finish, when they can't go out yet
  std::exception_ptr error_;
  std::uint64_t count_ = 0;
};

}  // namespace orolith
