#include "preview/ViewMesh.h"

#include "base/Errors.h"
#include "base/ReadOnlyFile.h"
#include "preview/ViewMeshGrid.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

namespace orolith {
namespace {

constexpr std::size_t HeaderBytes = 84;
constexpr std::size_t RecordBytes = 50;
constexpr std::size_t RecordsPerBlock = 4096;

struct Corner {
  float X;
  float Y;
  float Z;
};

struct Face {
  Corner A;
  Corner B;
  Corner C;

  // A corner at infinity or of no number has no place in the picture: such a face is not
  // drawn, and its corners neither widen the bounds nor fall on the height grid.
  bool Drawable() const noexcept {
    return std::isfinite(A.X) && std::isfinite(A.Y) && std::isfinite(A.Z) && std::isfinite(B.X) &&
           std::isfinite(B.Y) && std::isfinite(B.Z) && std::isfinite(C.X) && std::isfinite(C.Y) &&
           std::isfinite(C.Z);
  }

  // The z part of the face's unit normal, from its corners (the stored normal is not trusted).
  float UpFraction() const noexcept {
    const double ux = B.X - A.X, uy = B.Y - A.Y, uz = B.Z - A.Z;
    const double vx = C.X - A.X, vy = C.Y - A.Y, vz = C.Z - A.Z;
    const double nx = uy * vz - uz * vy;
    const double ny = uz * vx - ux * vz;
    const double nz = ux * vy - uy * vx;
    const double length = std::sqrt(nx * nx + ny * ny + nz * nz);
    return length > 0 ? static_cast<float>(nz / length) : 0.0F;
  }
};

float LittleEndianFloat(const unsigned char* p) noexcept {
  return std::bit_cast<float>(
      static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
      static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24);
}

Corner CornerAt(const unsigned char* p) noexcept {
  return {LittleEndianFloat(p), LittleEndianFloat(p + 4), LittleEndianFloat(p + 8)};
}

// Faces a floor has: looking straight down.
constexpr float FloorBelow = -0.99F;
// Faces of the surface: looking up at all. Walls and the strips between tiles stand upright.
constexpr float SurfaceAbove = 0.05F;

// The file's faces, block by block; each pass reads the file from its first face.
class FaceStream {
 public:
  FaceStream(const std::string& path, const std::atomic<bool>* stop) : file_(path), stop_(stop) {
    if (file_.Size() < HeaderBytes) {
      throw CannotReadFile(path, "The file is too short for a binary STL file");
    }
    unsigned char count[4];
    file_.ReadAt(count, 4, 80);
    const std::uint64_t promised = static_cast<std::uint64_t>(count[0]) | count[1] << 8 |
                                   count[2] << 16 | static_cast<std::uint64_t>(count[3]) << 24;
    faces_ = std::min(promised, (file_.Size() - HeaderBytes) / RecordBytes);
    block_.resize(RecordsPerBlock * RecordBytes);
  }

  std::uint64_t Faces() const noexcept { return faces_; }
  bool Stopped() const noexcept { return stop_ != nullptr && stop_->load(); }

  // Calls visit for every face; false when the stop came first.
  template <typename Visit>
  bool ForEachFace(Visit&& visit) {
    for (std::uint64_t done = 0; done < faces_;) {
      if (Stopped()) return false;
      const std::uint64_t records = std::min<std::uint64_t>(RecordsPerBlock, faces_ - done);
      file_.ReadAt(block_.data(), records * RecordBytes, HeaderBytes + done * RecordBytes);
      for (std::uint64_t r = 0; r < records; ++r) {
        const unsigned char* record = &block_[r * RecordBytes];
        visit(Face{CornerAt(record + 12), CornerAt(record + 24), CornerAt(record + 36)});
      }
      done += records;
    }
    return !Stopped();
  }

 private:
  ReadOnlyFile file_;
  const std::atomic<bool>* stop_;
  std::uint64_t faces_ = 0;
  std::vector<unsigned char> block_;
};

void Include(ViewMesh& mesh, const Corner& c) noexcept {
  const std::array<float, 3> xyz{c.X, c.Y, c.Z};
  for (std::size_t i = 0; i < 3; ++i) {
    mesh.Min[i] = std::min(mesh.Min[i], xyz[i]);
    mesh.Max[i] = std::max(mesh.Max[i], xyz[i]);
  }
}

void AddTriangle(std::vector<float>& corners, const Corner& a, const Corner& b, const Corner& c) {
  corners.insert(corners.end(), {a.X, a.Y, a.Z, b.X, b.Y, b.Z, c.X, c.Y, c.Z});
}

// The surface's heights on a grid of nodes over the model's bounds: the mean of the surface
// corners nearest each node. Spans are worked out in double: two finite floats can lie further
// apart than a float reaches.
class HeightGrid {
 public:
  HeightGrid(const ViewMesh& bounds, std::uint64_t nodes)
      : min_{bounds.Min[0], bounds.Min[1], bounds.Min[2]},
        max_{bounds.Max[0], bounds.Max[1], bounds.Max[2]} {
    const double width = std::max(Span(0), 1e-9);
    const double depth = std::max(Span(1), 1e-9);
    const auto along = [](double n) {
      return static_cast<int>(std::clamp(std::lround(n), 2L, 16384L));
    };
    columns_ = along(std::sqrt(static_cast<double>(nodes) * width / depth));
    rows_ = along(static_cast<double>(nodes) / columns_);
    sum_.assign(Count(), 0.0);
    hits_.assign(Count(), 0);
  }

