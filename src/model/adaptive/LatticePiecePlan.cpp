#include "model/adaptive/LatticePiecePlan.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace orolith::lattice {
namespace {

// Edges of count blocks over cells cells, as even as whole cells allow.
void SplitEvenly(std::uint32_t cells, std::uint32_t maxCells, std::vector<std::uint32_t>& edges) {
  const std::uint32_t count = std::max<std::uint32_t>(1, (cells + maxCells - 1) / maxCells);
  edges.resize(count + 1);
  for (std::uint32_t i = 0; i <= count; ++i) {
    edges[i] = static_cast<std::uint32_t>(static_cast<std::uint64_t>(cells) * i / count);
  }
}

// The kept points of a line from one lattice index to another, both ends included.
std::span<const std::uint32_t> Along(const std::vector<std::uint32_t>& line, std::uint32_t from,
                                     std::uint32_t to) {
  const auto first = std::lower_bound(line.begin(), line.end(), from);
  const auto last = std::upper_bound(first, line.end(), to);
  return {line.data() + (first - line.begin()), static_cast<std::size_t>(last - first)};
}

}  // namespace

void PiecePlan::Make(const LatticeHeights& heights, std::uint32_t columns, std::uint32_t rows,
                     std::uint32_t blockPoints, float maxError) {
  heights_ = &heights;
  columns_ = columns;
  rows_ = rows;
  maxError_ = maxError;
  SplitEvenly(columns, blockPoints - 1, qs_);
  SplitEvenly(rows, blockPoints - 1, rs_);
  line_.resize(std::max(columns, rows) + 1);
  FindStraightBorders();
  MakeBlocks();
  SimplifyBorders();
}

LatticeRect PiecePlan::Rect(std::uint32_t b) const {
  const Span& s = blocks_[b];
  return {qs_[s.i0], rs_[s.j0], qs_[s.i1] - qs_[s.i0] + 1, rs_[s.j1] - rs_[s.j0] + 1};
}

BlockSides PiecePlan::Sides(std::uint32_t b) const {
  const LatticeRect rect = Rect(b);
  const Span& s = blocks_[b];
  const std::uint32_t east = rect.Q0 + rect.Columns - 1;
  const std::uint32_t north = rect.R0 + rect.Rows - 1;
  return {Along(horizontal_[s.j0], rect.Q0, east),
          Along(horizontal_[s.j1], rect.Q0, east),
          Along(vertical_[s.i0], rect.R0, north),
          Along(vertical_[s.i1], rect.R0, north),
          rect.Q0,
          rect.R0};
}

void PiecePlan::FillColumnEdge(std::uint32_t i) {
  heights_->Fill({qs_[i], 0, 1, rows_ + 1}, line_.data(), 1);
}

void PiecePlan::FillRowEdge(std::uint32_t j) {
  heights_->Fill({0, rs_[j], columns_ + 1, 1}, line_.data(), 1);
}

void PiecePlan::Simplify(std::uint32_t first, std::uint32_t last) {
  const std::span<const float> samples(line_.data() + first, last - first + 1);
  float largest = 0;
  for (const float z : samples) largest = std::max(largest, std::fabs(z));
  simplifier_.Simplify(samples, AimedError(maxError_, largest), kept_);
  for (std::uint32_t& k : kept_) k += first;
}

void PiecePlan::FindStraightBorders() {
  const std::uint32_t baseColumns = BaseColumns();
  const std::uint32_t baseRows = BaseRows();
  straightVertical_.assign(static_cast<std::size_t>(baseColumns + 1) * baseRows, 0);
  straightHorizontal_.assign(static_cast<std::size_t>(baseRows + 1) * baseColumns, 0);
  for (std::uint32_t i = 1; i < baseColumns; ++i) {
    FillColumnEdge(i);
    for (std::uint32_t j = 0; j < baseRows; ++j) {
      Simplify(rs_[j], rs_[j + 1]);
      straightVertical_[static_cast<std::size_t>(i) * baseRows + j] = kept_.size() == 2 ? 1 : 0;
    }
  }
  for (std::uint32_t j = 1; j < baseRows; ++j) {
    FillRowEdge(j);
    for (std::uint32_t i = 0; i < baseColumns; ++i) {
      Simplify(qs_[i], qs_[i + 1]);
      straightHorizontal_[static_cast<std::size_t>(j) * baseColumns + i] =
          kept_.size() == 2 ? 1 : 0;
    }
  }
}

