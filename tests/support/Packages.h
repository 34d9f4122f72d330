#pragma once

#include "model/writers/STL.h"
#include "model/writers/ThreeMf.h"

#include <cstdint>
#include <map>
#include <string>
#include <tuple>

namespace orolith::test {

// The faces of stl as a 3MF package at file, through the program's own writer, in the same
// order: each distinct corner written once when shared (as the program writes its models),
// else three vertices a face.
inline void SaveThreeMf(const TSTL& stl, const std::string& file, bool shared = true) {
  ThreeMfWriter writer(file);
  std::map<std::tuple<float, float, float>, std::uint32_t> written;
  const auto vertex = [&](const Vec3& v) {
    if (!shared) return writer.AddVertex(v);
    const auto [at, fresh] = written.try_emplace({v.x, v.y, v.z}, 0);
    if (fresh) at->second = writer.AddVertex(v);
    return at->second;
  };
  for (const TSTLFace& face : stl.Faces()) {
    const std::uint32_t a = vertex(face.Vertex1);
    const std::uint32_t b = vertex(face.Vertex2);
    writer.AddTriangle(a, b, vertex(face.Vertex3));
  }
  writer.Finish();
}

}  // namespace orolith::test
