#include "tiles/SRTM.h"

#include <cerrno>
#include <cstdio>
#include <memory>

#include "frontpanel/NumberText.h"
#include "frontpanel/TSystem.h"

namespace orolith {
namespace {

struct FileCloser {
  void operator()(std::FILE* f) const noexcept { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

FilePtr OpenForReading(const std::string& fileName) {
  FilePtr file(std::fopen(fileName.c_str(), "rb"));
  if (!file) throw CannotOpenFile(fileName, errno);
  return file;
}

}  // namespace

int TileSamplesPerSide(TileKind kind) {
  switch (kind) {
    case TileKind::Srtm1:
      return 3601;
    case TileKind::Srtm3:
      return 1201;
    case TileKind::Srtm30:
      return 121;
    case TileKind::NotATile:
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
  return FormatText('.', "%s%.2d%s%.3d.hgt",
                    {lat >= 0 ? "N" : "S", lat < 0 ? -lat : lat, lon >= 0 ? "E" : "W",
                     lon < 0 ? -lon : lon});
}

TileKind TileKindOfFile(const std::string& fileName) {
  FilePtr file = OpenForReading(fileName);
  if (std::fseek(file.get(), 0, SEEK_END) != 0) throw CannotOpenFile(fileName, errno);
  const long size = std::ftell(file.get());
  if (size < 0) throw CannotOpenFile(fileName, errno);
  return TileKindOfSize(static_cast<std::uintmax_t>(size));
}

void TSRTM::SetBounds(std::int16_t lon, std::int16_t lat) noexcept {
  southLat_ = lat;
  northLat_ = static_cast<std::int16_t>(lat + 1);
  westLon_ = lon;
  eastLon_ = static_cast<std::int16_t>(lon + 1);
}

void TSRTM::LoadFromFile(const std::string& fileName, std::int16_t lon, std::int16_t lat) {
  sourceName_ = fileName;
  const TileKind kind = TileKindOfFile(fileName);
  if (kind == TileKind::NotATile) {
    kind_ = kind;
    return;
  }
  FilePtr file = OpenForReading(fileName);
  const auto side = static_cast<std::int16_t>(TileSamplesPerSide(kind));
  const auto width = static_cast<std::size_t>(side);
  // Read into a fresh grid so that a failed read leaves the previous tile whole.
  std::vector<std::int16_t> samples(width * width);
  std::vector<unsigned char> rowBuffer(width * 2);
  for (std::size_t r = width; r-- > 0;) {
    if (std::fread(rowBuffer.data(), 1, rowBuffer.size(), file.get()) != rowBuffer.size()) {
      throw FileError("Cannot read file \"" + fileName + "\". The file ended before its last row");
    }
    std::int16_t* row = samples.data() + r * width;
    for (std::size_t c = 0; c < width; ++c) {
      // Big-endian two's complement, whatever the host's byte order.
      const auto raw = static_cast<std::uint16_t>((rowBuffer[2 * c] << 8) | rowBuffer[2 * c + 1]);
      row[c] = static_cast<std::int16_t>(raw);
    }
  }
  samples_ = std::move(samples);
  kind_ = kind;
  rows_ = side;
  columns_ = side;
  SetBounds(lon, lat);
}

void TSRTM::FillConstant(std::int16_t value, std::int16_t lon, std::int16_t lat) {
  const int side = TileSamplesPerSide(TileKind::Srtm1);
  samples_.assign(static_cast<std::size_t>(side) * static_cast<std::size_t>(side), value);
  kind_ = TileKind::Srtm1;
  rows_ = columns_ = static_cast<std::int16_t>(side);
  SetBounds(lon, lat);
  sourceName_ = FormatText('.', "CONSTANT_FILL=%d", {value});
}

std::int32_t TSRTM::HealVoids(std::int32_t radius) {
  std::int32_t count = 0;
  const int rows = rows_;
  const int columns = columns_;
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < columns; ++c) {
      std::int16_t& sample = Sample(r, c);
      if (sample >= VoidThreshold) continue;
      ++count;
      std::int32_t sum = 0;
      std::int32_t valid = 0;
      const int rLast = std::min(r + radius, rows - 1);
      const int cLast = std::min(c + radius, columns - 1);
      for (int wr = std::max(r - radius, 0); wr <= rLast; ++wr) {
        const std::int16_t* row = &Sample(wr, 0);
        for (int wc = std::max(c - radius, 0); wc <= cLast; ++wc) {
          if (row[wc] >= 0) {
            sum += row[wc];
            ++valid;
          }
        }
      }
      sample = valid > 0 ? static_cast<std::int16_t>(sum / valid) : fillValue_;
    }
  }
  return count;
}

void TSRTM::GetElevationRange(std::int16_t& min, std::int16_t& max) const noexcept {
  std::int16_t lo = 32000;
  std::int16_t hi = -32000;
  const std::size_t n = static_cast<std::size_t>(rows_) * static_cast<std::size_t>(columns_);
  const std::int16_t* s = samples_.data();
  for (std::size_t i = 0; i < n; ++i) {
    lo = std::min(lo, s[i]);
    hi = std::max(hi, s[i]);
  }
  min = lo;
  max = hi;
}

std::string TSRTM::PropertiesReport() const {
  static constexpr const char* kindLabels[] = {"SRTM-1 Data", "SRTM-3 Data", "SRTM-30 Data",
                                               "not an SRTM file"};
  std::int16_t min = 0;
  std::int16_t max = 0;
  GetElevationRange(min, max);
  const char* crlf = "\r\n";
  return "Properties of File : " + sourceName_ + crlf + kindLabels[static_cast<int>(kind_)] +
         crlf +
         FormatText('.', "Northern, Southern Limits : %d  %d degrees %s",
                    {northLat_, southLat_, crlf}) +
         FormatText('.', "Eastern, Western Limits : %d %d degrees %s", {eastLon_, westLon_, crlf}) +
         FormatText('.', "Rows, columns of data : %d  %d %s", {rows_, columns_, crlf}) +
         FormatText('.', "Elevation limits of data : %d to %d m ", {min, max});
}

}  // namespace orolith
