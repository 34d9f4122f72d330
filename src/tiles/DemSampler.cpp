#include "tiles/DemSampler.h"

#include "base/Errors.h"
#include "base/Interrupt.h"
#include "tiles/DemRasterState.h"
#include "tiles/HealGrid.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace orolith {
namespace {

// The window HealVoids looks at around a void: seven by seven samples.
constexpr int HealRadius = 3;

}  // namespace

// Lines top .. bottom - 1 of the raster, columns x0 .. x1 - 1 of them, as Float32 heights with
// the voids marked as a tile marks them; those above healedTo healed.
struct DemSampler::Lines {
  explicit Lines(DemRaster::State& s)
      : state(s),
        band(GDALGetRasterBand(s.dataset.get(), 1)),
        reader(band, s.description.Name),
        width(s.description.Width),
        height(s.description.Height) {
    int blockWidth = 0;
    GDALGetBlockSize(band, &blockWidth, &blockHeight);
    blockHeight = std::max(blockHeight, 1);
    int has = 0;
    noData = GDALGetRasterNoDataValue(band, &has);
    hasNoData = has != 0;
  }

  // Holds lines first .. last healed, over columns left .. right - 1 at least.
  void Hold(int first, int last, int left, int right);
  // Reads lines bottom .. bottom + the rest of its block row.
  void ReadMore();
  float At(int line, int column) const noexcept {
    return data[static_cast<std::size_t>(line - top) * static_cast<std::size_t>(x1 - x0) +
                static_cast<std::size_t>(column - x0)];
  }

  DemRaster::State& state;
  GDALRasterBandH band;
  gdal::WindowReader reader;
  int width;
  int height;
  int blockHeight = 1;
  double noData = 0;
  bool hasNoData = false;
  int x0 = 0;
  int x1 = 0;
  int top = 0;
  int bottom = 0;
  int healedTo = 0;
  long healed = 0;
  float outside = 0;
  std::vector<float> data;
};

void DemSampler::Lines::Hold(int first, int last, int left, int right) {
  left = std::max(left - HealRadius - 1, 0);
  right = std::min(right + HealRadius + 1, width);
  // A wider band of columns, or a line above those held, is read afresh.
  if (left < x0 || right > x1 || std::max(first - HealRadius, 0) < top || bottom == top) {
    x0 = std::min(left, x1 > x0 ? x0 : left);
    x1 = std::max(right, x1 > x0 ? x1 : right);
    top = bottom = healedTo = std::max(first - HealRadius, 0);
    data.clear();
  }
  // Lines far enough above the first are done with; the healing of the next ones looks at the
  // last few of them.
  const int keepFrom = std::max(first - HealRadius, top);
  if (keepFrom > top && keepFrom <= healedTo) {
    const auto w = static_cast<std::size_t>(x1 - x0);
    data.erase(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(
                                                static_cast<std::size_t>(keepFrom - top) * w));
    top = keepFrom;
  }
  const int healThrough = std::min(last, height - 1);
  while (bottom < std::min(healThrough + HealRadius + 1, height)) ReadMore();
  if (healedTo <= healThrough) {
    healed += HealGrid(data.data(), bottom - top, x1 - x0, HealRadius, 0.0F, healedTo - top,
                       healThrough + 1 - top);
    healedTo = healThrough + 1;
  }
}

void DemSampler::Lines::ReadMore() {
  ThrowIfInterrupted();
  const int end = std::min(height, (bottom / blockHeight + 1) * blockHeight);
  const auto w = static_cast<std::size_t>(x1 - x0);
  const std::size_t before = data.size();
  data.resize(before + static_cast<std::size_t>(end - bottom) * w);
  float* first = data.data() + before;
  try {
    reader.Read(x0, bottom, x1 - x0, end - bottom,
                [&](int y) { return first + static_cast<std::size_t>(y) * w; });
  } catch (const FileError&) {
    // A stop makes the reads fail: it is no fault of the raster's.
    ThrowIfInterrupted();
    throw;
  }
  const auto noDataValue = static_cast<float>(noData);
  for (float* h = first; h != data.data() + data.size(); ++h) {
    if (std::isnan(*h) || (hasNoData && *h == noDataValue)) *h = TSRTM::VoidHeight;
  }
  bottom = end;
}

DemSampler::DemSampler(DemRaster& raster, float outside)
    : lines_(std::make_unique<Lines>(*raster.state_)) {
  lines_->outside = outside;
}

DemSampler::~DemSampler() = default;

long DemSampler::Healed() const noexcept {
  return lines_->healed;
}

void DemSampler::Sample(std::size_t rows, std::size_t perRow, const RowPoints& points, float* out) {
  if (rows == 0 || perRow == 0) return;
  Lines& l = *lines_;
  void* transformer = l.state.transformer.get();
  const auto n = static_cast<int>(perRow);
  std::vector<double> x(perRow);
  std::vector<double> y(perRow);
  std::vector<double> z(perRow);
  std::vector<int> done(perRow);
  const gdal::ErrorCapture quiet;
  const auto transform = [&](std::size_t row) {
    points(row, x.data(), y.data());
    std::fill(z.begin(), z.end(), 0.0);
    GDALGenImgProjTransform(transformer, TRUE, n, x.data(), y.data(), z.data(), done.data());
  };
  const auto middleLine = [&](std::size_t row) {
    transform(row);
    return y[perRow / 2];
  };
  // Down the raster's lines, whichever way round the rows run.
  const bool reversed = middleLine(rows - 1) < middleLine(0);

  const double w = l.width;
  const double h = l.height;
  for (std::size_t k = 0; k < rows; ++k) {
    const std::size_t row = reversed ? rows - 1 - k : k;
    transform(row);
    int first = l.height;
    int last = -1;
    int left = l.width;
    int right = 0;
    for (std::size_t i = 0; i < perRow; ++i) {
      if (!done[i] || !(x[i] >= 0 && x[i] <= w && y[i] >= 0 && y[i] <= h)) {
        done[i] = 0;
        continue;
      }
      // Pixel centres lie half a pixel in; beyond the outer ones the edge's value holds.
      x[i] = std::clamp(x[i] - 0.5, 0.0, w - 1);
      y[i] = std::clamp(y[i] - 0.5, 0.0, h - 1);
      const auto line = static_cast<int>(y[i]);
      const auto column = static_cast<int>(x[i]);
      first = std::min(first, line);
      last = std::max(last, std::min(line + 1, l.height - 1));
      left = std::min(left, column);
      right = std::max(right, std::min(column + 2, l.width));
    }
    float* heights = out + row * perRow;
    if (last >= first) l.Hold(first, last, left, right);
    for (std::size_t i = 0; i < perRow; ++i) {
      if (!done[i]) {
        heights[i] = l.outside;
        continue;
      }
      const int c0 = std::min(static_cast<int>(x[i]), std::max(l.width - 2, 0));
      const int r0 = std::min(static_cast<int>(y[i]), std::max(l.height - 2, 0));
      const int c1 = std::min(c0 + 1, l.width - 1);
      const int r1 = std::min(r0 + 1, l.height - 1);
      const double fx = x[i] - c0;
      const double fy = y[i] - r0;
      const double e = (1 - fy) * ((1 - fx) * l.At(r0, c0) + fx * l.At(r0, c1)) +
                       fy * ((1 - fx) * l.At(r1, c0) + fx * l.At(r1, c1));
      heights[i] = static_cast<float>(std::clamp(e, 0.0, 10000.0));
    }
  }
}

}  // namespace orolith
