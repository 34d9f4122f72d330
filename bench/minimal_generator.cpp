// The reference that orolith-cli's end-to-end speed is measured against: the same terrain model
// of one tile as `orolith-cli create`, made the simplest fast way. Plain loops, double
// arithmetic, one thread, each face written through a 1 MB buffer as soon as it is made, and no
// code shared with the project, so that it stays an independent yardstick.
//
//   minimal_generator TILE.hgt OUT.stl LON_MIN LON_MAX LAT_MIN LAT_MAX ZMIN ZMAX XEXTENT ZEXTENT
//                     BASE_PERCENT PIXEL_METRES
//
// The tile's south-west corner comes from its name (N44W072.hgt: lon -72, lat 44). Prints the
// number of faces written.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

static_assert(std::endian::native == std::endian::little && sizeof(float) == 4,
              "the records are copied straight from memory into the file");

constexpr double Pi = 3.14159265358979323846;
constexpr double MetresPerDegree = 100000.0;
constexpr int HealRadius = 3;

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error(what);
}

double Number(const char* text, const char* name) {
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text, &end);
  if (end == text || *end != '\0' || errno != 0 || !std::isfinite(v)) {
    Fail(std::string("bad ") + name + ": " + text);
  }
  // Rounded to single precision as orolith-cli's settings are, so both cut the same cells.
  return static_cast<float>(v);
}

// "N44W072.hgt" gives west -72, south 44.
void CornerFromName(const std::string& path, int& west, int& south) {
  const std::size_t slash = path.find_last_of('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  int lat = 0;
  int lon = 0;
  char ns = 0;
  char ew = 0;
  if (name.size() < 7 || std::sscanf(name.c_str(), "%c%2d%c%3d", &ns, &lat, &ew, &lon) != 4) {
    Fail("the tile's name gives no corner: " + name);
  }
  ns = static_cast<char>(std::toupper(static_cast<unsigned char>(ns)));
  ew = static_cast<char>(std::toupper(static_cast<unsigned char>(ew)));
  if ((ns != 'N' && ns != 'S') || (ew != 'E' && ew != 'W')) {
    Fail("the tile's name gives no corner: " + name);
  }
  south = ns == 'S' ? -lat : lat;
  west = ew == 'W' ? -lon : lon;
}

// Samples row-major, row 0 the southern row.
struct Tile {
  int side = 0;
  int west = 0;
  int south = 0;
  std::vector<std::int16_t> samples;

  std::int16_t& At(int row, int column) {
    return samples[static_cast<std::size_t>(row) * static_cast<std::size_t>(side) +
                   static_cast<std::size_t>(column)];
  }
};

Tile ReadTile(const std::string& path) {
  Tile tile;
  CornerFromName(path, tile.west, tile.south);
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) Fail("cannot open " + path + ": " + std::strerror(errno));
  struct stat st {};
  if (::fstat(fd, &st) != 0) Fail("cannot read " + path + ": " + std::strerror(errno));
  for (const int side : {3601, 1201, 121}) {
    if (st.st_size == static_cast<off_t>(side) * side * 2) tile.side = side;
  }
  if (tile.side == 0) Fail(path + " has no tile size");
  const std::size_t count =
      static_cast<std::size_t>(tile.side) * static_cast<std::size_t>(tile.side);
  std::vector<unsigned char> bytes(count * 2);
  std::size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) Fail("cannot read " + path);
    got += static_cast<std::size_t>(n);
  }
  ::close(fd);
  // The file stores the northern row first, big-endian.
  tile.samples.resize(count);
  for (int fileRow = 0; fileRow < tile.side; ++fileRow) {
    const unsigned char* in =
        bytes.data() + static_cast<std::size_t>(fileRow) * static_cast<std::size_t>(tile.side) * 2;
    const int row = tile.side - 1 - fileRow;
    for (int c = 0; c < tile.side; ++c) {
      tile.At(row, c) = static_cast<std::int16_t>((in[2 * c] << 8) | in[2 * c + 1]);
    }
  }
  return tile;
}

// Each void becomes the mean of the usable (non-negative) samples within HealRadius, south row
// first, west to east, healed samples counting for later voids: what orolith-cli does, so that
// both programs mesh the same surface.
void HealVoids(Tile& tile) {
  const int last = tile.side - 1;
  for (int r = 0; r <= last; ++r) {
    for (int c = 0; c <= last; ++c) {
      if (tile.At(r, c) >= -32000) continue;
      std::int64_t sum = 0;
      int valid = 0;
      for (int wr = std::max(r - HealRadius, 0); wr <= std::min(r + HealRadius, last); ++wr) {
        for (int wc = std::max(c - HealRadius, 0); wc <= std::min(c + HealRadius, last); ++wc) {
          const std::int16_t v = tile.At(wr, wc);
          if (v >= 0) {
            sum += v;
            ++valid;
          }
        }
      }
      tile.At(r, c) = static_cast<std::int16_t>(valid > 0 ? sum / valid : 0);
    }
  }
}

