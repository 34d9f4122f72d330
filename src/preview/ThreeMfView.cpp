#include "base/Errors.h"
#include "preview/ModelPartScanner.h"
#include "preview/ViewMeshGrid.h"
#include "preview/ZipPart.h"

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <vector>

namespace orolith {
namespace {

constexpr const char* ModelPart = "3D/3dmodel.model";

// The model part's vertices and triangles, batch by batch as its text is inflated, each batch
// with the number of the piece of text it came from; its triangles read while readTriangles is
// set and only counted after. Reads no more than pieces pieces. False when the stop came first.
template <typename Take>
bool Scan(const ZipPart& part, const std::string& path, const std::atomic<bool>* stop,
          const bool& readTriangles, std::uint64_t pieces, Take&& take) {
  ModelPartScanner scanner;
  ModelPartScanner::Items items;
  std::uint64_t piece = 0;
  try {
    const bool read = part.Read(
        [&](const char* data, std::size_t size) {
          scanner.ReadTriangles(readTriangles);
          scanner.Feed(data, size, items);
          take(items, piece);
          items.Vertices.clear();
          items.Triangles.clear();
          items.TrianglesSkipped = 0;
          return ++piece < pieces;
        },
        stop);
    if (read && piece < pieces) scanner.Finish();
    return read;
  } catch (const std::invalid_argument& error) {
    throw CannotReadFile(path, std::string("The 3MF model can't be read: ") + error.what());
  }
}

}  // namespace

// The first reading takes the bounds and counts, and keeps the vertices while they are few
// enough to draw from: a model within the budget is then drawn triangle for triangle, as its
// STL would be. A larger one is read a second time into the height grid, vertex by vertex, as
// far as the last vertex (a package of one mesh has its vertices in its first third): the
// triangles of a large package are never all in memory, nor are its vertices.
ViewMesh ReadThreeMfViewMesh(const std::string& path, std::uint64_t triangleBudget,
                             const std::atomic<bool>* stop) {
  const ZipPart part(path, ModelPart);
  ViewMesh mesh;
  mesh.Min.fill(std::numeric_limits<float>::max());
  mesh.Max.fill(std::numeric_limits<float>::lowest());
  // A mesh shares each vertex among about six triangles; three times the budget is room for
  // any model within it.
  const std::uint64_t keptVertices = 3 * triangleBudget;
  std::vector<float> vertices;
  bool kept = true;
  std::uint64_t vertexCount = 0;
  std::uint64_t triangles = 0;
  // Where the last vertex was read: the second reading ends there.
  std::uint64_t lastVertexPiece = 0;
  // Without the vertices kept, the triangles are only counted.
  constexpr std::uint64_t Whole = std::numeric_limits<std::uint64_t>::max();
  const bool read =
      Scan(part, path, stop, kept, Whole,
           [&](const ModelPartScanner::Items& items, std::uint64_t piece) {
             if (!items.Vertices.empty()) lastVertexPiece = piece;
             for (std::size_t i = 0; i < items.Vertices.size(); i += 3) {
               for (std::size_t axis = 0; axis < 3; ++axis) {
                 mesh.Min[axis] = std::min(mesh.Min[axis], items.Vertices[i + axis]);
                 mesh.Max[axis] = std::max(mesh.Max[axis], items.Vertices[i + axis]);
               }
             }
             vertexCount += items.Vertices.size() / 3;
             if (kept && vertexCount > keptVertices) {
               kept = false;
               std::vector<float>().swap(vertices);
             }
             if (kept)
               vertices.insert(vertices.end(), items.Vertices.begin(), items.Vertices.end());
             triangles += items.TrianglesSkipped;
             for (std::size_t i = 0; i < items.Triangles.size(); i += 3) {
               ++triangles;
               if (!kept) continue;
               const float* a = &vertices[items.Triangles[i] * 3];
               const float* b = &vertices[items.Triangles[i + 1] * 3];
               const float* c = &vertices[items.Triangles[i + 2] * 3];
               if (FacesStraightDown(a, b, c)) mesh.Solid = true;
               if (triangles <= triangleBudget) {
                 mesh.Corners.insert(mesh.Corners.end(),
                                     {a[0], a[1], a[2], b[0], b[1], b[2], c[0], c[1], c[2]});
               } else if (!mesh.Corners.empty()) {
                 std::vector<float>().swap(mesh.Corners);
               }
             }
           });
  if (!read) return {};
  mesh.FileFaces = triangles;
  if (vertexCount == 0) {
    mesh.Min.fill(0);
    mesh.Max.fill(0);
  }
  if (kept && triangles <= triangleBudget) return mesh;

  std::vector<float>().swap(vertices);
  std::vector<float>().swap(mesh.Corners);
  mesh.Decimated = true;
  // Without the vertices at hand no face can be told to look down; this program's surfaces
  // never go below the base plane z = 0, and only a solid's floor does.
  if (!kept) mesh.Solid = mesh.Min[2] < 0;
  // The floor and the feet of the walls lie under the surface; a grid of the surface leaves
  // them out.
  const float floor = mesh.Min[2];
  const bool solid = mesh.Solid;
  std::vector<float> surface;
  const bool rebuilt = RebuildFromGrid(
      mesh, std::min(triangleBudget * 9 / 20, vertexCount / 3), [&](const PointSink& sink) {
        return Scan(part, path, stop, false, lastVertexPiece + 1,
                    [&](const ModelPartScanner::Items& items, std::uint64_t /*piece*/) {
                      surface.clear();
                      for (std::size_t i = 0; i < items.Vertices.size(); i += 3) {
                        if (solid && !(items.Vertices[i + 2] > floor)) continue;
                        surface.insert(surface.end(),
                                       items.Vertices.begin() + static_cast<std::ptrdiff_t>(i),
                                       items.Vertices.begin() + static_cast<std::ptrdiff_t>(i + 3));
                      }
                      sink(surface);
                    });
      });
  if (!rebuilt) return {};
  return mesh;
}

}  // namespace orolith