void PiecePlan::Group(std::uint32_t i0, std::uint32_t j0, std::uint32_t size) {
  const std::uint32_t columns = BaseColumns();
  const std::uint32_t rows = BaseRows();
  if (i0 >= columns || j0 >= rows) return;
  const std::uint32_t i1 = std::min(i0 + size, columns);
  const std::uint32_t j1 = std::min(j0 + size, rows);
  bool straight = true;
  for (std::uint32_t i = i0 + 1; i < i1 && straight; ++i) {
    for (std::uint32_t j = j0; j < j1 && straight; ++j) {
      straight = straightVertical_[static_cast<std::size_t>(i) * rows + j] != 0;
    }
  }
  for (std::uint32_t j = j0 + 1; j < j1 && straight; ++j) {
    for (std::uint32_t i = i0; i < i1 && straight; ++i) {
      straight = straightHorizontal_[static_cast<std::size_t>(j) * columns + i] != 0;
    }
  }
  if (size == 1 || straight) {
    blocks_.push_back({i0, j0, i1, j1});
    return;
  }
  const std::uint32_t half = size / 2;
  Group(i0, j0, half);
  Group(i0, j0 + half, half);
  Group(i0 + half, j0, half);
  Group(i0 + half, j0 + half, half);
}

// The blocks, their owners and their corners.
void PiecePlan::MakeBlocks() {
  const std::uint32_t baseColumns = BaseColumns();
  const std::uint32_t baseRows = BaseRows();
  blocks_.clear();
  for (std::uint32_t i = 0; i < baseColumns; i += GroupBlocks) {
    for (std::uint32_t j = 0; j < baseRows; j += GroupBlocks) Group(i, j, GroupBlocks);
  }
  std::sort(blocks_.begin(), blocks_.end(),
            [](const Span& a, const Span& b) { return a.i0 != b.i0 ? a.i0 < b.i0 : a.j0 < b.j0; });
  owner_.assign(static_cast<std::size_t>(baseColumns) * baseRows, 0);
  corner_.assign(static_cast<std::size_t>(baseColumns + 1) * (baseRows + 1), 0);
  for (std::uint32_t b = 0; b < blocks_.size(); ++b) {
    const Span& s = blocks_[b];
    for (std::uint32_t i = s.i0; i < s.i1; ++i) {
      for (std::uint32_t j = s.j0; j < s.j1; ++j)
        owner_[static_cast<std::size_t>(i) * baseRows + j] = b;
    }
    for (const std::uint32_t i : {s.i0, s.i1}) {
      for (const std::uint32_t j : {s.j0, s.j1})
        corner_[static_cast<std::size_t>(i) * (baseRows + 1) + j] = 1;
    }
  }
}

// The borders, run by run: a run goes on through base grid points that are no block's corner.
void PiecePlan::SimplifyBorders() {
  const std::uint32_t baseColumns = BaseColumns();
  const std::uint32_t baseRows = BaseRows();
  const auto runs = [&](std::uint32_t segments, const std::vector<std::uint32_t>& edges,
                        auto&& border, auto&& isCorner, std::vector<std::uint32_t>& out) {
    out.clear();
    for (std::uint32_t s = 0; s < segments;) {
      if (!border(s)) {
        ++s;
        continue;
      }
      std::uint32_t e = s + 1;
      while (e < segments && border(e) && !isCorner(e)) ++e;
      Simplify(edges[s], edges[e]);
      for (const std::uint32_t k : kept_) {
        if (out.empty() || out.back() != k) out.push_back(k);
      }
      s = e;
    }
  };
  vertical_.resize(baseColumns + 1);
  for (std::uint32_t i = 0; i <= baseColumns; ++i) {
    FillColumnEdge(i);
    runs(
        baseRows, rs_,
        [&](std::uint32_t j) {
          return i == 0 || i == baseColumns ||
                 owner_[static_cast<std::size_t>(i - 1) * baseRows + j] !=
                     owner_[static_cast<std::size_t>(i) * baseRows + j];
        },
        [&](std::uint32_t j) {
          return corner_[static_cast<std::size_t>(i) * (baseRows + 1) + j] != 0;
        },
        vertical_[i]);
  }
  horizontal_.resize(baseRows + 1);
  for (std::uint32_t j = 0; j <= baseRows; ++j) {
    FillRowEdge(j);
    runs(
        baseColumns, qs_,
        [&](std::uint32_t i) {
          return j == 0 || j == baseRows ||
                 owner_[static_cast<std::size_t>(i) * baseRows + j - 1] !=
                     owner_[static_cast<std::size_t>(i) * baseRows + j];
        },
        [&](std::uint32_t i) {
          return corner_[static_cast<std::size_t>(i) * (baseRows + 1) + j] != 0;
        },
        horizontal_[j]);
  }
}

}  // namespace orolith::lattice
