// The adaptive mesher on the lattice of one tile piece, as the model samples it.
//
//   adaptive_bench TILE LON_MIN LON_MAX LAT_MIN LAT_MAX ELEV_MIN ELEV_MAX Z_EXTENT PIXEL [options]
//     --png FILE        write the lattice as a 16-bit greyscale PNG (north row first; white is
//                       Z_EXTENT) and stop
//     --error METRES    mesh within that height error (repeatable)
//     --threads N       meshing threads (default 2)
//     --block N         lattice points a block side (default 128)
//     --runs N          runs of each error; the median time is printed (default 1)
//     --quantized       mesh the lattice as the PNG holds it (16 bits over 0 .. Z_EXTENT)
//     --check           after the timed runs, check every lattice point against the surface
//     --from-tile       each block works out its heights from the tile, as the model will
//                       (default: the whole lattice is worked out before the timing)
//
// The lattice is the model's: the tile piece's cell corners, the x extent 100 and no pedestal
// (neither changes a triangle). One line per error:
//   error M triangles T points P seconds S cpu C worst W z_error E hash H
// with worst the largest height error found by the check, in metres (- without --check), and
// then the process's peak resident memory: "peak_kb K".

#include "model/adaptive/LatticeMesher.h"
#include "support/LatticeCheck.h"
#include "tiles/SRTM.h"

#include <sys/resource.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace orolith;
using Clock = std::chrono::steady_clock;

struct Region {
  long double lonMin, lonMax, latMin, latMax;
  long double zMin, zMax, zExtent;
  long double pixel;
};

// The lattice of the region's piece of one tile: corner q of the columns lies on the clip box's
// west edge plus q cell widths, the last one on its east edge exactly (rows alike); heights are
// the tile's bilinear elevation scaled into the band, as the model's vertices have them.
class TileLattice : public LatticeHeights {
 public:
  TileLattice(const TSRTM& tile, const Region& g, bool quantized)
      : tile_(tile), g_(g), quantized_(quantized) {
    const auto clamp = [](long double v, long double lo, long double hi) {
      return std::min(std::max(v, lo), hi);
    };
    const long double west = clamp(g.lonMin, tile.WestLon(), tile.WestLon() + 1);
    const long double east = clamp(g.lonMax, tile.WestLon(), tile.WestLon() + 1);
    const long double south = clamp(g.latMin, tile.SouthLat(), tile.SouthLat() + 1);
    const long double north = clamp(g.latMax, tile.SouthLat(), tile.SouthLat() + 1);
    const long double step = g.pixel / 100000.0L;
    columns_ = static_cast<std::uint32_t>(std::trunc((east - west) / step)) + 1;
    rows_ = static_cast<std::uint32_t>(std::trunc((north - south) / step)) + 1;
    const long double width = (east - west) / columns_;
    const long double height = (north - south) / rows_;
    for (std::uint32_t q = 0; q <= columns_; ++q) {
      lons_.push_back(tile.LonPosition(q == columns_ ? east : west + q * width));
    }
    for (std::uint32_t r = 0; r <= rows_; ++r) {
      lats_.push_back(tile.LatPosition(r == rows_ ? north : south + r * height));
    }
  }

  std::uint32_t Columns() const { return columns_; }
  std::uint32_t Rows() const { return rows_; }

  float Z(std::uint32_t q, std::uint32_t r) const {
    const long double e = tile_.ElevationOf(lons_[q], lats_[r]);
    long double z = e < g_.zMin ? 0 : (e - g_.zMin) / (g_.zMax - g_.zMin) * g_.zExtent;
    z = std::min(std::max(z, 0.0L), g_.zExtent);
    if (quantized_) return static_cast<float>(Level(z) / 65535.0L * g_.zExtent);
    return static_cast<float>(z);
  }
  std::uint16_t Level(long double z) const {
    return static_cast<std::uint16_t>(std::lround(z / g_.zExtent * 65535));
  }

  void Fill(const LatticeRect& rect, float* out, std::size_t stride) const override {
    for (std::uint32_t r = 0; r < rect.Rows; ++r) {
      for (std::uint32_t q = 0; q < rect.Columns; ++q)
        out[r * stride + q] = Z(rect.Q0 + q, rect.R0 + r);
    }
  }

 private:
  const TSRTM& tile_;
  Region g_;
  bool quantized_;
  std::uint32_t columns_ = 0;
  std::uint32_t rows_ = 0;
  std::vector<TSRTM::AxisPosition> lons_;
  std::vector<TSRTM::AxisPosition> lats_;
};