// Bilinear within the tile, clamped into 0..10000.
double Elevation(const Tile& tile, double lon, double lat) {
  const int last = tile.side - 1;
  const double tx = std::clamp((lon - tile.west) * last, 0.0, static_cast<double>(last));
  const double ty = std::clamp((lat - tile.south) * last, 0.0, static_cast<double>(last));
  const int c = std::min(static_cast<int>(tx), last - 1);
  const int r = std::min(static_cast<int>(ty), last - 1);
  const double u = tx - c;
  const double v = ty - r;
  const std::int16_t* s = tile.samples.data() +
                          static_cast<std::size_t>(r) * static_cast<std::size_t>(tile.side) +
                          static_cast<std::size_t>(c);
  const double south = s[0] + u * (s[1] - s[0]);
  const double north = s[tile.side] + u * (s[tile.side + 1] - s[tile.side]);
  return std::clamp(south + v * (north - south), 0.0, 10000.0);
}

struct Vertex {
  float x;
  float y;
  float z;
};
static_assert(sizeof(Vertex) == 12);

// Binary STL through one buffer; the face count goes into the header at the end.
class StlWriter {
 public:
  explicit StlWriter(const std::string& path) : path_(path), buffer_(Capacity) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd_ < 0) Fail("cannot create " + path + ": " + std::strerror(errno));
    std::memset(buffer_.data(), 0, 84);
    const char title[] = "Binary STL : minimal streaming generator";
    std::memcpy(buffer_.data(), title, sizeof title - 1);
    used_ = 84;
  }
  StlWriter(const StlWriter&) = delete;
  StlWriter& operator=(const StlWriter&) = delete;
  ~StlWriter() {
    if (fd_ >= 0) ::close(fd_);
  }

  void Face(const Vertex& a, const Vertex& b, const Vertex& c) {
    const double ux = double{b.x} - a.x;
    const double uy = double{b.y} - a.y;
    const double uz = double{b.z} - a.z;
    const double vx = double{c.x} - a.x;
    const double vy = double{c.y} - a.y;
    const double vz = double{c.z} - a.z;
    double nx = uy * vz - uz * vy;
    double ny = uz * vx - ux * vz;
    double nz = ux * vy - uy * vx;
    const double length = std::sqrt(nx * nx + ny * ny + nz * nz);
    if (length > 0) {
      nx /= length;
      ny /= length;
      nz /= length;
    }
    const float normal[3] = {static_cast<float>(nx), static_cast<float>(ny),
                             static_cast<float>(nz)};
    unsigned char* out = buffer_.data() + used_;
    std::memcpy(out, normal, 12);
    std::memcpy(out + 12, &a, 12);
    std::memcpy(out + 24, &b, 12);
    std::memcpy(out + 36, &c, 12);
    out[48] = 0;
    out[49] = 0;
    used_ += 50;
    ++faces_;
    if (used_ + 50 > Capacity) Flush();
  }

  std::uint64_t Finish() {
    Flush();
    if (faces_ > UINT32_MAX) Fail("more faces than a binary STL file can count");
    const auto count = static_cast<std::uint32_t>(faces_);
    unsigned char bytes[4];
    std::memcpy(bytes, &count, 4);
    if (::pwrite(fd_, bytes, 4, 80) != 4 || ::close(fd_) != 0) {
      fd_ = -1;
      Fail("cannot write " + path_ + ": " + std::strerror(errno));
    }
    fd_ = -1;
    return faces_;
  }

 private:
  static constexpr std::size_t Capacity = std::size_t{1} << 20;

  void Flush() {
    std::size_t done = 0;
    while (done < used_) {
      const ssize_t n = ::write(fd_, buffer_.data() + done, used_ - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) Fail("cannot write " + path_ + ": " + std::strerror(errno));
      done += static_cast<std::size_t>(n);
    }
    used_ = 0;
  }

  std::string path_;
  std::vector<unsigned char> buffer_;
  std::size_t used_ = 0;
  std::uint64_t faces_ = 0;
  int fd_ = -1;
};

// The centre of a cell sits at one of 101 fractions of it, drawn once from k * 0.00075 + 0.5
// (k in -500..499); each cell picks two of them. Xorshift is enough: only the spread matters.
class CentreFractions {
 public:
  CentreFractions() {
    for (double& f : values_) {
      f = static_cast<double>(static_cast<int>(Next() % 1000) - 500) * 0.00075 + 0.5;
    }
  }
  double Pick() { return values_[((Next() >> 32) * 101) >> 32]; }

 private:
  std::uint64_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return state_;
  }

  std::uint64_t state_ = 0x9E3779B97F4A7C15ULL;
  double values_[101]{};
};

struct Settings {
  double lonMin, lonMax, latMin, latMax, zMin, zMax, xExtent, zExtent, basePercent, pixel;
};

