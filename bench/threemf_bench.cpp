// The 3MF writer beside the STL writer on the same faces, and the 3MF writer alone on a lattice.
//
//   threemf_bench [--data-root DIR] [--runs N] [--threads N] [--chunk N] [--levels V T]
//     Makes the 1 x 1 degree model over the real SRTM-3 tile N44W072 at 90 m cells (seed 18;
//     DIR defaults to the shared data beside the checkout), numbers its corners by their first
//     appearance, then writes the same faces N times (default 3) each way, taking turns, into
//     a fresh folder in the temporary folder: the STL through StlFileWriter (with each normal
//     worked out and each record encoded as its Encode does, and AddRecords of records encoded
//     beforehand, which only writes),
//     the 3MF through ThreeMfWriter. Prints the medians and the package's bytes against the
//     STL's 50 x faces + 84.
//
//   threemf_bench --lattice COLUMNS ROWS FILE [--threads N] [--chunk N] [--levels V T]
//     Streams a synthetic terrain of COLUMNS x ROWS cells into FILE as a 3MF, numbering the
//     vertices column by column as a mesher does (a column's corners keep their indices for
//     the next column), holding no mesh: for the writer's memory (run it under /usr/bin/time)
//     and for packages past 4 GiB.

#include "base/OperationHost.h"
#include "frontpanel/ModelSettings.h"
#include "frontpanel/Workspace.h"
#include "model/TerrainModel.h"
#include "model/writers/STL.h"
#include "model/writers/ThreeMf.h"
#include "tiles/TileSource.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

using namespace orolith;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

struct Mesh {
  std::vector<Vec3> vertices;
  std::vector<std::array<std::uint32_t, 3>> triangles;
};

class QuietHost : public OperationHost {
 public:
  void AppendLine(const std::string&) override {}
  void ProcessPendingEvents() override {}
  bool ConfirmLargeFile(const std::string&, const std::string&) override { return true; }
};

