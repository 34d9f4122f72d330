// Timings of the tile and STL foundations beside what the machine allows for the same bytes.
//
//   foundation_bench [--copernicus] [folder]
//
// Writes a synthetic SRTM-1 tile (and a copy with 1 % voids in clusters) into a fresh folder
// under folder (default: the system's temporary folder), times LoadFromFile, HealVoids(3),
// ten million ElevationAt calls and SaveBinary of ten million faces, and prints each beside a
// reference: one read of the file's bytes from the page cache, one pass over the grid, the same
// random sample reads without the arithmetic, one large write of the same number of bytes.
// Every figure is the best of several runs. Then the same terrain as Copernicus GLO-30 tiles
// (Float32 COGs as the bucket lays them out): the median time LoadCopernicusTile takes, alone
// and with its three neighbours, beside the median of LoadFromFile of the SRTM-1 tile, the
// loads taking turns: once with the files in the page cache (warm), once with each file's pages
// dropped before its load, so that it comes from the disk (cold); --copernicus times these
// loads alone. The folder is removed at the end.

#include "model/writers/STL.h"
#include "tiles/Copernicus.h"
#include "tiles/SRTM.h"

#include <cpl_string.h>
#include <gdal.h>
#include <ogr_srs_api.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr int side = 3601;
constexpr std::size_t sampleCount = static_cast<std::size_t>(side) * side;
constexpr std::size_t lookupCount = 10'000'000;
constexpr std::size_t faceCount = 10'000'000;

// Best wall time in seconds of runs calls of timed; prepare runs untimed before each call.
double BestOf(int runs, const std::function<void()>& timed,
              const std::function<void()>& prepare = {}) {
  double best = 1e300;
  for (int i = 0; i < runs; ++i) {
    if (prepare) prepare();
    const auto start = Clock::now();
    timed();
    const std::chrono::duration<double> spent = Clock::now() - start;
    best = std::min(best, spent.count());
  }
  return best;
}

// Keeps a computed value alive so the optimiser can't drop the work that made it.
template <typename T>
void Keep(const T& value) {
  asm volatile("" : : "g"(&value) : "memory");
}

// A smooth synthetic terrain, 0 .. about 3000 m, row 0 south as a tile holds it.
std::vector<std::int16_t> SyntheticTileGrid() {
  std::vector<std::int16_t> grid(sampleCount);
  for (int r = 0; r < side; ++r) {
    const int fileRow = side - 1 - r;
    for (int c = 0; c < side; ++c) {
      const int v = 1500 + ((fileRow * 7 + c * 13) % 1500) - ((fileRow / 3 + c / 5) % 700);
      grid[static_cast<std::size_t>(r) * side + c] = static_cast<std::int16_t>(v);
    }
  }
  return grid;
}

// Sets void clusters of 1 to 6 by 1 to 6 samples until at least 1 % of the grid is void.
std::size_t AddVoidClusters(std::vector<std::int16_t>& grid, std::mt19937_64& random) {
  std::uniform_int_distribution<int> position(0, side - 1);
  std::uniform_int_distribution<int> extent(1, 6);
  std::size_t voids = 0;
  while (voids < sampleCount / 100) {
    const int r0 = position(random);
    const int c0 = position(random);
    const int rows = extent(random);
    const int columns = extent(random);
    for (int r = r0; r < std::min(r0 + rows, side); ++r) {
      for (int c = c0; c < std::min(c0 + columns, side); ++c) {
        std::int16_t& sample = grid[static_cast<std::size_t>(r) * side + c];
        if (sample == -32768) continue;
        sample = -32768;
        ++voids;
      }
    }
  }
  return voids;
}

// One read() of the whole file into a buffer that is already mapped in.
void ReadWhole(const fs::path& file, unsigned char* buffer, std::size_t size) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("cannot open " + file.string());
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::read(fd, buffer + done, size - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  ::close(fd);
  if (done != size) throw std::runtime_error("short read of " + file.string());
}

// One write() of the whole buffer into a new file.
void WriteWhole(const fs::path& file, const unsigned char* buffer, std::size_t size) {
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) throw std::runtime_error("cannot create " + file.string());
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, buffer + done, size - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0 || done != size) throw std::runtime_error("short write of " + file.string());
}

void PrintRow(const char* operation, double seconds, const char* reference, double limitSeconds,
              double megaBytes) {
  std::printf("%-34s %9.1f ms %8.0f MB/s | %-34s %9.1f ms %8.0f MB/s | %5.1fx\n", operation,
              seconds * 1e3, megaBytes / seconds, reference, limitSeconds * 1e3,
              megaBytes / limitSeconds, seconds / limitSeconds);
}