// The same lattice held in memory, as an image program holds its height map.
class GridLattice : public LatticeHeights {
 public:
  explicit GridLattice(const TileLattice& from)
      : columns_(from.Columns() + 1),
        heights_(static_cast<std::size_t>(columns_) * (from.Rows() + 1)) {
    from.Fill({0, 0, columns_, from.Rows() + 1}, heights_.data(), columns_);
  }
  void Fill(const LatticeRect& rect, float* out, std::size_t stride) const override {
    for (std::uint32_t r = 0; r < rect.Rows; ++r) {
      const float* from =
          heights_.data() + static_cast<std::size_t>(rect.R0 + r) * columns_ + rect.Q0;
      std::copy(from, from + rect.Columns, out + r * stride);
    }
  }

 private:
  std::uint32_t columns_;
  std::vector<float> heights_;
};

void PutBig32(std::string& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8)
    out.push_back(static_cast<char>((v >> shift) & 0xFF));
}

void PutChunk(std::ofstream& file, const char* type, const std::string& data) {
  std::string chunk;
  PutBig32(chunk, static_cast<std::uint32_t>(data.size()));
  chunk += type;
  chunk += data;
  const auto* bytes = reinterpret_cast<const Bytef*>(chunk.data() + 4);
  const auto crc = static_cast<std::uint32_t>(crc32(0, bytes, static_cast<uInt>(chunk.size() - 4)));
  PutBig32(chunk, crc);
  file.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
}

// 16-bit greyscale, the northern row first, as image readers expect.
void WritePng(const TileLattice& lattice, const std::string& fileName, long double zExtent) {
  const std::uint32_t w = lattice.Columns() + 1;
  const std::uint32_t h = lattice.Rows() + 1;
  std::string raw;
  raw.reserve(static_cast<std::size_t>(h) * (1 + 2 * w));
  for (std::uint32_t row = 0; row < h; ++row) {
    raw.push_back(0);  // no filter
    const std::uint32_t r = h - 1 - row;
    for (std::uint32_t q = 0; q < w; ++q) {
      const std::uint16_t v = lattice.Level(lattice.Z(q, r) + 0.0L);
      raw.push_back(static_cast<char>(v >> 8));
      raw.push_back(static_cast<char>(v & 0xFF));
    }
  }
  (void)zExtent;
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  std::string packed(size, '\0');
  if (compress2(reinterpret_cast<Bytef*>(packed.data()), &size,
                reinterpret_cast<const Bytef*>(raw.data()), static_cast<uLong>(raw.size()),
                6) != Z_OK) {
    throw std::runtime_error("adaptive_bench: compression failed");
  }
  packed.resize(size);
  std::ofstream file(fileName, std::ios::binary);
  file.write("\x89PNG\r\n\x1a\n", 8);
  std::string header;
  PutBig32(header, w);
  PutBig32(header, h);
  header += std::string("\x10\x00\x00\x00\x00",
                        5);  // 16 bits, greyscale, deflate, no filter, no interlace
  PutChunk(file, "IHDR", header);
  PutChunk(file, "IDAT", packed);
  PutChunk(file, "IEND", "");
  file.close();
  if (!file) throw std::runtime_error("adaptive_bench: can't write " + fileName);
}

long PeakKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

double ProcessorSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct Result {
  std::uint64_t triangles = 0;
  std::uint64_t points = 0;
  double seconds = 0;
  double processor = 0;
  std::uint64_t hash = 1469598103934665603ULL;
  double worst = -1;
  std::uint64_t faults = 0;
};

// A word at a time, so that the sink costs the meshing threads next to nothing.
void Hash(std::uint64_t& h, const void* data, std::size_t bytes) {
  const auto* p = static_cast<const unsigned char*>(data);
  for (std::size_t i = 0; i < bytes; i += 4) {
    std::uint32_t word = 0;
    std::memcpy(&word, p + i, std::min<std::size_t>(4, bytes - i));
    h = (h ^ word) * 0x9E3779B97F4A7C15ULL;
    h ^= h >> 29;
  }
}

Result MeshOnce(const TileLattice& lattice, const LatticeHeights& source, float maxError,
                unsigned threads, std::uint32_t block, bool check) {
  LatticeMesher mesher({maxError, block, threads});
  Result result;
  std::vector<float> heights;
  const double processor = ProcessorSeconds();
  const auto start = Clock::now();
  const LatticeOutline outline =
      mesher.Mesh(source, lattice.Columns(), lattice.Rows(), [&](const MeshedBlock& b) {
        result.triangles += b.Triangles.size();
        result.points += b.Points.size();
        Hash(result.hash, b.Points.data(), b.Points.size_bytes());
        Hash(result.hash, b.Triangles.data(), b.Triangles.size_bytes());
        if (!check) return;
        heights.resize(static_cast<std::size_t>(b.Rect.Columns) * b.Rect.Rows);
        lattice.Fill(b.Rect, heights.data(), b.Rect.Columns);
        const test::BlockCheck c = test::CheckBlock(b, heights);
        result.worst = std::max(result.worst, c.WorstError);
        result.faults += c.Uncovered + c.Overlapped + c.NotCounterClockwise + c.OutsideRect;
        if (c.TwiceArea != 2 * static_cast<std::int64_t>(b.Rect.Columns - 1) * (b.Rect.Rows - 1)) {
          ++result.faults;
        }
      });
  result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  result.processor = ProcessorSeconds() - processor;
  (void)outline;
  return result;
}