std::uint32_t Le32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// The faces of a binary STL file, each corner numbered by its first appearance; corners equal
// to the bit are one vertex.
Mesh IndexedFaces(const fs::path& stl) {
  std::FILE* file = std::fopen(stl.c_str(), "rb");
  if (!file) throw std::runtime_error("cannot read " + stl.string());
  std::vector<unsigned char> bytes(fs::file_size(stl));
  const std::size_t read = std::fread(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
  if (read != bytes.size() || bytes.size() < 84) throw std::runtime_error("short STL file");
  const std::uint32_t count = Le32(&bytes[80]);
  struct Key {
    std::uint32_t x, y, z;
    bool operator==(const Key&) const = default;
  };
  struct Hash {
    std::size_t operator()(const Key& k) const noexcept {
      std::uint64_t h = k.x * 0x9E3779B97F4A7C15ULL;
      h ^= (h >> 29) + k.y * 0xC2B2AE3D27D4EB4FULL;
      h ^= (h >> 31) + k.z * 0x165667B19E3779F9ULL;
      return static_cast<std::size_t>(h ^ (h >> 32));
    }
  };
  std::unordered_map<Key, std::uint32_t, Hash> index;
  index.reserve(count);
  Mesh mesh;
  mesh.triangles.reserve(count);
  for (std::uint32_t f = 0; f < count; ++f) {
    const unsigned char* record = &bytes[84 + 50 * static_cast<std::size_t>(f)];
    std::array<std::uint32_t, 3> corners{};
    for (int c = 0; c < 3; ++c) {
      const unsigned char* p = record + 12 + 12 * c;
      const Key key{Le32(p), Le32(p + 4), Le32(p + 8)};
      const auto [at, added] = index.emplace(key, static_cast<std::uint32_t>(mesh.vertices.size()));
      if (added) {
        mesh.vertices.push_back({std::bit_cast<float>(key.x), std::bit_cast<float>(key.y),
                                 std::bit_cast<float>(key.z)});
      }
      corners[static_cast<std::size_t>(c)] = at->second;
    }
    mesh.triangles.push_back(corners);
  }
  return mesh;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// User and system time of every thread of the process so far.
double ProcessorSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Wall and processor time of one run; both go to their lists.
struct Times {
  std::vector<double> wall;
  std::vector<double> processor;
  void Run(const std::function<void()>& work) {
    ::sync();  // no run pays for the one before's writeback
    const double cpu = ProcessorSeconds();
    const auto start = Clock::now();
    work();
    wall.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    processor.push_back(ProcessorSeconds() - cpu);
  }
};

struct Arguments {
  std::string dataRoot = OROLITH_SHARED_DATA;
  int runs = 3;
  ThreeMfOptions options;
  bool lattice = false;
  std::int64_t columns = 0;
  std::int64_t rows = 0;
  std::string file;
};

Arguments Parse(int argc, char** argv) {
  Arguments a;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const auto value = [&]() -> std::string {
      if (i + 1 >= argc) throw std::runtime_error(arg + " needs a value");
      return argv[++i];
    };
    if (arg == "--data-root") {
      a.dataRoot = value();
    } else if (arg == "--runs") {
      a.runs = std::stoi(value());
    } else if (arg == "--threads") {
      a.options.Threads = static_cast<unsigned>(std::stoul(value()));
    } else if (arg == "--chunk") {
      a.options.ChunkItems = std::stoul(value());
    } else if (arg == "--levels") {
      a.options.VertexLevel = std::stoi(value());
      a.options.TriangleLevel = std::stoi(value());
    } else if (arg == "--lattice") {
      a.lattice = true;
      a.columns = std::stoll(value());
      a.rows = std::stoll(value());
      a.file = value();
    } else {
      throw std::runtime_error("unknown argument " + arg);
    }
  }
  return a;
}

void Compare(const Arguments& a) {
  const fs::path folder =
      fs::temp_directory_path() / ("orolith-3mf-bench-" + std::to_string(::getpid()));
  fs::create_directories(folder);
  struct Cleanup {
    fs::path path;
    ~Cleanup() {
      std::error_code ignored;
      fs::remove_all(path, ignored);
    }
  } cleanup{folder};

  FrontPanelValues panel;
  panel.Long1 = -72;
  panel.Long2 = -71;
  panel.Lat1 = 44;
  panel.Lat2 = 45;
  panel.Z1 = 100;
  panel.Z2 = 2000;
  panel.XExtent = 100;
  panel.ZExtent = 20;
  panel.ZBasePercent = 0;
  panel.XYPixelSize = 90;
  panel.StlFileName = (folder / "model.stl").string();
  Workspace workspace(MakeDataFolders(a.dataRoot + "/"));
  QuietHost host;
  CreateStlModel(ReadModelSettings(panel), workspace, host, GenerationOptions{18, 0});
  const Mesh mesh = IndexedFaces(panel.StlFileName);
  fs::remove(panel.StlFileName);
  const std::size_t faces = mesh.triangles.size();
  std::printf("N44W072 at 90 m: %zu faces, %zu distinct vertices\n", faces, mesh.vertices.size());

  std::vector<TSTLFace> records(faces);
  std::vector<unsigned char> encoded(50 * faces);
  for (std::size_t f = 0; f < faces; ++f) {
    const auto& t = mesh.triangles[f];
    records[f] = {{}, mesh.vertices[t[0]], mesh.vertices[t[1]], mesh.vertices[t[2]]};
    records[f].ComputeDerived();
    EncodeStlRecord(records[f], &encoded[50 * f]);
  }

  const std::string stl = (folder / "model.stl").string();
  const std::string package = (folder / "model.3mf").string();
  Times stlFaces, stlRecords, threeMf;
  std::uintmax_t packageBytes = 0;
  for (int run = 0; run < a.runs; ++run) {
    stlFaces.Run([&] {
      // As the writer's Encode does it: normals worked out, records made a block at a time.
      StlFileWriter out(stl);
      constexpr std::size_t block = 1 << 14;
      std::vector<unsigned char> buffer(50 * block);
      for (std::size_t first = 0; first < faces; first += block) {
        const std::size_t count = std::min(block, faces - first);
        for (std::size_t i = 0; i < count; ++i) {
          const TSTLFace& f = records[first + i];
          EncodeStlRecord(TSTLFace::FaceNormal(f.Vertex1, f.Vertex2, f.Vertex3), f.Vertex1,
                          f.Vertex2, f.Vertex3, &buffer[50 * i]);
        }
        out.AddRecords(buffer.data(), count);
      }
      out.Finish();
    });
    fs::remove(stl);
    stlRecords.Run([&] {
      StlFileWriter out(stl);
      constexpr std::size_t block = 1 << 14;
      for (std::size_t first = 0; first < faces; first += block) {
        out.AddRecords(&encoded[50 * first], std::min(block, faces - first));
      }
      out.Finish();
    });
    if (fs::file_size(stl) != 50 * faces + 84) throw std::runtime_error("STL of the wrong size");
    fs::remove(stl);
    threeMf.Run([&] {
      ThreeMfWriter out(package, {}, a.options);
      for (const Vec3& v : mesh.vertices) out.AddVertex(v);
      for (const auto& t : mesh.triangles) out.AddTriangle(t[0], t[1], t[2]);
      out.Finish();
    });
    packageBytes = fs::file_size(package);
    fs::remove(package);
  }
  const double stlBytes = 50.0 * static_cast<double>(faces) + 84;
  std::printf("medians of %d runs, taking turns (wall time, processor time of all threads):\n",
              a.runs);
  const auto line = [](const char* what, const Times& t) {
    std::printf("  %-38s %7.3f s wall %7.3f s processor\n", what, Median(t.wall),
                Median(t.processor));
  };
  line("STL, normals and records", stlFaces);
  line("STL, AddRecords (encoded before)", stlRecords);
  line("3MF, AddVertex + AddTriangle", threeMf);
  std::printf("  bytes: STL %.0f, 3MF %ju: %.1f %% (limit 30 %%)\n", stlBytes, packageBytes,
              100.0 * static_cast<double>(packageBytes) / stlBytes);
  const auto ratio = [&](const char* what, const Times& stlTimes) {
    std::printf("  3MF time against STL %s: %.2f x wall, %.2f x processor (limit 3)\n", what,
                Median(threeMf.wall) / Median(stlTimes.wall),
                Median(threeMf.processor) / Median(stlTimes.processor));
  };
  ratio("normals and records", stlFaces);
  ratio("AddRecords", stlRecords);
}

// A smooth synthetic height of model units at a lattice point; a few flat patches.
float Height(std::int64_t q, std::int64_t r) {
  const double x = static_cast<double>(q) * 0.013;
  const double y = static_cast<double>(r) * 0.011;
  const double h = 8 + 5 * std::sin(x) * std::cos(y) + 2 * std::sin(3.1 * x + 1.7 * y);
  return h < 4 ? 4.0F : static_cast<float>(h);
}

// Column by column, south to north: the cell's corners (the west ones from the column before)
// and, where the cell is not flat, a centre off its middle.
void Lattice(const Arguments& a) {
  const float step = 0.1F;
  const auto rows = static_cast<std::size_t>(a.rows);
  std::vector<std::uint32_t> west(rows + 1), east(rows + 1);
  std::vector<float> westZ(rows + 1), eastZ(rows + 1);
  const auto start = Clock::now();
  ThreeMfWriter out(a.file, {}, a.options);
  for (std::size_t r = 0; r <= rows; ++r) {
    westZ[r] = Height(0, static_cast<std::int64_t>(r));
    west[r] = out.AddVertex({0, static_cast<float>(r) * step, westZ[r]});
  }
  std::uint64_t draw = 0x9E3779B97F4A7C15ULL;
  for (std::int64_t q = 0; q < a.columns; ++q) {
    const float xW = static_cast<float>(q) * step;
    const float xE = static_cast<float>(q + 1) * step;
    for (std::size_t r = 0; r <= rows; ++r) {
      eastZ[r] = Height(q + 1, static_cast<std::int64_t>(r));
      east[r] = out.AddVertex({xE, static_cast<float>(r) * step, eastZ[r]});
    }
    for (std::size_t r = 0; r < rows; ++r) {
      const std::uint32_t sw = west[r], nw = west[r + 1], se = east[r], ne = east[r + 1];
      if (westZ[r] == westZ[r + 1] && westZ[r] == eastZ[r] && westZ[r] == eastZ[r + 1]) {
        out.AddTriangle(nw, sw, ne);
        out.AddTriangle(sw, se, ne);
        continue;
      }
      draw = draw * 6364136223846793005ULL + 1442695040888963407ULL;
      const float fu = 0.125F + 0.75F * static_cast<float>(draw >> 40) / 16777216.0F;
      const float fv = 0.125F + 0.75F * static_cast<float>((draw >> 16) & 0xFFFFFF) / 16777216.0F;
      const float y = (static_cast<float>(r) + fv) * step;
      const std::uint32_t c = out.AddVertex(
          {xW + fu * step, y, (westZ[r] + westZ[r + 1] + eastZ[r] + eastZ[r + 1]) / 4 + fu - 0.5F});
      out.AddTriangle(nw, sw, c);
      out.AddTriangle(sw, se, c);
      out.AddTriangle(se, ne, c);
      out.AddTriangle(ne, nw, c);
    }
    west.swap(east);
    westZ.swap(eastZ);
  }
  out.Finish();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::printf("%lld x %lld cells: %ju vertices, %ju triangles, %ju bytes in %.3f s\n",
              static_cast<long long>(a.columns), static_cast<long long>(a.rows),
              static_cast<std::uintmax_t>(out.VertexCount()),
              static_cast<std::uintmax_t>(out.Count()),
              static_cast<std::uintmax_t>(fs::file_size(a.file)), seconds);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const Arguments arguments = Parse(argc, argv);
    if (arguments.lattice) {
      Lattice(arguments);
    } else {
      Compare(arguments);
    }
    return 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "threemf_bench: %s\n", error.what());
    return 1;
  }
}
