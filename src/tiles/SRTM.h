#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orolith {

// Numbering matters: it is the order of the kinds in reports and tables. The kinds read through
// GDAL follow NotATile, so that the numbers of the SRTM kinds stay as they were.
enum class TileKind : std::uint8_t {
  Srtm1 = 0,
  Srtm3 = 1,
  Srtm30 = 2,
  NotATile = 3,
  Cop30 = 4,  // a Copernicus GLO-30 tile
  Dem = 5,    // a whole-degree piece of the user's own raster
};

// "SRTM-1", "SRTM-3", "SRTM-30", "Copernicus GLO-30", "DEM raster"; "not an SRTM file".
const char* TileKindName(TileKind kind);

// Samples per row and per column of an SRTM tile kind; 0 for the others, whose grids are not
// square or not of one size.
int TileSamplesPerSide(TileKind kind);
// Byte size of a tile file of that kind; 0 for NotATile.
std::uintmax_t TileFileSize(TileKind kind);
// Kind of a tile file of that byte size.
TileKind TileKindOfSize(std::uintmax_t bytes);

// "N45W122.hgt" for lon -122, lat 45. Wider than 16 bits so that the names of the
// ranges at the field limits (W181, S91) come out whole.
std::string TileFileName(std::int32_t lon, std::int32_t lat);

// Whether a plain file is at path (a link to one counts); a folder, a pipe or a device is no
// tile, and is never opened. A path too long for the system to look up says nothing of the
// tile: that throws FileError ("File name too long") rather than count the tile missing.
bool TileFileExists(const std::string& path);

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

// One elevation tile: row 0 is the southern edge, column 0 the western edge. SRTM tiles hold
// signed 16-bit metres (Samples); tiles read through GDAL hold Float32 metres (Heights) in a
// grid of the same geometry, with a spacing of its own in each direction.
class TSRTM {
 public:
  static constexpr std::int16_t VoidThreshold = -32000;
  // The void a height grid holds where its source had no value; NaN instead marks a sample
  // with no data at all (where the user's raster has no value), which no lookup bridges and no
  // healing fills.
  static constexpr float VoidHeight = -32768.0F;

  TSRTM() = default;

  // Loads a .hgt file; a file of no tile size is rejected (Kind becomes NotATile, the
  // previous grid stays). Throws FileError on open failure (anything but a plain file is
  // refused unopened) or short read, leaving the grid, bounds and kind as they were.
  void LoadFromFile(const std::string& fileName, std::int16_t lon, std::int16_t lat);
  // An SRTM-1-size tile with every sample equal to value.
  void FillConstant(std::int16_t value, std::int16_t lon, std::int16_t lat);

  // Takes over heights (rows × columns, row-major, row 0 south, the outer rows and columns on
  // the tile's edges) as the tile of kind at lon, lat, read from sourceName. The 16-bit
  // samples go.
  void AdoptHeights(std::unique_ptr<float[]> heights, TileKind kind, std::int16_t rows,
                    std::int16_t columns, std::int16_t lon, std::int16_t lat,
                    std::string sourceName) noexcept;

  // Bilinear elevation, clamped into 0..10000; FillValue with LastError set when the point
  // is outside the tile or nothing is loaded; NaN where a height grid has no data around the
  // point. Never throws, never allocates.
  long double ElevationAt(long double lon, long double lat) noexcept;

  // Where one coordinate falls among the samples: its half of a lookup. ElevationAt combines
  // a longitude's and a latitude's; lookups on a grid of points work each out once.
  struct AxisPosition {
    long double offset = 0;  // degrees past the sample at index, 0 .. the sample spacing
    std::int16_t index = 0;  // sample column or row
    bool inside = false;     // within the tile's bounds, the tolerance included
  };
  AxisPosition LonPosition(long double lon) const noexcept;
  AxisPosition LatPosition(long double lat) const noexcept;
  // The value ElevationAt gives at the point of the two positions, without touching
  // LastError, so that several threads may look up at once.
  long double ElevationOf(const AxisPosition& lon, const AxisPosition& lat) const noexcept;

  void SampleIndex(long double lon, long double lat, std::int16_t& row,
                   std::int16_t& column) const noexcept;

  // Heights are healed by the same rule; their replacements keep their fraction.
  std::int32_t HealVoids(std::int32_t radius);
  // Heights with no data at all (NaN) become height; 16-bit samples have none.
  void FillNoData(float height) noexcept;
  // Heights come out rounded to whole metres; samples with no data take no part.
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
  // Row-major block, row 0 first (south); null while the tile holds heights.
  const std::int16_t* Samples() const noexcept { return samples_.get(); }

  // The same for a tile read through GDAL; null while it holds 16-bit samples.
  bool HoldsHeights() const noexcept { return heights_ != nullptr; }
  float Height(int row, int column) const noexcept {
    return heights_[static_cast<std::size_t>(row) * static_cast<std::size_t>(columns_) +
                    static_cast<std::size_t>(column)];
  }
  const float* Heights() const noexcept { return heights_.get(); }

