#include "model/STL.h"

#include "base/Files.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>
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
  AtomicOutputFile file(fileName);
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
