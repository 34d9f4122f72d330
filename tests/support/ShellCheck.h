#pragma once

#include "model/mesh/STLVectors.h"
#include "support/StlReader.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <ostream>
#include <unordered_map>
#include <utility>
#include <vector>

namespace orolith::test {

// What a face list says about itself as the boundary of a solid. Corners are matched by their
// exact bytes, as a slicer reading the file matches them.
struct ShellReport {
  std::size_t faces = 0;
  // Undirected edges not used exactly twice, once in each direction, and their corners.
  std::size_t badEdges = 0;
  std::vector<std::array<Vec3, 2>> badEdgeEnds;
  // Faces whose corners span no area.
  std::size_t degenerate = 0;
  // Faces whose stored normal disagrees with their corners' order (right-hand rule).
  std::size_t wrongNormals = 0;
  // Sets of faces connected through shared corners.
  std::size_t parts = 0;
  // Signed volume enclosed, positive when the normals point out.
  double volume = 0;

  bool Closed() const { return badEdges == 0 && degenerate == 0 && wrongNormals == 0; }
};

inline std::ostream& operator<<(std::ostream& out, const ShellReport& r) {
  return out << r.faces << " faces, " << r.badEdges << " bad edges, " << r.degenerate
             << " degenerate, " << r.wrongNormals << " wrong normals, " << r.parts
             << " parts, volume " << r.volume;
}

struct ShellVector {
  double x, y, z;
};

inline ShellVector ToDouble(const Vec3& v) {
  return {v.x, v.y, v.z};
}

inline ShellVector Cross(const ShellVector& a, const ShellVector& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

inline ShellVector Minus(const ShellVector& a, const ShellVector& b) {
  return {a.x - b.x, a.y - b.y, a.z - b.z};
}

inline ShellReport CheckShell(const std::vector<StlFace>& faces) {
  struct Key {
    std::array<std::uint32_t, 3> bits;
    bool operator==(const Key& other) const { return bits == other.bits; }
  };
  struct KeyHash {
    std::size_t operator()(const Key& k) const {
      return (std::size_t{k.bits[0]} * 0x9E3779B97F4A7C15ULL) ^ (std::size_t{k.bits[1]} << 21) ^
             (std::size_t{k.bits[2]} * 0xC2B2AE3D27D4EB4FULL);
    }
  };
  std::unordered_map<Key, std::uint32_t, KeyHash> ids;
  const auto id = [&](const Vec3& v) {
    Key key{};
    std::memcpy(key.bits.data(), &v, sizeof v);
    return ids.emplace(key, static_cast<std::uint32_t>(ids.size())).first->second;
  };

  ShellReport report;
  report.faces = faces.size();
  std::unordered_map<std::uint64_t, int> directed;
  std::vector<std::array<std::uint32_t, 3>> corners;
  corners.reserve(faces.size());
  for (const StlFace& f : faces) {
    const std::array<std::uint32_t, 3> c{id(f.a), id(f.b), id(f.c)};
    corners.push_back(c);
    for (int e = 0; e < 3; ++e) {
      ++directed[std::uint64_t{c[e]} << 32 | c[(e + 1) % 3]];
    }
    const ShellVector a = ToDouble(f.a);
    const ShellVector cross = Cross(Minus(ToDouble(f.b), a), Minus(ToDouble(f.c), a));
    const double twiceArea = std::sqrt(cross.x * cross.x + cross.y * cross.y + cross.z * cross.z);
    if (twiceArea == 0 || c[0] == c[1] || c[1] == c[2] || c[2] == c[0]) {
      ++report.degenerate;
    } else if (cross.x * f.normal.x + cross.y * f.normal.y + cross.z * f.normal.z <= 0) {
      ++report.wrongNormals;
    }
    const ShellVector b = ToDouble(f.b);
    const ShellVector cc = ToDouble(f.c);
    const ShellVector bc = Cross(b, cc);
    report.volume += (a.x * bc.x + a.y * bc.y + a.z * bc.z) / 6;
  }
  std::vector<Vec3> vertices(ids.size());
  for (const auto& [key, index] : ids) std::memcpy(&vertices[index], key.bits.data(), sizeof(Vec3));
  for (const auto& [edge, count] : directed) {
    const std::uint64_t reverse = edge >> 32 | edge << 32;
    const auto back = directed.find(reverse);
    if (count == 1 && back != directed.end() && back->second == 1) continue;
    // An edge used the wrong number of times each way is met from both ends; counted once.
    if (back != directed.end() && reverse < edge) continue;
    ++report.badEdges;
    report.badEdgeEnds.push_back({vertices[edge >> 32], vertices[edge & 0xFFFFFFFF]});
  }

  std::vector<std::uint32_t> parent(ids.size());
  std::iota(parent.begin(), parent.end(), 0U);
  const auto root = [&](std::uint32_t v) {
    while (parent[v] != v) v = parent[v] = parent[parent[v]];
    return v;
  };
  for (const auto& c : corners) {
    parent[root(c[1])] = root(c[0]);
    parent[root(c[2])] = root(c[0]);
  }
  for (std::uint32_t v = 0; v < parent.size(); ++v) {
    if (root(v) == v) ++report.parts;
  }
  return report;
}

// Of the bad edges of a surface, those that do not run along one of the lines x = borderXs[i]
// or y = borderYs[j], where its pieces end: its cracks and holes.
inline std::size_t CracksOffTheBorders(const ShellReport& surface,
                                       const std::vector<float>& borderXs,
                                       const std::vector<float>& borderYs) {
  const auto among = [](float v, const std::vector<float>& lines) {
    return std::find(lines.begin(), lines.end(), v) != lines.end();
  };
  return static_cast<std::size_t>(
      std::count_if(surface.badEdgeEnds.begin(), surface.badEdgeEnds.end(), [&](const auto& e) {
        return !(e[0].x == e[1].x && among(e[0].x, borderXs)) &&
               !(e[0].y == e[1].y && among(e[0].y, borderYs));
      }));
}

// The volume between the faces that face up and the plane z = floorZ: each one's projected
// area times its mean height above the plane.
inline double VolumeDownTo(const std::vector<StlFace>& faces, double floorZ) {
  double volume = 0;
  for (const StlFace& f : faces) {
    const double area = ((double{f.b.x} - f.a.x) * (double{f.c.y} - f.a.y) -
                         (double{f.c.x} - f.a.x) * (double{f.b.y} - f.a.y)) /
                        2;
    volume += area * ((double{f.a.z} + f.b.z + f.c.z) / 3 - floorZ);
  }
  return volume;
}

}  // namespace orolith::test
