#pragma once

#include "model/STLVectors.h"

#include <cstdint>
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
  void ComputeDerived() noexcept {
    const Vec3 d1 = VecSub(Vertex3, Vertex1);
    const Vec3 d2 = VecSub(Vertex2, Vertex1);
    Normal = VecNormalize(VecCross(d2, d1));
  }
};
static_assert(sizeof(TSTLFace) == 48);

// The ordered face list of one model, in one contiguous block.
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

  // Writes the binary STL file through a temporary file in the same folder that replaces the
  // target only when complete (a device, pipe or symbolic link already under that name is
  // written in place). Throws FileError naming the file when it can't be created ("Cannot
  // create file ...") or a write or close fails ("Cannot write file ..."); an existing regular
  // file of that name then survives.
  void SaveBinary(const std::string& fileName) const;

 private:
  std::vector<TSTLFace> faces_;
};

// The 80-byte header, the count and the 50-byte records to out; out.size() must be 84 + 50 n.
// Exposed so that a streaming writer and the tests share the one encoder.
void EncodeStlHeader(const std::string& fileName, std::uint32_t count, unsigned char* out84);
void EncodeStlRecord(const TSTLFace& face, unsigned char* out50) noexcept;

}  // namespace orolith