  // A corner at infinity or of no number has no node.
  void Add(const Corner& c) noexcept {
    if (!std::isfinite(c.X) || !std::isfinite(c.Y) || !std::isfinite(c.Z)) return;
    const std::size_t at = Index(Node(c.X, 0, columns_), Node(c.Y, 1, rows_));
    sum_[at] += c.Z;
    ++hits_[at];
  }

  // Heights, NaN where no corner fell; a node without corners between nodes with some (the
  // grid finer than the model's own there) takes their mean.
  std::vector<float> Heights() const {
    std::vector<float> height(Count(), std::numeric_limits<float>::quiet_NaN());
    for (std::size_t i = 0; i < height.size(); ++i) {
      if (hits_[i] > 0) height[i] = static_cast<float>(sum_[i] / hits_[i]);
    }
    for (int pass = 0; pass < 2; ++pass) {
      std::vector<float> filled = height;
      for (int row = 0; row < rows_; ++row) {
        for (int column = 0; column < columns_; ++column) {
          if (!std::isnan(height[Index(column, row)])) continue;
          double sum = 0;
          int count = 0;
          for (int r = std::max(row - 1, 0); r <= std::min(row + 1, rows_ - 1); ++r) {
            for (int c = std::max(column - 1, 0); c <= std::min(column + 1, columns_ - 1); ++c) {
              const float h = height[Index(c, r)];
              if (!std::isnan(h)) {
                sum += h;
                ++count;
              }
            }
          }
          if (count >= 2) filled[Index(column, row)] = static_cast<float>(sum / count);
        }
      }
      height.swap(filled);
    }
    return height;
  }

  int Columns() const noexcept { return columns_; }
  int Rows() const noexcept { return rows_; }
  std::size_t Index(int column, int row) const noexcept {
    return static_cast<std::size_t>(row) * static_cast<std::size_t>(columns_) +
           static_cast<std::size_t>(column);
  }
  float X(int column) const noexcept { return At(column, 0, columns_); }
  float Y(int row) const noexcept { return At(row, 1, rows_); }

 private:
  std::size_t Count() const noexcept {
    return static_cast<std::size_t>(columns_) * static_cast<std::size_t>(rows_);
  }
  double Span(std::size_t axis) const noexcept { return max_[axis] - min_[axis]; }
  // v within the bounds, as every corner of a drawable face is.
  int Node(float v, std::size_t axis, int nodes) const noexcept {
    const double span = Span(axis);
    if (!(span > 0)) return 0;
    const double at = std::round((v - min_[axis]) / span * (nodes - 1));
    return static_cast<int>(std::clamp(at, 0.0, static_cast<double>(nodes - 1)));
  }
  float At(int node, std::size_t axis, int nodes) const noexcept {
    const double t = static_cast<double>(node) / (nodes - 1);
    return static_cast<float>(min_[axis] + t * Span(axis));
  }