// The grid as the Copernicus tile at lon, lat in folder: without its east column and south row,
// with a decimetre fraction, as a cloud-optimised GeoTIFF of Float32 heights in 1024-pixel
// blocks, deflated with the floating-point predictor, overviews included.
void WriteCopernicusTile(const fs::path& folder, const std::vector<std::int16_t>& grid, int lon,
                         int lat) {
  GDALAllRegister();
  const int columns = orolith::CopernicusColumns(lat);
  const int rows = orolith::CopernicusRows;
  GDALDatasetH memory =
      GDALCreate(GDALGetDriverByName("MEM"), "", columns, rows, 1, GDT_Float32, nullptr);
  std::vector<float> heights(static_cast<std::size_t>(columns) * rows);
  for (int y = 0; y < rows; ++y) {
    const std::size_t row = static_cast<std::size_t>(side - 1 - y) * side;
    for (int x = 0; x < columns; ++x) {
      // Decimetres that vary as a surface model's do, from pixel to pixel.
      const auto hash =
          static_cast<std::uint32_t>(x) * 2654435761U ^ static_cast<std::uint32_t>(y) * 2246822519U;
      heights[static_cast<std::size_t>(y) * columns + x] =
          static_cast<float>(grid[row + static_cast<std::size_t>(x)]) +
          static_cast<float>((hash >> 13) % 10) / 10;
    }
  }
  const double dx = 1.0 / columns;
  const double dy = 1.0 / rows;
  double geo[6] = {lon - dx / 2, dx, 0, lat + 1 + dy / 2, 0, -dy};
  GDALSetGeoTransform(memory, geo);
  OGRSpatialReferenceH wgs84 = OSRNewSpatialReference(nullptr);
  OSRImportFromEPSG(wgs84, 4326);
  GDALSetSpatialRef(memory, wgs84);
  OSRDestroySpatialReference(wgs84);
  const CPLErr written = GDALRasterIO(GDALGetRasterBand(memory, 1), GF_Write, 0, 0, columns, rows,
                                      heights.data(), columns, rows, GDT_Float32, 0, 0);
  const fs::path file = folder / orolith::CopernicusTileName(lon, lat);
  const char* options[] = {"BLOCKSIZE=1024", "COMPRESS=DEFLATE", "PREDICTOR=YES", nullptr};
  GDALDatasetH cog = written != CE_None
                         ? nullptr
                         : GDALCreateCopy(GDALGetDriverByName("COG"), file.c_str(), memory, FALSE,
                                          const_cast<char**>(options), nullptr, nullptr);
  GDALClose(memory);
  if (cog == nullptr) throw std::runtime_error("cannot write " + file.string());
  GDALClose(cog);
}

// Drops the file's pages from the page cache, so that the next read comes from the disk.
void Evict(const std::string& file) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("cannot open " + file);
  const bool done = ::fdatasync(fd) == 0 && ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) == 0;
  ::close(fd);
  if (!done) throw std::runtime_error("cannot evict " + file);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The processor time of the whole process, every thread's, in seconds.
