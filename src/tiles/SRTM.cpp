#include "tiles/SRTM.h"

#include "base/Errors.h"
#include "base/FileDescriptor.h"
#include "base/Files.h"
#include "base/NumberText.h"
#include "tiles/HealGrid.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <type_traits>
#include <utility>

namespace orolith {
namespace {

struct FileCloser {
  void operator()(std::FILE* f) const noexcept { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// A folder has no size to speak of, and opening a pipe waits for a writer: both are refused.
FilePtr OpenForReading(const std::string& fileName) {
  struct stat info {};
  FileDescriptor fd = OpenPlainFile(fileName, info);
  FilePtr file(::fdopen(fd.Get(), "rb"));
  if (!file) throw CannotOpenFile(fileName, errno);
  fd.Release();  // the stream closes it now
  return file;
}

// The kind of an open tile file, from its size.
TileKind KindOfOpenFile(std::FILE* file, const std::string& fileName) {
  struct stat info {};
  if (::fstat(::fileno(file), &info) != 0) throw CannotOpenFile(fileName, errno);
  return TileKindOfSize(static_cast<std::uintmax_t>(info.st_size));
}

// A sample as tile files store it, most significant byte first, whatever the host's order.
std::int16_t DecodeBigEndian(std::int16_t stored) noexcept {
  unsigned char bytes[2];
  std::memcpy(bytes, &stored, 2);
  return static_cast<std::int16_t>(static_cast<std::uint16_t>((bytes[0] << 8) | bytes[1]));
}

}  // namespace

const char* TileKindName(TileKind kind) {
  switch (kind) {
    case TileKind::Srtm1:
      return "SRTM-1";
    case TileKind::Srtm3:
      return "SRTM-3";
    case TileKind::Srtm30:
      return "SRTM-30";
    case TileKind::Cop30:
      return "Copernicus GLO-30";
    case TileKind::Dem:
      return "DEM raster";
    case TileKind::NotATile:
      break;
  }
  return "not an SRTM file";
}

int TileSamplesPerSide(TileKind kind) {
  switch (kind) {
    case TileKind::Srtm1:
      return 3601;
    case TileKind::Srtm3:
      return 1201;
    case TileKind::Srtm30:
      return 121;
    case TileKind::NotATile:
    case TileKind::Cop30:
    case TileKind::Dem:
      break;
  }
  return 0;
}

std::uintmax_t TileFileSize(TileKind kind) {
  const auto side = static_cast<std::uintmax_t>(TileSamplesPerSide(kind));
  return side * side * 2;
}

TileKind TileKindOfSize(std::uintmax_t bytes) {
  for (TileKind kind : {TileKind::Srtm1, TileKind::Srtm3, TileKind::Srtm30}) {
    if (bytes == TileFileSize(kind)) return kind;
  }
  return TileKind::NotATile;
}

std::string TileFileName(std::int32_t lon, std::int32_t lat) {
  return FormatText(
      '.', "%s%.2d%s%.3d.hgt",
      {lat >= 0 ? "N" : "S", lat < 0 ? -lat : lat, lon >= 0 ? "E" : "W", lon < 0 ? -lon : lon});
}

bool TileFileExists(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0) return S_ISREG(info.st_mode);
  if (errno == ENAMETOOLONG) throw CannotOpenFile(path, ENAMETOOLONG);
  return false;
}

TileKind TileKindOfFile(const std::string& fileName) {
  return KindOfOpenFile(OpenForReading(fileName).get(), fileName);
}

void ReadTileRows(std::FILE* file, int side, std::int16_t* grid, const std::string& fileName) {
  if (side <= 0) return;
  const auto width = static_cast<std::size_t>(side);
  // Blocks of rows are read straight into their place in the grid, then turned around (the
  // file starts in the north) and decoded while they are still in the cache: no row buffer,
  // no read call per row, no second pass over the whole grid.
  constexpr std::size_t rowsPerRead = 32;
  for (std::size_t done = 0; done < width;) {
    const std::size_t rows = std::min(rowsPerRead, width - done);
    std::int16_t* block = grid + (width - done - rows) * width;
    const std::size_t bytes = rows * width * 2;
    if (std::fread(block, 1, bytes, file) != bytes) {
      if (std::ferror(file) != 0) throw CannotReadFile(fileName, errno);
      throw CannotReadFile(fileName, "The file ended before its last row");
    }
    for (std::size_t south = 0, north = rows - 1; south <= north; ++south, --north) {
      std::int16_t* a = block + south * width;
      std::int16_t* b = block + north * width;
      for (std::size_t c = 0; c < width; ++c) {
        const std::int16_t fromNorth = DecodeBigEndian(b[c]);
        b[c] = DecodeBigEndian(a[c]);
        a[c] = fromNorth;
      }
      if (north == 0) break;
    }
    done += rows;
  }
}

std::vector<unsigned char> EncodeTile(int side, std::span<const std::int16_t> grid) {
  const auto width = static_cast<std::size_t>(std::max(side, 0));
  if (grid.size() != width * width)
    throw std::invalid_argument("EncodeTile: grid is not side x side");
  std::vector<unsigned char> bytes(grid.size() * 2);
  unsigned char* out = bytes.data();
  for (std::size_t row = width; row-- > 0;) {
    for (const std::int16_t sample : grid.subspan(row * width, width)) {
      const auto raw = static_cast<std::uint16_t>(sample);
      *out++ = static_cast<unsigned char>(raw >> 8);
      *out++ = static_cast<unsigned char>(raw & 0xFF);
    }
  }
  return bytes;
}

void WriteTileFile(const std::string& fileName, int side, std::span<const std::int16_t> grid) {
  const std::vector<unsigned char> bytes = EncodeTile(side, grid);
  WriteFileAtomically(fileName, std::as_bytes(std::span(bytes)),
                      AtomicOutputFile::Placement::ReplaceLinks);
}

void TSRTM::Place(TileKind kind, std::int16_t rows, std::int16_t columns, std::int16_t lon,
                  std::int16_t lat) noexcept {
  kind_ = kind;
  rows_ = rows;
  columns_ = columns;
  dx_ = 1.0L / (columns_ - 1);
  dy_ = 1.0L / (rows_ - 1);
  cellArea_ = dx_ * dy_;
  southLat_ = lat;
  northLat_ = static_cast<std::int16_t>(lat + 1);
  westLon_ = lon;
  eastLon_ = static_cast<std::int16_t>(lon + 1);
}

void TSRTM::Adopt(std::unique_ptr<std::int16_t[]> grid, TileKind kind, std::int16_t side,
                  std::int16_t lon, std::int16_t lat) noexcept {
  samples_ = std::move(grid);
  heights_.reset();
  Place(kind, side, side, lon, lat);
}

void TSRTM::LoadFromFile(const std::string& fileName, std::int16_t lon, std::int16_t lat) {
  std::string previousName = std::exchange(sourceName_, fileName);
  // One open serves both the size test and the read, so the file read is the file measured.
  const FilePtr file = OpenForReading(fileName);
  const TileKind kind = KindOfOpenFile(file.get(), fileName);
  if (kind == TileKind::NotATile) {
    kind_ = kind;
    return;
  }
  const auto side = static_cast<std::int16_t>(TileSamplesPerSide(kind));
  const auto count = static_cast<std::size_t>(side) * static_cast<std::size_t>(side);
  // Read into a fresh grid so that a failed read leaves the previous tile whole.
  auto grid = std::make_unique_for_overwrite<std::int16_t[]>(count);
  try {
    ReadTileRows(file.get(), side, grid.get(), fileName);
  } catch (const FileError&) {
    // A file that shrank after its size was taken: the tile stays exactly as it was.
    sourceName_ = std::move(previousName);
    throw;
  }
  Adopt(std::move(grid), kind, side, lon, lat);
}

void TSRTM::FillConstant(std::int16_t value, std::int16_t lon, std::int16_t lat) {
  const auto side = static_cast<std::int16_t>(TileSamplesPerSide(TileKind::Srtm1));
  const auto count = static_cast<std::size_t>(side) * static_cast<std::size_t>(side);
  std::string name = FormatText('.', "CONSTANT_FILL=%d", {value});
  // A grid of the same size is reused: a region of missing tiles fills one after another.
  std::unique_ptr<std::int16_t[]> grid =
      samples_ && rows_ == side && columns_ == side
          ? std::move(samples_)
          : std::make_unique_for_overwrite<std::int16_t[]>(count);
  std::fill_n(grid.get(), count, value);
  Adopt(std::move(grid), TileKind::Srtm1, side, lon, lat);
  sourceName_ = std::move(name);
}

void TSRTM::AdoptHeights(std::unique_ptr<float[]> heights, TileKind kind, std::int16_t rows,
                         std::int16_t columns, std::int16_t lon, std::int16_t lat,
                         std::string sourceName) noexcept {
  heights_ = std::move(heights);
  samples_.reset();
  Place(kind, rows, columns, lon, lat);
  sourceName_ = std::move(sourceName);
}

std::int32_t TSRTM::HealVoids(std::int32_t radius) {
  if (heights_)
    return HealGrid(heights_.get(), rows_, columns_, radius, static_cast<float>(fillValue_), 0,
                    static_cast<int>(rows_));
  if (!samples_) return 0;
  return HealGrid(samples_.get(), rows_, columns_, radius, fillValue_, 0, static_cast<int>(rows_));
}

void TSRTM::FillNoData(float height) noexcept {
  if (!heights_) return;
  float* h = heights_.get();
  const std::size_t n = static_cast<std::size_t>(rows_) * static_cast<std::size_t>(columns_);
  for (std::size_t i = 0; i < n; ++i) {
    if (std::isnan(h[i])) h[i] = height;
  }
}

void TSRTM::GetElevationRange(std::int16_t& min, std::int16_t& max) const noexcept {
  if (heights_) {
    float lo = 32000;
    float hi = -32000;
    const float* h = heights_.get();
    const std::size_t n = static_cast<std::size_t>(rows_) * static_cast<std::size_t>(columns_);
    // NaN fails both tests and takes no part.
    for (std::size_t i = 0; i < n; ++i) {
      lo = h[i] < lo ? h[i] : lo;
      hi = h[i] > hi ? h[i] : hi;
    }
    const auto metres = [](float v) {
      return static_cast<std::int16_t>(std::clamp(RoundHalfEven(v), -32768, 32767));
    };
    min = metres(lo);
    max = metres(hi);
    return;
  }
  std::int16_t lo = 32000;
  std::int16_t hi = -32000;
  const std::size_t n = static_cast<std::size_t>(rows_) * static_cast<std::size_t>(columns_);
  const std::int16_t* s = samples_.get();
  for (std::size_t i = 0; i < n; ++i) {
    lo = std::min(lo, s[i]);
    hi = std::max(hi, s[i]);
  }
  min = lo;
  max = hi;
}

std::string TSRTM::PropertiesReport() const {
  std::int16_t min = 0;
  std::int16_t max = 0;
  GetElevationRange(min, max);
  const char* crlf = "\r\n";
  const std::string label = kind_ == TileKind::NotATile
                                ? std::string(TileKindName(kind_))
                                : std::string(TileKindName(kind_)) + " Data";
  return "Properties of File : " + sourceName_ + crlf + label + crlf +
         FormatText('.', "Northern, Southern Limits : %d  %d degrees %s",
                    {northLat_, southLat_, crlf}) +
         FormatText('.', "Eastern, Western Limits : %d %d degrees %s", {eastLon_, westLon_, crlf}) +
         FormatText('.', "Rows, columns of data : %d  %d %s", {rows_, columns_, crlf}) +
         FormatText('.', "Elevation limits of data : %d to %d m ", {min, max});
}

}  // namespace orolith