int Run(int argc, char** argv) {
  if (argc < 10) {
    std::fprintf(stderr,
                 "usage: adaptive_bench TILE LON_MIN LON_MAX LAT_MIN LAT_MAX ELEV_MIN ELEV_MAX "
                 "Z_EXTENT PIXEL [--png FILE] [--error M]... [--threads N] [--block N] "
                 "[--runs N] [--quantized] [--check]\n");
    return 2;
  }
  const auto number = [](const char* text) { return std::strtold(text, nullptr); };
  Region g{number(argv[2]), number(argv[3]), number(argv[4]), number(argv[5]),
           number(argv[6]), number(argv[7]), number(argv[8]), number(argv[9])};
  std::string png;
  std::vector<double> errors;
  unsigned threads = 2;
  std::uint32_t block = 128;
  int runs = 1;
  bool quantized = false;
  bool check = false;
  bool fromTile = false;
  for (int i = 10; i < argc; ++i) {
    const std::string option = argv[i];
    const auto value = [&] {
      if (i + 1 >= argc) throw std::runtime_error("adaptive_bench: " + option + " needs a value");
      return argv[++i];
    };
    if (option == "--png") {
      png = value();
    } else if (option == "--error") {
      errors.push_back(std::strtod(value(), nullptr));
    } else if (option == "--threads") {
      threads = static_cast<unsigned>(std::atoi(value()));
    } else if (option == "--block") {
      block = static_cast<std::uint32_t>(std::atoi(value()));
    } else if (option == "--runs") {
      runs = std::atoi(value());
    } else if (option == "--quantized") {
      quantized = true;
    } else if (option == "--check") {
      check = true;
    } else if (option == "--from-tile") {
      fromTile = true;
    } else {
      throw std::runtime_error("adaptive_bench: unknown option " + option);
    }
  }

  TSRTM tile;
  const auto westLon = static_cast<std::int16_t>(std::floor(g.lonMin));
  const auto southLat = static_cast<std::int16_t>(std::floor(g.latMin));
  tile.LoadFromFile(argv[1], westLon, southLat);
  tile.HealVoids(3);
  const TileLattice lattice(tile, g, quantized);
  std::printf("lattice %u x %u points\n", lattice.Columns() + 1, lattice.Rows() + 1);
  if (!png.empty()) {
    WritePng(lattice, png, g.zExtent);
    std::printf("png %s white %.6Lf\n", png.c_str(), g.zExtent);
    return 0;
  }
  // The lattice is worked out before the timing, as an image program has its height map
  // before it triangulates; with --from-tile each block works out its own heights.
  std::unique_ptr<GridLattice> grid;
  const LatticeHeights* source = &lattice;
  if (!fromTile) {
    grid = std::make_unique<GridLattice>(lattice);
    source = grid.get();
  }
  const long double metresToZ = g.zExtent / (g.zMax - g.zMin);
  for (const double metres : errors) {
    const auto maxError = static_cast<float>(metres * metresToZ);
    std::vector<Result> results;
    for (int run = 0; run < runs; ++run) {
      results.push_back(MeshOnce(lattice, *source, maxError, threads, block, false));
    }
    const auto median = [&](double Result::*field) {
      std::vector<double> v;
      for (const Result& r : results) v.push_back(r.*field);
      std::sort(v.begin(), v.end());
      return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
    };
    bool same = true;
    for (const Result& r : results) same = same && r.hash == results.front().hash;
    Result checked;
    if (check) checked = MeshOnce(lattice, *source, maxError, threads, block, true);
    if (check && checked.hash != results.front().hash) same = false;
    std::printf(
        "error %g triangles %llu points %llu seconds %.4f cpu %.4f worst %s z_error %.9g hash "
        "%016llx%s",
        metres, static_cast<unsigned long long>(results.front().triangles),
        static_cast<unsigned long long>(results.front().points), median(&Result::seconds),
        median(&Result::processor),
        check ? std::to_string(static_cast<double>(checked.worst / metresToZ)).c_str() : "-",
        static_cast<double>(maxError), static_cast<unsigned long long>(results.front().hash),
        same ? "" : " RUNS-DIFFER");
    if (check) std::printf(" faults %llu", static_cast<unsigned long long>(checked.faults));
    std::printf("\n");
  }
  std::printf("peak_kb %ld\n", PeakKb());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}
