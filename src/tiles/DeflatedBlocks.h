#pragma once

// The blocks of a raster stored as the Copernicus tiles are, decoded without GDAL: read from
// the file, inflated by libdeflate, the floating-point predictor undone here. Private to the
// tiles library.

#include "base/ReadOnlyFile.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct libdeflate_decompressor;

namespace orolith {

// Where each block of such a raster lies in its file: a little-endian GeoTIFF of one band of
// Float32 samples, each block deflated (zlib) after the floating-point predictor.
struct DeflatedFloatLayout {
  int Width = 0;  // of the raster, pixels
  int Height = 0;
  int BlockWidth = 0;
  int BlockHeight = 0;
  // Block by block, row-major; a block not in the file (offset or size 0) is refused.
  std::vector<std::uint64_t> Offsets;
  std::vector<std::uint64_t> Sizes;

  std::int64_t BlocksAcross() const noexcept {
    return (std::int64_t{Width} + BlockWidth - 1) / BlockWidth;
  }
};

// Reads windows of such a raster. One reader serves one thread; several may read one file at
// once. Throws FileError ("Cannot open file ..." or "Cannot read file ...") naming the file.
class DeflatedFloatReader {
 public:
  // Samples equal to noData (none when it is NaN) and NaN samples are read as voidHeight.
  DeflatedFloatReader(std::string fileName, const DeflatedFloatLayout& layout, float noData,
                      float voidHeight);

  // The window of width × height pixels at x0, y0: row y of it to rows(y), width values, as
  // GDAL's WindowReader delivers it.
  template <typename RowAddress>
  void Read(int x0, int y0, int width, int height, RowAddress&& rows);

 private:
  // Inflates block bx, by and undoes the predictor in its first rows rows, which are all a
  // read needs of it; their bytes stay in planes_, plane by plane in each row.
  void Decode(int bx, int by, int rows);
  // Columns left .. right - 1 of decoded row y of the block, as Float32 values into out, voids
  // marked.
  void Assemble(int y, int left, int right, float* out) const noexcept;

  struct DecompressorFree {
    void operator()(libdeflate_decompressor* decompressor) const noexcept;
  };

  ReadOnlyFile file_;
  const DeflatedFloatLayout* layout_;
  float noData_;
  float voidHeight_;
  std::unique_ptr<libdeflate_decompressor, DecompressorFree> decompressor_;
  std::vector<unsigned char> packed_;
  std::vector<unsigned char> planes_;
};

template <typename RowAddress>
void DeflatedFloatReader::Read(int x0, int y0, int width, int height, RowAddress&& rows) {
  if (width <= 0 || height <= 0) return;
  const int bw = layout_->BlockWidth;
  const int bh = layout_->BlockHeight;
  for (int by = y0 / bh; by * bh < y0 + height; ++by) {
    const int top = std::max(y0, by * bh);
    const int bottom = std::min(y0 + height, (by + 1) * bh);
    for (int bx = x0 / bw; bx * bw < x0 + width; ++bx) {
      const int left = std::max(x0, bx * bw);
      const int right = std::min(x0 + width, (bx + 1) * bw);
      Decode(bx, by, bottom - by * bh);
      for (int y = top; y < bottom; ++y) {
        Assemble(y - by * bh, left - bx * bw, right - bx * bw, rows(y - y0) + (left - x0));
      }
    }
  }
}

}  // namespace orolith