  std::array<double, 3> min_;
  std::array<double, 3> max_;
  int columns_ = 2;
  int rows_ = 2;
  std::vector<double> sum_;
  std::vector<std::uint32_t> hits_;
};

// The grid's surface, and for a solid its four walls down to the floor and the floor itself,
// one quad for each run of surface along a row.
void MeshGrid(const HeightGrid& grid, const std::vector<float>& height, ViewMesh& mesh) {
  const auto corner = [&](int column, int row) {
    return Corner{grid.X(column), grid.Y(row), height[grid.Index(column, row)]};
  };
  const auto has = [&](int column, int row) {
    return !std::isnan(height[grid.Index(column, row)]);
  };
  const auto quad = [&](int column, int row) {
    return has(column, row) && has(column + 1, row) && has(column, row + 1) &&
           has(column + 1, row + 1);
  };
  const float floor = mesh.Min[2];
  const auto below = [floor](Corner c) { return Corner{c.X, c.Y, floor}; };
  const auto wall = [&](Corner a, Corner b) {
    AddTriangle(mesh.Corners, a, b, below(b));
    AddTriangle(mesh.Corners, a, below(b), below(a));
  };
  for (int row = 0; row + 1 < grid.Rows(); ++row) {
    for (int column = 0; column + 1 < grid.Columns(); ++column) {
      if (!quad(column, row)) continue;
      const Corner sw = corner(column, row), se = corner(column + 1, row);
      const Corner nw = corner(column, row + 1), ne = corner(column + 1, row + 1);
      AddTriangle(mesh.Corners, sw, se, ne);
      AddTriangle(mesh.Corners, sw, ne, nw);
    }
  }
  if (!mesh.Solid) return;
  const int lastColumn = grid.Columns() - 1;
  const int lastRow = grid.Rows() - 1;
  for (int column = 0; column < lastColumn; ++column) {
    for (const int row : {0, lastRow}) {
      if (has(column, row) && has(column + 1, row))
        wall(corner(column, row), corner(column + 1, row));
    }
  }
  for (int row = 0; row < lastRow; ++row) {
    for (const int column : {0, lastColumn}) {
      if (has(column, row) && has(column, row + 1))
        wall(corner(column, row), corner(column, row + 1));
    }
    for (int column = 0; column < lastColumn;) {
      if (!quad(column, row)) {
        ++column;
        continue;
      }
      const int first = column;
      while (column < lastColumn && quad(column, row)) ++column;
      const Corner sw{grid.X(first), grid.Y(row), floor}, se{grid.X(column), grid.Y(row), floor};
      const Corner nw{grid.X(first), grid.Y(row + 1), floor};
      const Corner ne{grid.X(column), grid.Y(row + 1), floor};
      AddTriangle(mesh.Corners, sw, ne, se);
      AddTriangle(mesh.Corners, sw, nw, ne);
    }
  }
}

// Whether the file is a zip package (a 3MF model) rather than binary STL.
bool IsZipPackage(const std::string& path) {
  const ReadOnlyFile file(path);
  unsigned char magic[4] = {};
  if (file.Size() < sizeof magic) return false;
  file.ReadAt(magic, sizeof magic, 0);
  return magic[0] == 'P' && magic[1] == 'K' && magic[2] == 3 && magic[3] == 4;
}

}  // namespace

bool FacesStraightDown(const float* a, const float* b, const float* c) noexcept {
  const Face face{{a[0], a[1], a[2]}, {b[0], b[1], b[2]}, {c[0], c[1], c[2]}};
  return face.UpFraction() < FloorBelow;
}

bool RebuildFromGrid(ViewMesh& mesh, std::uint64_t nodes,
                     const std::function<bool(const PointSink&)>& feed) {
  HeightGrid grid(mesh, nodes);
  if (!feed([&grid](std::span<const float> xyz) {
        for (std::size_t i = 0; i + 2 < xyz.size(); i += 3) {
          grid.Add(Corner{xyz[i], xyz[i + 1], xyz[i + 2]});
        }
      })) {
    return false;
  }
  MeshGrid(grid, grid.Heights(), mesh);
  return true;
}

ViewMesh ReadViewMesh(const std::string& path, std::uint64_t triangleBudget,
                      const std::atomic<bool>* stop) {
  if (IsZipPackage(path)) return ReadThreeMfViewMesh(path, triangleBudget, stop);
  FaceStream stream(path, stop);
  ViewMesh mesh;
  mesh.FileFaces = stream.Faces();
  mesh.Min.fill(std::numeric_limits<float>::max());
  mesh.Max.fill(std::numeric_limits<float>::lowest());
  const bool whole = mesh.FileFaces <= triangleBudget;
  if (whole) mesh.Corners.reserve(static_cast<std::size_t>(mesh.FileFaces) * 9);
  std::uint64_t drawable = 0;
  const bool read = stream.ForEachFace([&](const Face& face) {
    if (!face.Drawable()) return;
    ++drawable;
    Include(mesh, face.A);
    Include(mesh, face.B);
    Include(mesh, face.C);
    if (face.UpFraction() < FloorBelow) mesh.Solid = true;
    if (whole) AddTriangle(mesh.Corners, face.A, face.B, face.C);
  });
  if (!read) return {};
  if (drawable == 0) {
    mesh.Min.fill(0);
    mesh.Max.fill(0);
  }
  if (whole || drawable == 0) return mesh;

  // The surface takes nearly all of the budget (two triangles a grid cell); the walls and the
  // floor take a few per cell of the outline. A grid finer than a third of the faces would
  // leave nodes that no corner falls near.
  mesh.Decimated = true;
  HeightGrid grid(mesh, std::min(triangleBudget * 9 / 20, drawable / 3));
  if (!stream.ForEachFace([&](const Face& face) {
        if (!face.Drawable() || face.UpFraction() <= SurfaceAbove) return;
        grid.Add(face.A);
        grid.Add(face.B);
        grid.Add(face.C);
      })) {
    return {};
  }
  MeshGrid(grid, grid.Heights(), mesh);
  return mesh;
}

}  // namespace orolith
