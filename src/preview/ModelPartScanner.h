#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orolith {

// The meshes of a 3MF model part, read from its text piece by piece as it is inflated, never
// the whole text: each vertex and each triangle as soon as its element is complete. A
// triangle's vertex indices count the vertices of every mesh of the part before it, so that
// several objects make one list. Other elements (metadata, build items, transforms) are
// passed over.
class ModelPartScanner {
 public:
  struct Items {
    std::vector<float> Vertices;           // x, y, z of each vertex
    std::vector<std::uint64_t> Triangles;  // three vertex indices each
    // Triangles passed over unread (ReadTriangles(false)).
    std::uint64_t TrianglesSkipped = 0;
  };

  // Whether triangles are read from here on; passed over, they are only counted, which a
  // reader that needs the vertices alone saves most of its time by.
  void ReadTriangles(bool read) noexcept { readTriangles_ = read; }

  // Scans the next piece of the text, appending the vertices and triangles completed in it
  // to items. Throws std::invalid_argument saying what is wrong: a coordinate that is no
  // finite number, an index that is no whole number or names a vertex its mesh lacks, a
  // vertex or triangle without all its attributes, an element longer than any the format
  // needs.
  void Feed(const char* data, std::size_t size, Items& items);
  // After the last piece: throws std::invalid_argument when the text ends inside an element.
  void Finish() const;

  std::uint64_t VerticesSeen() const noexcept { return vertices_; }

 private:
  // Past the end of the markup at from ('<'), taking a vertex or a triangle there into items;
  // null when it goes on beyond end, nothing taken.
  const char* Markup(const char* from, const char* end, Items& items);

  std::string pending_;  // an element begun in an earlier piece
  std::uint64_t vertices_ = 0;
  std::uint64_t meshFirst_ = 0;  // the first vertex of the mesh being read
  bool readTriangles_ = true;
};

}  // namespace orolith
