#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orolith {

// Numbering matters: it is the order of the kinds in reports and tables.
enum class TileKind : std::uint8_t { Srtm1 = 0, Srtm3 = 1, Srtm30 = 2, NotATile = 3 };

// Samples per row and per column of a tile kind; 0 for NotATile.
int TileSamplesPerSide(TileKind kind);
// Byte size of a tile file of that kind; 0 for NotATile.
std::uintmax_t TileFileSize(TileKind kind);
// Kind of a tile file of that byte size.
TileKind TileKindOfSize(std::uintmax_t bytes);

// "N45W122.hgt" for lon -122, lat 45. Wider than 16 bits so that the names of the
// ranges at the field limits (W181, S91) come out whole.
std::string TileFileName(std::int32_t lon, std::int32_t lat);

// The kind of a tile file from its byte size alone; throws FileError when it can't be opened,
// and without opening it when it is no plain file (a folder, a pipe, a device).
TileKind TileKindOfFile(const std::string& fileName);

// Reads side rows of side big-endian samples, the northern row first as tile files store them,
// into grid: side × side samples, row-major, row 0 the southern row. Throws FileError naming
// fileName when a row can't be read whole (the file ended early or the read failed).
void ReadTileRows(std::FILE* file, int side, std::int16_t* grid, const std::string& fileName);

// The bytes of a tile file holding grid (side × side samples, row-major, row 0 the southern
// row): the northern row first, each sample big-endian. The inverse of ReadTileRows.
std::vector<unsigned char> EncodeTile(int side, std::span<const std::int16_t> grid);
// The same bytes written as fileName, whole or not at all, replacing whatever is under that
// name (a link is not followed); throws FileError.
void WriteTileFile(const std::string& fileName, int side, std::span<const std::int16_t> grid);

// One elevation tile: row 0 is the southern edge, column 0 the western edge.
class TSRTM {
 public:
  static constexpr std::int16_t VoidThreshold = -32000;

  TSRTM() = default;

  // Loads a .hgt file; a file of no tile size is rejected (Kind becomes NotATile, the
  // previous grid stays). Throws FileError on open failure (anything but a plain file is
  // refused unopened) or short read, leaving the grid, bounds and kind as they were.
  void LoadFromFile(const std::string& fileName, std::int16_t lon, std::int16_t lat);
  // An SRTM-1-size tile with every sample equal to value.
  void FillConstant(std::int16_t value, std::int16_t lon, std::int16_t lat);

  // Bilinear elevation, clamped into 0..10000; FillValue with LastError set when the point
  // is outside the tile or nothing is loaded. Never throws, never allocates.
  long double ElevationAt(long double lon, long double lat) noexcept;
  void SampleIndex(long double lon, long double lat, std::int16_t& row,
                   std::int16_t& column) const noexcept;

  std::int32_t HealVoids(std::int32_t radius);
  void GetElevationRange(std::int16_t& min, std::int16_t& max) const noexcept;
  std::string PropertiesReport() const;

  TileKind Kind() const noexcept { return kind_; }
  const std::string& SourceName() const noexcept { return sourceName_; }
  std::string_view LastError() const noexcept { return lastError_; }
  std::int16_t Rows() const noexcept { return rows_; }
  std::int16_t Columns() const noexcept { return columns_; }
  std::int16_t FillValue() const noexcept { return fillValue_; }
  std::int16_t SouthLat() const noexcept { return southLat_; }
  std::int16_t NorthLat() const noexcept { return northLat_; }
  std::int16_t WestLon() const noexcept { return westLon_; }
  std::int16_t EastLon() const noexcept { return eastLon_; }

  std::int16_t Sample(int row, int column) const noexcept {
    return samples_[static_cast<std::size_t>(row) * static_cast<std::size_t>(columns_) +
                    static_cast<std::size_t>(column)];
  }
  std::int16_t& Sample(int row, int column) noexcept {
    return samples_[static_cast<std::size_t>(row) * static_cast<std::size_t>(columns_) +
                    static_cast<std::size_t>(column)];
  }
  // Row-major block, row 0 first (south).
  const std::int16_t* Samples() const noexcept { return samples_.get(); }