 private:
  // Truncation toward zero, then the clamp into 0 .. last: anything below 1 (NaN included)
  // ends at 0, so only values inside 1 .. last are ever converted.
  static std::int16_t ClampIndex(long double v, int last) noexcept;
  static AxisPosition Position(long double v, std::int16_t origin, std::int16_t samples,
                               long double spacing) noexcept;
  // The lookup behind ElevationAt and ElevationOf: error is set to the text LastError reports.
  long double Interpolate(const AxisPosition& x, const AxisPosition& y,
                          const char*& error) const noexcept;
  // The bilinear blend of the grid's samples around a point inside the tile, unclamped.
  template <typename Value>
  long double Blend(const Value* samples, const AxisPosition& x,
                    const AxisPosition& y) const noexcept;

  // Sets the kind, the grid size, the bounds and the spacings that follow from them.
  void Place(TileKind kind, std::int16_t rows, std::int16_t columns, std::int16_t lon,
             std::int16_t lat) noexcept;
  // Takes over grid (side × side samples) as the tile of kind at lon, lat.
  void Adopt(std::unique_ptr<std::int16_t[]> grid, TileKind kind, std::int16_t side,
             std::int16_t lon, std::int16_t lat) noexcept;

  // Rows × Columns samples, row 0 first; null while nothing was ever loaded. At most one of
  // the two is set.
  std::unique_ptr<std::int16_t[]> samples_;
  std::unique_ptr<float[]> heights_;
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

inline std::int16_t TSRTM::ClampIndex(long double v, int last) noexcept {
  if (!(v >= 1)) return 0;
  if (v >= last) return static_cast<std::int16_t>(last < 0 ? 0 : last);
  return static_cast<std::int16_t>(v);
}

inline void TSRTM::SampleIndex(long double lon, long double lat, std::int16_t& row,
                               std::int16_t& column) const noexcept {
  column = ClampIndex((lon - westLon_) * (columns_ - 1), columns_ - 1);
  row = ClampIndex((lat - southLat_) * (rows_ - 1), rows_ - 1);
}

inline TSRTM::AxisPosition TSRTM::Position(long double v, std::int16_t origin, std::int16_t samples,
                                           long double spacing) noexcept {
  constexpr long double tolerance = 1e-7L;
  const auto clamp = [](long double x, long double lo, long double hi) {
    return x < lo ? lo : (x > hi ? hi : x);
  };
  const long double start = origin;
  AxisPosition p;
  p.inside = v >= start - tolerance && v <= start + 1 + tolerance;
  p.index = ClampIndex((v - origin) * (samples - 1), samples - 1);
  p.offset = clamp(clamp(v - start, 0, 1) - p.index * spacing, 0, spacing);
  return p;
}

inline TSRTM::AxisPosition TSRTM::LonPosition(long double lon) const noexcept {
  return Position(lon, westLon_, columns_, dx_);
}

inline TSRTM::AxisPosition TSRTM::LatPosition(long double lat) const noexcept {
  return Position(lat, southLat_, rows_, dy_);
}

inline long double TSRTM::ElevationAt(long double lon, long double lat) noexcept {
  return Interpolate(LonPosition(lon), LatPosition(lat), lastError_);
}

inline long double TSRTM::ElevationOf(const AxisPosition& lon,
                                      const AxisPosition& lat) const noexcept {
  const char* ignored = nullptr;
  return Interpolate(lon, lat, ignored);
}

inline long double TSRTM::Interpolate(const AxisPosition& x, const AxisPosition& y,
                                      const char*& error) const noexcept {
  if (kind_ == TileKind::NotATile) {
    error = "No SRTM data loaded";
    return fillValue_;
  }
  if (!x.inside) {
    error = "Longitude out of range error";
    return fillValue_;
  }
  if (!y.inside) {
    error = "Latitude out of range error";
    return fillValue_;
  }
  error = "";
  const long double e = heights_ ? Blend(heights_.get(), x, y) : Blend(samples_.get(), x, y);
  return e < 0 ? 0 : (e > 10000 ? 10000 : e);
}

template <typename Value>
inline long double TSRTM::Blend(const Value* samples, const AxisPosition& x,
                                const AxisPosition& y) const noexcept {
  const long double dx = dx_;
  const long double dy = dy_;
  const long double fx = x.offset;
  const long double fy = y.offset;
  const std::int16_t row = y.index;
  const std::int16_t column = x.index;
  const Value* s = samples + static_cast<std::ptrdiff_t>(row) * columns_ + column;
  const long double s00 = s[0];
  if (row == rows_ - 1 && column == columns_ - 1) return s00;
  if (row == rows_ - 1) return (fx * s[1] + (dx - fx) * s00) / dx;
  if (column == columns_ - 1) return (fy * s[columns_] + (dy - fy) * s00) / dy;
  return ((dx - fx) * (dy - fy) * s00 + fx * (dy - fy) * s[1] + (dx - fx) * fy * s[columns_] +
          fx * fy * s[columns_ + 1]) /
         cellArea_;
}

}  // namespace orolith
