#include "model/solid/SolidClosure.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace orolith {
namespace {

// Byte equality, as an STL reader matches corners.
bool Same(const Vec3& a, const Vec3& b) noexcept {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// The pieces round a corner line, in the order the closure's faces turn round it.
enum Quadrant : std::size_t { SouthWest, SouthEast, NorthEast, NorthWest };

// A vertical line where pieces' corners meet, each piece with its own height there; a
// quadrant outside the region stands at the floor.
struct Post {
  std::array<Vec3, 4> Corner;
  std::vector<float> Levels;  // every distinct corner height, ascending
  // The four strips round a corner cover the span between the two middle heights all four
  // when diagonal corners lie on the same side of it (a saddle). Two of them then run through
  // this extra height, so that the span is two edges of two faces each, not one of four.
  std::optional<float> Saddle;
};

// Makes the closing faces of a full grid of pieces, their outlines laid out column by column
// (west to east), south to north within a column.
class ShellBuilder {
 public:
  ShellBuilder(std::size_t columns, std::size_t rows, std::vector<const PieceOutline*> grid,
               float floorZ, FaceBatch& out)
      : columns_(columns), rows_(rows), grid_(std::move(grid)), floorZ_(floorZ), out_(out) {
    posts_.reserve((columns_ + 1) * (rows_ + 1));
    for (std::size_t k = 0; k <= columns_; ++k) {
      for (std::size_t j = 0; j <= rows_; ++j) posts_.push_back(MakePost(k, j));
    }
  }

  // The strips in the planes x = const, seams between tile columns and the west and east
  // sides, then those in the planes y = const. The piece on the low side of a plane is P,
  // the other Q; a side of the region has only one, and the floor under it stands for the
  // other.
  void SidesAndSeams() {
    for (std::size_t k = 0; k <= columns_; ++k) {
      for (std::size_t j = 0; j < rows_; ++j) {
        const PieceOutline* p = At(k, j, -1, 0);
        const PieceOutline* q = At(k, j, 0, 0);
        Side(p ? &p->East : nullptr, q ? &q->West : nullptr, a_, b_);
        Arm(PostAt(k, j), NorthWest, NorthEast, true, left_);
        Arm(PostAt(k, j + 1), SouthWest, SouthEast, false, end_);
        Strip(&Vec3::y);
      }
    }
    for (std::size_t j = 0; j <= rows_; ++j) {
      for (std::size_t i = 0; i < columns_; ++i) {
        const PieceOutline* p = At(i, j, 0, -1);
        const PieceOutline* q = At(i, j, 0, 0);
        Side(q ? &q->South : nullptr, p ? &p->North : nullptr, a_, b_);
        Arm(PostAt(i, j), NorthEast, SouthEast, true, left_);
        Arm(PostAt(i + 1, j), NorthWest, SouthWest, false, end_);
        Strip(&Vec3::x);
      }
    }
  }

  // A fan from the middle of the region over the sides' floor vertices, clockwise seen from
  // above so that its normals point down.
  void Bottom() {
    std::vector<Vec3> loop;
    const auto add = [&](const Vec3& v) {
      const Vec3 f = Floor(v);
      if (loop.empty() || !Same(loop.back(), f)) loop.push_back(f);
    };
    for (std::size_t i = columns_; i-- > 0;) {
      const std::vector<Vec3>& south = At(i, 0, 0, 0)->South;
      for (std::size_t t = south.size(); t-- > 0;) add(south[t]);
    }
    for (std::size_t j = 0; j < rows_; ++j) {
      for (const Vec3& v : At(0, j, 0, 0)->West) add(v);
    }
    for (std::size_t i = 0; i < columns_; ++i) {
      for (const Vec3& v : At(i, rows_ - 1, 0, 0)->North) add(v);
    }
    for (std::size_t j = rows_; j-- > 0;) {
      const std::vector<Vec3>& east = At(columns_ - 1, j, 0, 0)->East;
      for (std::size_t t = east.size(); t-- > 0;) add(east[t]);
    }
    if (loop.size() > 1 && Same(loop.back(), loop.front())) loop.pop_back();
    const Vec3& southWest = At(0, 0, 0, 0)->South.front();
    const Vec3& northEast = At(columns_ - 1, rows_ - 1, 0, 0)->North.back();
    Fan(Middle(southWest, northEast, floorZ_), loop, out_);
  }

  // A fan over a piece's outline, counter-clockwise seen from above: normals up.
  static void Fill(const PieceOutline& o, FaceBatch& out) {
    std::vector<Vec3> loop(o.South);
    loop.insert(loop.end(), o.East.begin() + 1, o.East.end());
    loop.insert(loop.end(), o.North.rbegin() + 1, o.North.rend());
    loop.insert(loop.end(), o.West.rbegin() + 1, o.West.rend() - 1);
    Fan(Middle(o.South.front(), o.North.back(), o.South.front().z), loop, out);
  }

 private:
  // The active piece di, dj away from column i, row j; nothing outside the region.
  const PieceOutline* At(std::size_t i, std::size_t j, int di, int dj) const {
    const auto column = static_cast<std::ptrdiff_t>(i) + di;
    const auto row = static_cast<std::ptrdiff_t>(j) + dj;
    if (column < 0 || row < 0 || column >= static_cast<std::ptrdiff_t>(columns_) ||
        row >= static_cast<std::ptrdiff_t>(rows_)) {
      return nullptr;
    }
    return grid_[static_cast<std::size_t>(column) * rows_ + static_cast<std::size_t>(row)];
  }

  const Post& PostAt(std::size_t k, std::size_t j) const { return posts_[k * (rows_ + 1) + j]; }

  Vec3 Floor(const Vec3& v) const noexcept { return {v.x, v.y, floorZ_}; }

  static Vec3 Middle(const Vec3& a, const Vec3& b, float z) noexcept {
    using L = long double;
    return {static_cast<float>((L{a.x} + L{b.x}) / 2), static_cast<float>((L{a.y} + L{b.y}) / 2),
            z};
  }

  // The two edges of a strip: the vertices of each piece along it, or the floor under the
  // other's where a piece is outside the region.
  void Side(const std::vector<Vec3>* a, const std::vector<Vec3>* b, std::vector<Vec3>& toA,
            std::vector<Vec3>& toB) const {
    const auto floor = [&](const std::vector<Vec3>& from, std::vector<Vec3>& to) {
      to.clear();
      for (const Vec3& v : from) to.push_back(Floor(v));
    };
    if (a) toA = *a;
    if (b) toB = *b;
    if (!a) floor(*b, toA);
    if (!b) floor(*a, toB);
  }

  // The strip between a_ and b_ from the post arm left_ to the post arm end_, along the
  // coordinate `along`. It is cut into cells at the vertex positions of either edge. Where both
  // edges have a vertex, the cell ends at the rung between them; where only one has, the cell
  // is a fan from that vertex over the side it faces, and the next cell starts from the edge
  // joining that vertex to the other edge's last vertex. So every edge of either piece is a
  // side of exactly one face, and no vertex is added to a piece's edge, where it would be a
  // T-junction in the shell.
  void Strip(float Vec3::*along) {
    std::size_t i = 1;
    std::size_t j = 1;
    while (i + 1 < a_.size() || j + 1 < b_.size()) {
      const bool aNext = i + 1 < a_.size();
      const bool bNext = j + 1 < b_.size();
      if (aNext && bNext && a_[i].*along == b_[j].*along) {
        Rung(a_[i++], b_[j++], right_);
        Cell();
        left_.swap(right_);
      } else if (aNext && (!bNext || a_[i].*along < b_[j].*along)) {
        right_.assign(1, a_[i]);
        Cell();
        const Vec3 low = left_.back();
        left_ = {a_[i++], low};
      } else {
        right_.assign(1, b_[j]);
        Cell();
        const Vec3 high = left_.front();
        left_ = {high, b_[j++]};
      }
    }
    right_.swap(end_);
    Cell();
  }

  // The post at the south-west corner of active column k, row j.
  Post MakePost(std::size_t k, std::size_t j) const {
    const std::array<const PieceOutline*, 4> pieces{At(k, j, -1, -1), At(k, j, 0, -1),
                                                    At(k, j, 0, 0), At(k, j, -1, 0)};
    std::array<const Vec3*, 4> corners{
        pieces[SouthWest] ? &pieces[SouthWest]->East.back() : nullptr,
        pieces[SouthEast] ? &pieces[SouthEast]->West.back() : nullptr,
        pieces[NorthEast] ? &pieces[NorthEast]->West.front() : nullptr,
        pieces[NorthWest] ? &pieces[NorthWest]->East.front() : nullptr};
    const Vec3* any = nullptr;
    for (const Vec3* corner : corners) {
      if (any == nullptr) any = corner;
    }
    Post post;
    for (std::size_t q = 0; q < 4; ++q) {
      post.Corner[q] = corners[q] ? *corners[q] : Floor(*any);
      post.Levels.push_back(post.Corner[q].z);
    }
    std::sort(post.Levels.begin(), post.Levels.end());
    post.Levels.erase(std::unique(post.Levels.begin(), post.Levels.end()), post.Levels.end());
    for (std::size_t l = 0; l + 1 < post.Levels.size(); ++l) {
      const float low = post.Levels[l];
      const float high = post.Levels[l + 1];
      int cover = 0;
      for (std::size_t q = 0; q < 4; ++q) {
        const float u = post.Corner[q].z;
        const float v = post.Corner[(q + 1) % 4].z;
        if (std::min(u, v) <= low && std::max(u, v) >= high) ++cover;
      }
      const auto middle = static_cast<float>((static_cast<double>(low) + high) / 2);
      // Heights a single float step apart leave no room between them; that span stays one
      // edge of four faces.
      if (cover == 4 && middle > low && middle < high) post.Saddle = middle;
    }
    return post;
  }

  // A cell's side on a post, from the corner of quadrant `from` to that of `to`, through
  // every level of the post in between (and the saddle's, on the two arms that take it).
  static void Arm(const Post& post, Quadrant from, Quadrant to, bool saddleArm,
                  std::vector<Vec3>& chain) {
    const Vec3& start = post.Corner[from];
    const Vec3& end = post.Corner[to];
    const float low = std::min(start.z, end.z);
    const float high = std::max(start.z, end.z);
    const bool up = start.z < end.z;
    bool saddle = saddleArm && post.Saddle && *post.Saddle > low && *post.Saddle < high;
    chain.assign(1, start);
    const auto add = [&](float z) { chain.push_back({start.x, start.y, z}); };
    const std::size_t n = post.Levels.size();
    for (std::size_t l = 0; l < n; ++l) {
      const float level = post.Levels[up ? l : n - 1 - l];
      if (level <= low || level >= high) continue;
      if (saddle && (up ? *post.Saddle < level : *post.Saddle > level)) {
        add(*post.Saddle);
        saddle = false;
      }
      add(level);
    }
    if (saddle) add(*post.Saddle);
    if (!Same(chain.back(), end)) chain.push_back(end);
  }

  static void Rung(const Vec3& a, const Vec3& b, std::vector<Vec3>& chain) {
    chain.assign(1, a);
    if (!Same(a, b)) chain.push_back(b);
  }

  // The cell between left_ (a0 .. b0) and right_ (a1 .. b1), two vertical chains joined by
  // the edges a0-a1 and b0-b1. Its boundary runs a1, a0, down left_ to b0, b1 and back up
  // right_, which makes its normal point to the lower of the two pieces (or out of the
  // region). Each triangle takes two vertices from one chain and one from the other, so none
  // is degenerate; where the pieces' edges cross inside the cell its two triangles fold over
  // each other, still sharing each edge once each way.
  void Cell() {
    const Vec3 a0 = left_.front();
    const Vec3 a1 = right_.front();
    std::size_t i = 0;
    std::size_t j = 0;
    while (i + 1 < left_.size() || j + 1 < right_.size()) {
      bool advanceLeft = j + 1 >= right_.size();
      if (i + 1 < left_.size() && j + 1 < right_.size()) {
        advanceLeft = std::abs(left_[i + 1].z - a0.z) <= std::abs(right_[j + 1].z - a1.z);
      }
      if (advanceLeft) {
        out_.Add(right_[j], left_[i], left_[i + 1]);
        ++i;
      } else {
        out_.Add(right_[j], left_[i], right_[j + 1]);
        ++j;
      }
    }
  }

  static void Fan(const Vec3& centre, const std::vector<Vec3>& loop, FaceBatch& out) {
    for (std::size_t k = 0; k < loop.size(); ++k) {
      out.Add(centre, loop[k], loop[(k + 1) % loop.size()]);
    }
  }

  std::size_t columns_;
  std::size_t rows_;
  std::vector<const PieceOutline*> grid_;
  float floorZ_;
  FaceBatch& out_;
  std::vector<Post> posts_;
  std::vector<Vec3> a_;
  std::vector<Vec3> b_;
  std::vector<Vec3> left_;
  std::vector<Vec3> right_;
  std::vector<Vec3> end_;
};

}  // namespace

SolidClosure::SolidClosure(const TileRange& tiles, float floorZ)
    : tiles_(tiles), floorZ_(floorZ), pieces_(tiles.Count()) {}

bool SolidClosure::AddSurface(std::int32_t lon, std::int32_t lat, PieceOutline outline) {
  return Add(lon, lat, std::move(outline), false);
}

void SolidClosure::AddMissing(std::int32_t lon, std::int32_t lat, PieceOutline outline) {
  for (std::vector<Vec3>* side : {&outline.South, &outline.North, &outline.West, &outline.East}) {
    for (Vec3& v : *side) v.z = 0;
  }
  Add(lon, lat, std::move(outline), true);
}

bool SolidClosure::Add(std::int32_t lon, std::int32_t lat, PieceOutline outline, bool filled) {
  if (lon < tiles_.West || lon > tiles_.East || lat < tiles_.South || lat > tiles_.North) {
    throw std::out_of_range("Tile outside the region's tiles");
  }
  // A piece narrower or lower than a float step has no area: its cells are lines.
  if (outline.South.front().x == outline.South.back().x ||
      outline.West.front().y == outline.West.back().y) {
    return false;
  }
  const auto rows = static_cast<std::size_t>(tiles_.North - tiles_.South + 1);
  const auto at = static_cast<std::size_t>(lon - tiles_.West) * rows +
                  static_cast<std::size_t>(lat - tiles_.South);
  pieces_[at] = Piece{std::move(outline), filled};
  return true;
}

std::uint64_t SolidClosure::Close(FaceSink& sink) const {
  const auto allRows = static_cast<std::size_t>(tiles_.North - tiles_.South + 1);
  const std::size_t allColumns = pieces_.size() / allRows;
  // Tile columns and rows of no area are left out; every other tile has its piece.
  std::vector<std::size_t> columns;
  std::vector<std::size_t> rows;
  bool anySurface = false;
  for (std::size_t i = 0; i < allColumns; ++i) {
    for (std::size_t j = 0; j < allRows; ++j) {
      const std::optional<Piece>& piece = pieces_[i * allRows + j];
      if (!piece) continue;
      anySurface = anySurface || !piece->Filled;
      if (columns.empty() || columns.back() != i) columns.push_back(i);
      if (std::find(rows.begin(), rows.end(), j) == rows.end()) rows.push_back(j);
    }
  }
  if (!anySurface) return 0;
  std::sort(rows.begin(), rows.end());

  std::vector<const PieceOutline*> grid;
  grid.reserve(columns.size() * rows.size());
  for (const std::size_t i : columns) {
    for (const std::size_t j : rows) {
      const std::optional<Piece>& piece = pieces_[i * allRows + j];
      if (!piece) throw std::logic_error("A tile of the solid's grid has no piece");
      grid.push_back(&piece->Outline);
    }
  }
  FaceBatch out(sink);
  ShellBuilder shell(columns.size(), rows.size(), std::move(grid), floorZ_, out);
  shell.SidesAndSeams();
  for (const std::optional<Piece>& piece : pieces_) {
    if (piece && piece->Filled) ShellBuilder::Fill(piece->Outline, out);
  }
  shell.Bottom();
  out.Flush();
  return out.Count();
}

}  // namespace orolith
