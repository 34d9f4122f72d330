// Writes a synthetic data root for trying Orolith without downloading anything (--help tells
// the options):
//   make_demo_data DIR           SRTM-3 tiles N46E007, N46E008, N47E007, N47E008 in DIR/SRTM_3
//   make_demo_data --srtm1 DIR   one full SRTM-1 tile N46E007 in DIR/SRTM_1 (for benchmarks)
//   make_demo_data --srtm1-2x2 DIR
//                                the SRTM-1 tiles N46E007, N46E008, N47E007, N47E008 in
//                                DIR/SRTM_1 (for the benchmark of a region of several tiles)
// Both create the three tile folders. The terrain is one continuous function of longitude and
// latitude, so neighbouring tiles repeat each other's edge rows and columns exactly; a few void
// clusters inside each tile give the healing step something to do. The output is the same on
// every run.

#include "tiles/SRTM.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orolith {
namespace {

std::uint32_t Hash(std::int64_t x, std::int64_t y, std::uint32_t seed) {
  auto h = static_cast<std::uint64_t>(x) * 0x9E3779B97F4A7C15ULL ^
           static_cast<std::uint64_t>(y) * 0xC2B2AE3D27D4EB4FULL ^ seed * 0x165667B19E3779F9ULL;
  h ^= h >> 29;
  h *= 0xBF58476D1CE4E5B9ULL;
  h ^= h >> 32;
  return static_cast<std::uint32_t>(h);
}

double Fade(double t) {
  return t * t * t * (t * (t * 6 - 15) + 10);
}

// Gradient noise in about -1 .. 1, one of sixteen gradient directions per lattice point.
double Noise(double x, double y, std::uint32_t seed) {
  static const auto gradients = [] {
    std::array<std::array<double, 2>, 16> g{};
    for (std::size_t i = 0; i < g.size(); ++i) {
      const double angle = 6.283185307179586 * (static_cast<double>(i) + 0.5) / 16;
      g[i] = {std::cos(angle), std::sin(angle)};
    }
    return g;
  }();
  const double fx = std::floor(x);
  const double fy = std::floor(y);
  const auto ix = static_cast<std::int64_t>(fx);
  const auto iy = static_cast<std::int64_t>(fy);
  const double dx = x - fx;
  const double dy = y - fy;
  const auto corner = [&](std::int64_t cx, std::int64_t cy) {
    const auto& g = gradients[Hash(ix + cx, iy + cy, seed) & 15];
    return g[0] * (dx - static_cast<double>(cx)) + g[1] * (dy - static_cast<double>(cy));
  };
  const double u = Fade(dx);
  const double v = Fade(dy);
  const double south = corner(0, 0) + u * (corner(1, 0) - corner(0, 0));
  const double north = corner(0, 1) + u * (corner(1, 1) - corner(0, 1));
  return (south + v * (north - south)) * 1.4;
}

double Fractal(double x, double y, std::uint32_t seed, int octaves) {
  double sum = 0;
  double amplitude = 1;
  for (int octave = 0; octave < octaves; ++octave) {
    sum += amplitude * Noise(x, y, seed + static_cast<std::uint32_t>(octave));
    x *= 2.01;
    y *= 2.01;
    amplitude *= 0.5;
  }
  return sum;
}

// Ridged fractal terrain on a warped plane: sharp crests where the noise crosses zero, broad
// valleys between them, detail that fades away from the crests, a large-scale swell that
// makes massifs and lowlands, and a river valley winding west to east.
double Elevation(double lon, double lat) {
  const double x0 = lon * 3.2;  // a few large features a degree
  const double y0 = lat * 4.6;  // a degree of latitude is longer on the ground
  const double x = x0 + 0.45 * Fractal(x0, y0, 50, 3);
  const double y = y0 + 0.45 * Fractal(x0 + 5.2, y0 + 1.3, 60, 3);
  double ridges = 0;
  double amplitude = 1;
  double frequency = 1;
  double weight = 1;
  double total = 0;
  for (std::uint32_t octave = 0; octave < 8; ++octave) {
    double n = 1 - std::fabs(Noise(x * frequency, y * frequency, octave + 1));
    n *= n * weight;
    weight = std::clamp(n * 2.0, 0.0, 1.0);
    ridges += n * amplitude;
    total += amplitude;
    amplitude *= 0.5;
    frequency *= 2.03;
  }
  ridges /= total;  // 0 .. 1
  const double swell = 0.5 + 0.5 * Noise(lon * 1.3, lat * 1.7, 99);
  const double riverLat = 46.55 + 0.12 * std::sin(lon * 4.1) + 0.04 * std::sin(lon * 13.0 + 1.0);
  const double valley = std::min(1.0, std::fabs(lat - riverLat) / 0.15);
  const double relief = ridges * (0.3 + 0.7 * swell) * (0.2 + 0.8 * valley * valley);
  // A soft ceiling rather than a clamp, so the highest summits stay peaks, not plateaus.
  return 350 + 3650 * std::pow(std::tanh(relief * 2.2) / std::tanh(2.2), 1.5);
}

void WriteTile(const std::filesystem::path& folder, int lon, int lat, TileKind kind) {
  const int side = TileSamplesPerSide(kind);
  std::vector<std::int16_t> samples(static_cast<std::size_t>(side) *
                                    static_cast<std::size_t>(side));
  const double perDegree = side - 1;
  for (int r = 0; r < side; ++r) {
    // r / perDegree is exactly 1 on the last row, so a tile's northern edge and its northern
    // neighbour's southern edge are the same latitudes, sample for sample.
    const double sampleLat = lat + r / perDegree;
    for (int c = 0; c < side; ++c) {
      const double sampleLon = lon + c / perDegree;
      samples[static_cast<std::size_t>(r * side + c)] =
          static_cast<std::int16_t>(std::lround(Elevation(sampleLon, sampleLat)));
    }
  }
  // Void clusters well inside the tile, where no neighbour repeats them.
  const int margin = side / 20;
  for (std::uint32_t k = 0; k < 3; ++k) {
    const auto span = static_cast<std::uint32_t>(side - 2 * margin);
    const int row = margin + static_cast<int>(Hash(lon, lat, 1000 + k) % span);
    const int column = margin + static_cast<int>(Hash(lon, lat, 2000 + k) % span);
    const int radius = 2 + static_cast<int>(Hash(lon, lat, 3000 + k) % 5);
    for (int r = row - radius; r <= row + radius; ++r) {
      for (int c = column - radius; c <= column + radius; ++c) {
        if ((r - row) * (r - row) + (c - column) * (c - column) <= radius * radius) {
          samples[static_cast<std::size_t>(r * side + c)] = -32768;
        }
      }
    }
  }

  const std::filesystem::path file = folder / TileFileName(lon, lat);
  WriteTileFile(file.string(), side, samples);
  std::printf("%s\n", file.string().c_str());
}

constexpr const char* Usage =
    "usage: make_demo_data [--srtm1 | --srtm1-2x2] DIR\n"
    "  DIR           the SRTM-3 tiles N46E007, N46E008, N47E007, N47E008 in DIR/SRTM_3\n"
    "  --srtm1       one SRTM-1 tile, N46E007, in DIR/SRTM_1\n"
    "  --srtm1-2x2   the SRTM-1 tiles N46E007, N46E008, N47E007, N47E008 in DIR/SRTM_1\n"
    "  -h, --help    this text; nothing is written\n"
    "Each also makes the empty tile folders of the data root DIR. -- ends the options.\n";

enum class TileSet { Srtm3, Srtm1, Srtm1Block };

int Main(int argc, char** argv) {
  // Any other word that begins with a dash is a mistyped option, never a folder to fill.
  std::vector<std::string_view> folders;
  std::vector<std::string_view> sets;
  bool help = false;
  bool options = true;
  for (int i = 1; i < argc; ++i) {
    const std::string_view word = argv[i];
    if (!options || word.size() < 2 || word[0] != '-') {
      folders.push_back(word);
    } else if (word == "--") {
      options = false;
    } else if (word == "-h" || word == "--help") {
      help = true;
    } else if (word == "--srtm1" || word == "--srtm1-2x2") {
      sets.push_back(word);
    } else {
      std::fprintf(stderr, "make_demo_data: unknown option '%s'\n%s", argv[i], Usage);
      return 2;
    }
  }
  if (help) {
    std::fputs(Usage, stdout);
    return 0;
  }
  if (folders.size() != 1 || sets.size() > 1) {
    std::fputs(Usage, stderr);
    return 2;
  }
  const TileSet set = sets.empty()           ? TileSet::Srtm3
                      : sets[0] == "--srtm1" ? TileSet::Srtm1
                                             : TileSet::Srtm1Block;
  const std::filesystem::path root(folders[0]);
  for (const char* folder : {"SRTM_1", "SRTM_3", "SRTM_30"}) {
    std::filesystem::create_directories(root / folder);
  }
  if (set == TileSet::Srtm1) {
    WriteTile(root / "SRTM_1", 7, 46, TileKind::Srtm1);
  } else {
    const auto [folder, kind] = set == TileSet::Srtm1Block ? std::pair{"SRTM_1", TileKind::Srtm1}
                                                           : std::pair{"SRTM_3", TileKind::Srtm3};
    for (const int lon : {7, 8}) {
      for (const int lat : {46, 47}) WriteTile(root / folder, lon, lat, kind);
    }
  }
  return 0;
}

}  // namespace
}  // namespace orolith

int main(int argc, char** argv) {
  try {
    return orolith::Main(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_demo_data: %s\n", e.what());
    return 1;
  }
}