std::uint64_t Generate(const Tile& tile, const Settings& s, const std::string& outPath) {
  const double lonSpan = s.lonMax - s.lonMin;
  const double latSpan = s.latMax - s.latMin;
  const double yExtent =
      std::fabs(latSpan * s.xExtent / lonSpan / std::cos((s.latMax + s.latMin) / 2 * Pi / 180));
  const double pedestal = s.basePercent * s.zExtent / 100;
  const double zScale = (s.zExtent - pedestal) / (s.zMax - s.zMin);
  const auto x = [&](double lon) {
    return static_cast<float>((lon - s.lonMin) / lonSpan * s.xExtent);
  };
  const auto y = [&](double lat) {
    return static_cast<float>((lat - s.latMin) / latSpan * yExtent);
  };
  const auto z = [&](double elevation) {
    const double v = elevation < s.zMin ? 0 : (elevation - s.zMin) * zScale + pedestal;
    return static_cast<float>(std::clamp(v, 0.0, s.zExtent));
  };

  // The part of the region inside the tile, cut into cells of about the pixel size.
  const double west = std::clamp(s.lonMin, 0.0 + tile.west, 1.0 + tile.west);
  const double east = std::clamp(s.lonMax, 0.0 + tile.west, 1.0 + tile.west);
  const double south = std::clamp(s.latMin, 0.0 + tile.south, 1.0 + tile.south);
  const double north = std::clamp(s.latMax, 0.0 + tile.south, 1.0 + tile.south);
  const double step = std::max(std::nearbyint(s.pixel), 1.0) / MetresPerDegree;
  const auto columns = static_cast<std::int64_t>(std::trunc((east - west) / step)) + 1;
  const auto rows = static_cast<std::size_t>(std::trunc((north - south) / step)) + 1;
  const double cellWidth = (east - west) / static_cast<double>(columns);
  const double cellHeight = (north - south) / static_cast<double>(rows);

  // Corner rows are shared by the cells on either side, and a column of corner heights by the
  // columns of cells on either side: each is computed once.
  std::vector<double> lats(rows + 1);
  std::vector<float> ys(rows + 1);
  for (std::size_t j = 0; j <= rows; ++j) {
    lats[j] = south + static_cast<double>(j) * cellHeight;
    ys[j] = y(lats[j]);
  }
  std::vector<float> zWest(rows + 1);
  std::vector<float> zEast(rows + 1);
  for (std::size_t j = 0; j <= rows; ++j) zWest[j] = z(Elevation(tile, west, lats[j]));

  CentreFractions fractions;
  StlWriter out(outPath);
  for (std::int64_t q = 0; q < columns; ++q) {
    const double lonW = west + static_cast<double>(q) * cellWidth;
    const double lonE = west + static_cast<double>(q + 1) * cellWidth;
    for (std::size_t j = 0; j <= rows; ++j) zEast[j] = z(Elevation(tile, lonE, lats[j]));
    const float xW = x(lonW);
    const float xE = x(lonE);
    for (std::size_t r = 0; r < rows; ++r) {
      const double fu = fractions.Pick();
      const double fv = fractions.Pick();
      const double lonC = lonW + fu * cellWidth;
      const double latC = lats[r] + fv * cellHeight;
      const Vertex c{x(lonC), y(latC), z(Elevation(tile, lonC, latC))};
      const Vertex nw{xW, ys[r + 1], zWest[r + 1]};
      const Vertex sw{xW, ys[r], zWest[r]};
      const Vertex se{xE, ys[r], zEast[r]};
      const Vertex ne{xE, ys[r + 1], zEast[r + 1]};
      // Counter-clockwise seen from above, so the normals point up.
      if (nw.z == sw.z && nw.z == se.z && nw.z == ne.z && nw.z == c.z) {
        out.Face(nw, sw, ne);
        out.Face(sw, se, ne);
      } else {
        out.Face(nw, sw, c);
        out.Face(sw, se, c);
        out.Face(se, ne, c);
        out.Face(ne, nw, c);
      }
    }
    std::swap(zWest, zEast);
  }
  return out.Finish();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 13) {
    std::fprintf(stderr,
                 "usage: minimal_generator TILE.hgt OUT.stl LON_MIN LON_MAX LAT_MIN LAT_MAX ZMIN "
                 "ZMAX XEXTENT ZEXTENT BASE_PERCENT PIXEL_METRES\n");
    return 2;
  }
  try {
    const Settings s{Number(argv[3], "LON_MIN"),       Number(argv[4], "LON_MAX"),
                     Number(argv[5], "LAT_MIN"),       Number(argv[6], "LAT_MAX"),
                     Number(argv[7], "ZMIN"),          Number(argv[8], "ZMAX"),
                     Number(argv[9], "XEXTENT"),       Number(argv[10], "ZEXTENT"),
                     Number(argv[11], "BASE_PERCENT"), Number(argv[12], "PIXEL_METRES")};
    if (!(s.lonMin < s.lonMax && s.latMin < s.latMax && s.zMin < s.zMax && s.xExtent > 0 &&
          s.zExtent > 0 && s.pixel > 0)) {
      Fail("each minimum must be below its maximum and each size above 0");
    }
    Tile tile = ReadTile(argv[1]);
    HealVoids(tile);
    const std::uint64_t faces = Generate(tile, s, argv[2]);
    std::printf("%llu faces written to %s\n", static_cast<unsigned long long>(faces), argv[2]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "minimal_generator: %s\n", e.what());
    return 1;
  }
  return 0;
}