 private:
  // Takes over grid (side × side samples) as the tile of kind at lon, lat.
  void Adopt(std::unique_ptr<std::int16_t[]> grid, TileKind kind, std::int16_t side,
             std::int16_t lon, std::int16_t lat) noexcept;

  // Rows × Columns samples, row 0 first; null while nothing was ever loaded.
  std::unique_ptr<std::int16_t[]> samples_;
  // Sample spacing and cell area in degrees, fixed by the grid size and kept so that the
  // lookup does not divide three times per call.
  long double dx_ = 0;
  long double dy_ = 0;
  long double cellArea_ = 0;
  TileKind kind_ = TileKind::NotATile;
  std::string sourceName_;
  const char* lastError_ = "";
  std::int16_t rows_ = 0;
  std::int16_t columns_ = 0;
  std::int16_t fillValue_ = 0;
  std::int16_t southLat_ = 0;
  std::int16_t northLat_ = 0;
  std::int16_t westLon_ = 0;
  std::int16_t eastLon_ = 0;
};

inline void TSRTM::SampleIndex(long double lon, long double lat, std::int16_t& row,
                               std::int16_t& column) const noexcept {
  // Truncation toward zero, then the clamp: anything below 1 (NaN included) ends at 0, so
  // only values inside 1 .. last are ever converted.
  const auto clampIndex = [](long double v, int last) {
    if (!(v >= 1)) return std::int16_t{0};
    if (v >= last) return static_cast<std::int16_t>(last < 0 ? 0 : last);
    return static_cast<std::int16_t>(v);
  };
  column = clampIndex((lon - westLon_) * (columns_ - 1), columns_ - 1);
  row = clampIndex((lat - southLat_) * (rows_ - 1), rows_ - 1);
}

inline long double TSRTM::ElevationAt(long double lon, long double lat) noexcept {
  constexpr long double tolerance = 1e-7L;
  if (kind_ == TileKind::NotATile) {
    lastError_ = "No SRTM data loaded";
    return fillValue_;
  }
  const long double west = westLon_;
  const long double south = southLat_;
  if (!(lon >= west - tolerance && lon <= west + 1 + tolerance)) {
    lastError_ = "Longitude out of range error";
    return fillValue_;
  }
  if (!(lat >= south - tolerance && lat <= south + 1 + tolerance)) {
    lastError_ = "Latitude out of range error";
    return fillValue_;
  }
  lastError_ = "";
  const long double dx = dx_;
  const long double dy = dy_;
  std::int16_t row = 0;
  std::int16_t column = 0;
  SampleIndex(lon, lat, row, column);
  const auto clamp = [](long double v, long double lo, long double hi) {
    return v < lo ? lo : (v > hi ? hi : v);
  };
  const long double fx = clamp(clamp(lon - west, 0, 1) - column * dx, 0, dx);
  const long double fy = clamp(clamp(lat - south, 0, 1) - row * dy, 0, dy);
  const std::int16_t* s = samples_.get() + static_cast<std::ptrdiff_t>(row) * columns_ + column;
  const long double s00 = s[0];
  long double e;
  if (row == rows_ - 1 && column == columns_ - 1) {
    e = s00;
  } else if (row == rows_ - 1) {
    e = (fx * s[1] + (dx - fx) * s00) / dx;
  } else if (column == columns_ - 1) {
    e = (fy * s[columns_] + (dy - fy) * s00) / dy;
  } else {
    e = ((dx - fx) * (dy - fy) * s00 + fx * (dy - fy) * s[1] + (dx - fx) * fy * s[columns_] +
         fx * fy * s[columns_ + 1]) /
        cellArea_;
  }
  return clamp(e, 0, 10000);
}

}  // namespace orolith