double ProcessorSeconds() {
  timespec now{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

double Seconds(const std::function<void()>& timed) {
  const auto start = Clock::now();
  timed();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

class ScratchFolder {
 public:
  explicit ScratchFolder(const fs::path& parent) {
    std::string pattern = (parent / "orolith-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create " + pattern);
    path_ = pattern;
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  ~ScratchFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
};

void Run(const fs::path& parent, bool copernicusOnly) {
  using orolith::TSRTM;
  const ScratchFolder folder(parent);
  std::mt19937_64 random(20130304);

  std::vector<std::int16_t> synthetic = SyntheticTileGrid();
  const fs::path tileFile = folder.Path() / "N45E007.hgt";
  orolith::WriteTileFile(tileFile.string(), side, synthetic);
  const std::size_t voids = AddVoidClusters(synthetic, random);
  const fs::path voidFile = folder.Path() / "N46E007.hgt";
  orolith::WriteTileFile(voidFile.string(), side, synthetic);
  const std::size_t fileBytes = sampleCount * 2;
  const double tileMB = static_cast<double>(fileBytes) / 1e6;

  std::printf("SRTM-1 tile %d x %d (%.1f MB), %zu voids (%.2f %%) in clusters, folder %s\n\n", side,
              side, tileMB, voids, 100.0 * static_cast<double>(voids) / sampleCount,
              folder.Path().c_str());
  std::printf("%-34s %12s %13s | %-34s %12s %13s | %s\n", "operation", "best", "rate", "reference",
              "best", "rate", "ratio");

  TSRTM tile;
  if (!copernicusOnly) {
    {
      std::vector<unsigned char> buffer(fileBytes, 1);
      tile.LoadFromFile(tileFile.string(), 7, 45);  // brings the file into the page cache
      const double load = BestOf(7, [&] { tile.LoadFromFile(tileFile.string(), 7, 45); });
      const double read = BestOf(7, [&] { ReadWhole(tileFile, buffer.data(), buffer.size()); });
      PrintRow("LoadFromFile (SRTM-1)", load, "one read() from page cache", read, tileMB);
    }

    {
      std::int32_t healed = 0;
      const double heal = BestOf(
          5, [&] { healed = tile.HealVoids(3); },
          [&] { tile.LoadFromFile(voidFile.string(), 7, 46); });
      if (static_cast<std::size_t>(healed) != voids) throw std::runtime_error("void count differs");
      std::int16_t low = 0;
      std::int16_t high = 0;
      const double scan = BestOf(5, [&] {
        tile.GetElevationRange(low, high);
        Keep(low);
        Keep(high);
      });
      PrintRow("HealVoids(3), 1 % voids", heal, "one pass over the grid (min/max)", scan, tileMB);
    }

    {
      tile.LoadFromFile(tileFile.string(), 7, 45);
      std::uniform_real_distribution<double> offset(0.0, 1.0);
      std::vector<double> lons(lookupCount);
      std::vector<double> lats(lookupCount);
      std::vector<std::uint32_t> cells(lookupCount);
      for (std::size_t i = 0; i < lookupCount; ++i) {
        lons[i] = 7 + offset(random);
        lats[i] = 45 + offset(random);
        const auto r = static_cast<std::uint32_t>((lats[i] - 45) * (side - 1));
        const auto c = static_cast<std::uint32_t>((lons[i] - 7) * (side - 1));
        cells[i] =
            std::min<std::uint32_t>(r, side - 2) * side + std::min<std::uint32_t>(c, side - 2);
      }
      // The lookups at the points, and the bare reads of the same four samples each needs.
      const auto timeLookups = [&] {
        return BestOf(3, [&] {
          long double s = 0;
          for (std::size_t i = 0; i < lookupCount; ++i) s += tile.ElevationAt(lons[i], lats[i]);
          Keep(s);
        });
      };
      const std::int16_t* grid = tile.Samples();
      const auto timeGathers = [&] {
        return BestOf(3, [&] {
          long long s = 0;
          for (std::size_t i = 0; i < lookupCount; ++i) {
            const std::int16_t* p = grid + cells[i];
            s += p[0] + p[1] + p[side] + p[side + 1];
          }
          Keep(s);
        });
      };
      const double lookups = timeLookups();
      const double gathers = timeGathers();
      const double pointMB = static_cast<double>(lookupCount) * 16 / 1e6;
      PrintRow("ElevationAt x 10M, random points", lookups, "the same 4-sample reads, no math",
               gathers, pointMB);

      // The order in which the model generation asks: a raster walked row by row.
      constexpr std::size_t walkSide = 3162;  // about 10M points
      for (std::size_t i = 0; i < lookupCount; ++i) {
        lons[i] = 7 + static_cast<double>(i % walkSide) / walkSide;
        lats[i] = 45 + static_cast<double>(i / walkSide) / (walkSide + 1);
        const auto r = static_cast<std::uint32_t>((lats[i] - 45) * (side - 1));
        const auto c = static_cast<std::uint32_t>((lons[i] - 7) * (side - 1));
        cells[i] =
            std::min<std::uint32_t>(r, side - 2) * side + std::min<std::uint32_t>(c, side - 2);
      }
      const double walk = timeLookups();
      const double walkGathers = timeGathers();
      PrintRow("ElevationAt x 10M, raster walk", walk, "the same 4-sample reads, no math",
               walkGathers, pointMB);
      std::printf("%-34s %6.1f ns a call at random points, %.1f ns in a raster walk\n", "",
                  lookups / static_cast<double>(lookupCount) * 1e9,
                  walk / static_cast<double>(lookupCount) * 1e9);
    }
  }

  {
    std::vector<std::int16_t> terrain = SyntheticTileGrid();
    const fs::path alone = folder.Path() / "alone";
    const fs::path block = folder.Path() / "block";
    fs::create_directories(alone);
    fs::create_directories(block);
    WriteCopernicusTile(alone, terrain, 7, 45);
    for (const auto& [lon, lat] : {std::pair{7, 45}, {8, 45}, {7, 44}, {8, 44}}) {
      WriteCopernicusTile(block, terrain, lon, lat);
    }
    const std::string aloneTile = (alone / orolith::CopernicusTileName(7, 45)).string();
    const std::string blockTile = (block / orolith::CopernicusTileName(7, 45)).string();
    std::vector<std::string> blockFiles;
    for (const auto& entry : fs::directory_iterator(block)) blockFiles.push_back(entry.path());
    constexpr int loads = 11;
    std::printf(
        "\nCopernicus GLO-30 tile 3600 x 3600 (%.1f MB as COG), medians of %d loads each, "
        "taking turns:\n",
        static_cast<double>(fs::file_size(aloneTile)) / 1e6, loads);
    for (const bool cold : {false, true}) {
      std::vector<double> srtm;
      std::vector<double> cop;
      std::vector<double> copBlock;
      std::vector<double> srtmProcessor;
      std::vector<double> copProcessor;
      // A warm load finds the files in the page cache; a cold one reads them from the disk.
      const auto evict = [&](const std::vector<std::string>& files) {
        if (cold) {
          for (const std::string& file : files) Evict(file);
        }
      };
      orolith::LoadCopernicusTile(tile, blockTile, 7, 45);
      orolith::LoadCopernicusTile(tile, aloneTile, 7, 45);
      for (int i = 0; i < loads; ++i) {
        evict({tileFile.string()});
        double processor = ProcessorSeconds();
        srtm.push_back(Seconds([&] { tile.LoadFromFile(tileFile.string(), 7, 45); }));
        srtmProcessor.push_back(ProcessorSeconds() - processor);
        evict({aloneTile});
        processor = ProcessorSeconds();
        cop.push_back(Seconds([&] { orolith::LoadCopernicusTile(tile, aloneTile, 7, 45); }));
        copProcessor.push_back(ProcessorSeconds() - processor);
        evict(blockFiles);
        copBlock.push_back(Seconds([&] { orolith::LoadCopernicusTile(tile, blockTile, 7, 45); }));
      }
      const double srtmMedian = Median(srtm);
      const char* reference = cold ? "LoadFromFile (SRTM-1), cold" : "LoadFromFile (SRTM-1), warm";
      PrintRow(cold ? "LoadCopernicusTile, alone, cold" : "LoadCopernicusTile, alone, warm",
               Median(cop), reference, srtmMedian, tileMB);
      PrintRow(cold ? "LoadCopernicusTile, 3 neighb., cold" : "LoadCopernicusTile, 3 neighb., warm",
               Median(copBlock), reference, srtmMedian, tileMB);
      // The machine is shared: processor time tells what a load costs when other work takes
      // a core.
      std::printf("%-34s %6.1f ms processor time a Copernicus load alone, %.1f ms an SRTM-1 load\n",
                  "", Median(copProcessor) * 1e3, Median(srtmProcessor) * 1e3);
    }
  }

  if (copernicusOnly) return;
  {
    orolith::TSTL faces;
    faces.Reserve(faceCount);
    std::uniform_real_distribution<float> coordinate(0.0F, 100.0F);
    for (std::size_t i = 0; i < faceCount; ++i) {
      const orolith::Vec3 a{coordinate(random), coordinate(random), coordinate(random)};
      faces.AddFace(a, {a.x + 1, a.y, a.z}, {a.x, a.y + 1, a.z + 0.5F});
    }
    const std::size_t stlBytes = 84 + 50 * faceCount;
    const fs::path stlFile = folder.Path() / "model.stl";
    const fs::path plainFile = folder.Path() / "plain.bin";
    const double save = BestOf(
        3, [&] { faces.SaveBinary(stlFile.string()); }, [&] { fs::remove(stlFile); });
    if (fs::file_size(stlFile) != stlBytes) throw std::runtime_error("STL size differs");
    fs::remove(stlFile);
    std::vector<unsigned char> buffer(stlBytes, 1);
    const double write = BestOf(
        3, [&] { WriteWhole(plainFile, buffer.data(), buffer.size()); },
        [&] { fs::remove(plainFile); });
    PrintRow("SaveBinary, 10M faces", save, "one write() of the same bytes", write,
             static_cast<double>(stlBytes) / 1e6);
  }
}

}  // namespace

int main(int argc, char** argv) {
  try {
    std::vector<std::string> args(argv + 1, argv + argc);
    const bool copernicusOnly = !args.empty() && args.front() == "--copernicus";
    if (copernicusOnly) args.erase(args.begin());
    Run(args.empty() ? fs::temp_directory_path() : fs::path(args.front()), copernicusOnly);
    return 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "foundation_bench: %s\n", error.what());
    return 1;
  }
}
