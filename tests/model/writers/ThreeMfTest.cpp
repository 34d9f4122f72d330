// The 3MF writer read back by the tests' package reader, and held to the promises the STL
// writer makes about the file.

#include "base/Errors.h"
#include "base/Interrupt.h"
#include "model/TerrainModel.h"
#include "model/writers/ModelFile.h"
#include "model/writers/ThreeMf.h"
#include "model/writers/ThreeMfSink.h"
#include "model/writers/ZipPackage.h"
#include "support/FileErrors.h"
#include "support/ModelRun.h"
#include "support/Package.h"
#include "support/Pipes.h"
#include "support/Privileges.h"
#include "support/RecordingHost.h"
#include "support/Scoped.h"
#include "support/StlReader.h"
#include "support/TempFiles.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <array>
#include <bit>
#include <cfloat>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <ostream>
#include <set>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

namespace orolith {
namespace {

namespace fs = std::filesystem;
using test::FolderEntries;
using test::ModelPart;
using test::Package;
using test::TempDir;
using test::ZipPart;

struct Mesh {
  std::vector<Vec3> vertices;
  std::vector<std::array<std::uint32_t, 3>> triangles;
};

// A terrain-like surface: a lattice of corners shared by neighbouring cells, a centre in every
// cell off the flat ground and four triangles around it, two triangles for a flat cell.
Vec3 Corner(int q, int r) {
  const float h =
      3.0F + std::sin(0.37F * static_cast<float>(q)) * std::cos(0.23F * static_cast<float>(r));
  return MakeVec(0.135F * static_cast<float>(q), 0.0971F * static_cast<float>(r),
                 h < 2.5F ? 2.5F : h);
}

// The centre of the cell whose south-west corner is (q, r); none where the cell is flat.
std::optional<Vec3> Centre(int q, int r) {
  const float z = Corner(q, r).z;
  if (z == Corner(q, r + 1).z && z == Corner(q + 1, r).z && z == Corner(q + 1, r + 1).z) {
    return std::nullopt;
  }
  const float f = 0.2F + 0.6F * static_cast<float>((q * 7 + r * 3) % 11) / 10.0F;
  return MakeVec(0.135F * (static_cast<float>(q) + f), 0.0971F * (static_cast<float>(r) + 1 - f),
                 z + f);
}

// The triangles of one cell, counter-clockwise seen from above.
template <typename Triangles>
void CellTriangles(Triangles& out, std::uint32_t sw, std::uint32_t nw, std::uint32_t se,
                   std::uint32_t ne, std::optional<std::uint32_t> centre) {
  if (!centre) {
    out.push_back({nw, sw, ne});
    out.push_back({sw, se, ne});
    return;
  }
  out.push_back({nw, sw, *centre});
  out.push_back({sw, se, *centre});
  out.push_back({se, ne, *centre});
  out.push_back({ne, nw, *centre});
}

// The lattice numbered as a mesher goes, column by column: the column's east corners, then
// the centres of its cells south to north.
Mesh Grid(int columns, int rows) {
  Mesh m;
  const auto add = [&m](const Vec3& v) {
    m.vertices.push_back(v);
    return static_cast<std::uint32_t>(m.vertices.size() - 1);
  };
  std::vector<std::uint32_t> west, east;
  for (int r = 0; r <= rows; ++r) west.push_back(add(Corner(0, r)));
  for (int q = 0; q < columns; ++q) {
    east.clear();
    for (int r = 0; r <= rows; ++r) east.push_back(add(Corner(q + 1, r)));
    for (int r = 0; r < rows; ++r) {
      const auto s = static_cast<std::size_t>(r);
      const auto centre = Centre(q, r);
      CellTriangles(m.triangles, west[s], west[s + 1], east[s], east[s + 1],
                    centre ? std::optional(add(*centre)) : std::nullopt);
    }
    west.swap(east);
  }
  return m;
}

// The same lattice as a band pipeline would hand it over: bands of up to band columns, each
// numbered on its own, its west edge shared with the band before.
void GridInPieces(ThreeMfWriter& out, int columns, int rows, int band) {
  const auto corners = static_cast<std::uint32_t>(rows + 1);
  std::vector<Vec3> vertices;
  for (int r = 0; r <= rows; ++r) vertices.push_back(Corner(0, r));
  std::vector<std::uint32_t> westShared(corners);
  const std::uint32_t first = out.AddPiece(vertices, {}, {});
  for (std::uint32_t r = 0; r < corners; ++r) westShared[r] = first + r;
  for (int q0 = 0; q0 < columns; q0 += band) {
    vertices.clear();
    std::vector<ThreeMfWriter::Item> triangles;
    // Local corners: the shared west edge first, then the band's own vertices.
    const auto add = [&](const Vec3& v) {
      vertices.push_back(v);
      return corners + static_cast<std::uint32_t>(vertices.size() - 1);
    };
    std::vector<std::uint32_t> west(corners), east;
    for (std::uint32_t r = 0; r < corners; ++r) west[r] = r;
    for (int q = q0; q < std::min(columns, q0 + band); ++q) {
      east.clear();
      for (int r = 0; r <= rows; ++r) east.push_back(add(Corner(q + 1, r)));
      for (int r = 0; r < rows; ++r) {
        const auto s = static_cast<std::size_t>(r);
        const auto centre = Centre(q, r);
        CellTriangles(triangles, west[s], west[s + 1], east[s], east[s + 1],
                      centre ? std::optional(add(*centre)) : std::nullopt);
      }
      west.swap(east);
    }
    const std::uint32_t base = out.AddPiece(vertices, triangles, westShared);
    for (std::uint32_t r = 0; r < corners; ++r) westShared[r] = base + west[r] - corners;
  }
}

// Floats whose text is easy to get wrong, each vertex of its own, and triangles in every corner
// order over them.
Mesh BoundaryFloats() {
  const float values[] = {
      0.0F,          -0.0F,       1.0F,        -1.0F,           0.1F,      1.0F / 3, 32767.0F,
      -32768.0F,     -32000.0F,   -32001.0F,   100.0F,          1e-5F,     1e20F,    16777216.0F,
      16777217.0F,   0.30000001F, FLT_MIN,     -FLT_MIN,        FLT_MAX,   -FLT_MAX, FLT_TRUE_MIN,
      -FLT_TRUE_MIN, FLT_EPSILON, 123456.789F, 9.99999944e-11F, 3.4028e38F};
  Mesh m;
  const std::size_t n = std::size(values);
  for (std::size_t i = 0; i < n; ++i) {
    m.vertices.push_back(MakeVec(values[i], values[(i + 7) % n], values[(i + 13) % n]));
  }
  for (std::uint32_t i = 0; i + 2 < n; ++i) {
    m.triangles.push_back({i, i + 1, i + 2});
    m.triangles.push_back({i + 2, i, i + 1});
    m.triangles.push_back({i + 1, i + 2, i});
  }
  return m;
}

Mesh OneTriangle() {
  return {{MakeVec(0, 0, 0), MakeVec(1, 0, 0), MakeVec(0, 1, 0)}, {{0, 1, 2}}};
}

void Write(const std::string& name, const Mesh& mesh, const ThreeMfOptions& options) {
  ThreeMfWriter out(name, {}, options);
  // Interleaved as a mesher makes them: a triangle may come before its last vertex.
  std::size_t t = 0;
  for (std::size_t v = 0; v < mesh.vertices.size(); ++v) {
    EXPECT_EQ(out.AddVertex(mesh.vertices[v]), v);
    for (; t < mesh.triangles.size() && t < 2 * v; ++t) {
      out.AddTriangle(mesh.triangles[t][0], mesh.triangles[t][1], mesh.triangles[t][2]);
    }
  }
  for (; t < mesh.triangles.size(); ++t) {
    out.AddTriangle(mesh.triangles[t][0], mesh.triangles[t][1], mesh.triangles[t][2]);
  }
  EXPECT_EQ(out.VertexCount(), mesh.vertices.size());
  EXPECT_EQ(out.Count(), mesh.triangles.size());
  out.Finish();
}

const ZipPart& Part(const Package& archive, const std::string& name) {
  for (const ZipPart& part : archive.parts) {
    if (part.name == name) return part;
  }
  throw std::runtime_error("no part " + name);
}

// What holds for every package: its three parts in order, their content types and
// relationship, and a model of one mesh object in millimetres built once, naming the program.
ModelPart CheckPackage(const Package& archive) {
  std::vector<std::string> names;
  for (const ZipPart& part : archive.parts) names.push_back(part.name);
  EXPECT_EQ(names,
            (std::vector<std::string>{"[Content_Types].xml", "_rels/.rels", "3D/3dmodel.model"}));
  const std::string& types = Part(archive, "[Content_Types].xml").content;
  EXPECT_NE(types.find("<Default Extension=\"model\" "
                       "ContentType=\"application/vnd.ms-package.3dmanufacturing-3dmodel+xml\"/>"),
            std::string::npos)
      << types;
  EXPECT_NE(
      types.find("<Default Extension=\"rels\" "
                 "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"),
      std::string::npos)
      << types;
  const std::string& rels = Part(archive, "_rels/.rels").content;
  EXPECT_NE(rels.find("Target=\"/3D/3dmodel.model\""), std::string::npos) << rels;
  EXPECT_NE(rels.find("Type=\"http://schemas.microsoft.com/3dmanufacturing/2013/01/3dmodel\""),
            std::string::npos)
      << rels;

  ModelPart model = archive.model;
  EXPECT_EQ(model.modelAttributes["unit"], "millimeter");
  EXPECT_EQ(model.modelAttributes["xmlns"],
            "http://schemas.microsoft.com/3dmanufacturing/core/2015/02");
  EXPECT_EQ(model.metadata, (std::map<std::string, std::string>{
                                {"Application", std::string("Orolith ") + OROLITH_VERSION}}));
  EXPECT_EQ(model.object, (std::map<std::string, std::string>{{"id", "1"}, {"type", "model"}}));
  EXPECT_EQ(model.items, (std::vector<std::map<std::string, std::string>>{{{"objectid", "1"}}}));
  return model;
}

// The text %g makes of value with the fewest significant digits that read back to it: the
// shortest text that reads back to the same float has as many digits and is no longer.
std::string ShortestG(float value) {
  char text[64];
  for (int digits = 1; digits <= 9; ++digits) {
    std::snprintf(text, sizeof text, "%.*g", digits, static_cast<double>(value));
    if (std::strtof(text, nullptr) == value) break;
  }
  return text;
}

// The significant digits of a number's text (no sign, no point, no exponent, no leading zeros).
int SignificantDigits(const std::string& text) {
  const std::string mantissa = text.substr(0, text.find_first_of("eE"));
  std::string digits;
  for (const char c : mantissa) {
    if (c >= '0' && c <= '9') digits += c;
  }
  const std::size_t first = digits.find_first_not_of('0');
  if (first == std::string::npos) return 1;
  const std::size_t last = digits.find_last_not_of('0');
  // The zeros that end a whole number only place its point; after a point they would be
  // digits too many.
  const bool whole = mantissa.find('.') == std::string::npos;
  return static_cast<int>((whole ? last + 1 : digits.size()) - first);
}

// The mesh as it went in: every vertex once and to the bit, in the shortest text; every
// triangle in order with its corners in order.
void ExpectMesh(const ModelPart& model, const Mesh& mesh) {
  ASSERT_EQ(model.vertices.size(), mesh.vertices.size());
  for (std::size_t i = 0; i < mesh.vertices.size(); ++i) {
    const Vec3& in = mesh.vertices[i];
    const Vec3& out = model.vertices[i];
    ASSERT_EQ(std::memcmp(&in, &out, sizeof in), 0)
        << "vertex " << i << ": " << model.vertexTexts[3 * i] << " " << model.vertexTexts[3 * i + 1]
        << " " << model.vertexTexts[3 * i + 2];
    for (int c = 0; c < 3; ++c) {
      const std::string& text = model.vertexTexts[3 * i + static_cast<std::size_t>(c)];
      const std::string shortest = ShortestG(c == 0 ? in.x : c == 1 ? in.y : in.z);
      ASSERT_EQ(SignificantDigits(text), SignificantDigits(shortest))
          << text << " against " << shortest;
      ASSERT_LE(text.size(), shortest.size()) << text << " against " << shortest;
    }
  }
  std::set<std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>> distinct;
  for (const Vec3& v : model.vertices) {
    distinct.emplace(std::bit_cast<std::uint32_t>(v.x), std::bit_cast<std::uint32_t>(v.y),
                     std::bit_cast<std::uint32_t>(v.z));
  }
  EXPECT_EQ(distinct.size(), model.vertices.size()) << "a vertex written twice";
  EXPECT_EQ(model.triangles, mesh.triangles);
}

// ---------------------------------------------------------------------------------------
// Round trips

enum class Destination { File, Pipe };
enum class Zip64 { None, ModelAndEnd, All };

struct RoundTrip {
  const char* name;
  std::function<Mesh()> mesh;
  unsigned threads;
  std::size_t chunk;
  std::uint64_t zip64From;
  Destination destination;
  Zip64 zip64;  // which records the package must have
};

void PrintTo(const RoundTrip& c, std::ostream* out) {
  *out << c.name;
}

class ThreeMfRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(ThreeMfRoundTrip, ReadsBackTheSameMeshFromAValidPackage) {
  const RoundTrip& c = GetParam();
  const TempDir dir;
  const Mesh mesh = c.mesh();
  ThreeMfOptions options;
  options.Threads = c.threads;
  options.ChunkItems = c.chunk;
  options.Zip64From = c.zip64From;
  std::vector<unsigned char> bytes;
  if (c.destination == Destination::Pipe) {
    const std::string fifo = dir.Root() + "pipe.3mf";
    test::PipeReader pipe(fifo);
    Write(fifo, mesh, options);
    bytes = pipe.Collect();
    EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{"pipe.3mf"});
  } else {
    const std::string name = dir.Root() + "model.3mf";
    Write(name, mesh, options);
    bytes = test::ReadBytes(name);
    EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{"model.3mf"});
  }

  const Package archive = test::ReadPackage(bytes);
  const ModelPart model = CheckPackage(archive);
  ExpectMesh(model, mesh);

  const bool all = c.zip64 == Zip64::All;
  EXPECT_EQ(archive.zip64End, c.zip64 != Zip64::None);
  for (const ZipPart& part : archive.parts) {
    SCOPED_TRACE(part.name);
    const bool model3d = part.name == "3D/3dmodel.model";
    EXPECT_EQ(part.method, model3d ? 8 : 0);
    EXPECT_EQ(part.descriptor, model3d && c.destination == Destination::Pipe);
    EXPECT_EQ(part.centralZip64, all || (model3d && c.zip64 == Zip64::ModelAndEnd));
    // A part streamed into a pipe may pass 4 GiB before its end: its header says ZIP64 always.
    EXPECT_EQ(part.localZip64,
              all || (model3d && c.zip64 == Zip64::ModelAndEnd) || part.descriptor);
    EXPECT_EQ(part.versionNeeded, part.localZip64 || part.centralZip64 ? 45 : 20);
  }
}

const RoundTrip roundTrips[] = {
    {"EmptyMesh", [] { return Mesh{}; }, 1, 1 << 15, PlainZipLimit, Destination::File, Zip64::None},
    {"OneTriangle", OneTriangle, 1, 1 << 15, PlainZipLimit, Destination::File, Zip64::None},
    {"BoundaryFloats", BoundaryFloats, 2, 5, PlainZipLimit, Destination::File, Zip64::None},
    {"ChunksOnTheCallingThread", [] { return Grid(40, 30); }, 1, 97, PlainZipLimit,
     Destination::File, Zip64::None},
    {"ChunksOnThreeThreads", [] { return Grid(40, 30); }, 3, 97, PlainZipLimit, Destination::File,
     Zip64::None},
    {"DefaultChunksAndThreads", [] { return Grid(150, 130); }, 0, 1 << 15, PlainZipLimit,
     Destination::File, Zip64::None},
    {"Zip64Everywhere", [] { return Grid(20, 20); }, 2, 64, 0, Destination::File, Zip64::All},
    // Past the small parts and their offsets, short of the model part's sizes.
    {"Zip64ForTheModelPartAlone", [] { return Grid(20, 20); }, 2, 64, 2000, Destination::File,
     Zip64::ModelAndEnd},
    {"Pipe", [] { return Grid(30, 20); }, 2, 64, PlainZipLimit, Destination::Pipe, Zip64::None},
    {"PipeWithZip64", [] { return Grid(30, 20); }, 2, 64, 0, Destination::Pipe, Zip64::All},
};

INSTANTIATE_TEST_SUITE_P(Cases, ThreeMfRoundTrip, ::testing::ValuesIn(roundTrips),
                         [](const auto& each) { return std::string(each.param.name); });

TEST(ThreeMfWriter, TheDataIsTheSameWithAnyNumberOfThreads) {
  const TempDir dir;
  const Mesh mesh = Grid(50, 40);
  std::vector<std::string> data;
  for (const unsigned threads : {1U, 2U, 3U}) {
    ThreeMfOptions options;
    options.Threads = threads;
    options.ChunkItems = 300;
    const std::string name = dir.Root() + std::to_string(threads) + ".3mf";
    Write(name, mesh, options);
    data.push_back(Part(test::ReadPackage(name), "3D/3dmodel.model").dataHash);
  }
  EXPECT_EQ(data[0], data[1]);
  EXPECT_EQ(data[0], data[2]);
}

TEST(ThreeMfWriter, PiecesNumberedOnTheirOwnMakeTheSameMesh) {
  const TempDir dir;
  ThreeMfOptions options;
  options.ChunkItems = 200;
  {
    ThreeMfWriter out(dir.Root() + "pieces.3mf", {}, options);
    GridInPieces(out, 23, 17, 5);
    out.Finish();
  }
  ExpectMesh(CheckPackage(test::ReadPackage(dir.Root() + "pieces.3mf")), Grid(23, 17));

  // A corner beyond the piece adds nothing.
  ThreeMfWriter out(dir.Root() + "bad.3mf", {}, options);
  const Vec3 two[] = {MakeVec(0, 0, 0), MakeVec(1, 0, 0)};
  const std::uint32_t shared[] = {0};
  out.AddPiece(std::span(two).first(1), {}, {});
  const ThreeMfWriter::Item beyond[] = {{0, 1, 3}};
  EXPECT_THROW(out.AddPiece(two, beyond, shared), std::invalid_argument);
  EXPECT_EQ(out.VertexCount(), 1U);
  EXPECT_EQ(out.Count(), 0U);
}

TEST(ThreeMfWriter, ChunksCompressAlmostAsOneStreamForTheyArePrimedWithTheTextBefore) {
  const TempDir dir;
  const Mesh mesh = Grid(120, 100);
  std::uint64_t sizes[2] = {};
  for (const int i : {0, 1}) {
    ThreeMfOptions options;
    options.ChunkItems = i == 0 ? 300 : 1 << 20;  // some 15 kB of text, or all in one
    const std::string name = dir.Root() + std::to_string(i) + ".3mf";
    Write(name, mesh, options);
    sizes[i] = Part(test::ReadPackage(name), "3D/3dmodel.model").compressed;
  }
  // Unprimed, each chunk would start from an empty window and cost some 4 % more.
  EXPECT_LT(static_cast<double>(sizes[0]), 1.01 * static_cast<double>(sizes[1]))
      << sizes[0] << " against " << sizes[1];
}

TEST(ThreeMfWriter, TheSameMeshMakesTheSameBytes) {
  const TempDir dir;
  Write(dir.Root() + "a.3mf", Grid(20, 10), {});
  Write(dir.Root() + "b.3mf", Grid(20, 10), {});
  const std::vector<unsigned char> a = test::ReadBytes(dir.Root() + "a.3mf");
  EXPECT_EQ(a, test::ReadBytes(dir.Root() + "b.3mf"));
  for (const ZipPart& part : test::ReadPackage(a).parts) {
    EXPECT_EQ(part.dosDate, 1 << 5 | 1) << part.name;
    EXPECT_EQ(part.dosTime, 0) << part.name;
  }
}

// ---------------------------------------------------------------------------------------
// Failures

TEST(ThreeMfWriter, KeepsAnErrorUntilFinishAndLetsTheFailedFileGoAtOnce) {
  const TempDir dir;
  const std::string missing = dir.Root() + "none/a.3mf";
  test::ExpectFileError(missing, "Cannot create file",
                        [&] { ThreeMfWriter cannotCreate(missing); });

  const std::string name = dir.Root() + "model.3mf";
  test::WriteBytes(name, {7, 7});
  const Mesh mesh = Grid(100, 100);
  {
    ThreeMfOptions options;
    options.ChunkItems = 500;
    ThreeMfWriter out(name, {}, options);
    {
      const test::FileSizeLimit limit(16384);
      for (const Vec3& v : mesh.vertices) EXPECT_NO_THROW(out.AddVertex(v));
    }
    // The temporary that ran into the limit is gone before the run ends.
    EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{"model.3mf"});
    for (const auto& t : mesh.triangles) out.AddTriangle(t[0], t[1], t[2]);
    EXPECT_EQ(out.VertexCount(), mesh.vertices.size());
    EXPECT_EQ(out.Count(), mesh.triangles.size());
    test::ExpectFileError(name, "Cannot write file", [&] { out.Finish(); });
  }
  EXPECT_EQ(test::ReadBytes(name), (std::vector<unsigned char>{7, 7}));
  EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{"model.3mf"});
}

TEST(ThreeMfWriter, AWriteThatFailsAtFinishKeepsTheOldFileAndLeavesNoTemporary) {
  const TempDir dir;
  const Mesh mesh = Grid(120, 100);
  ThreeMfOptions options;
  options.Threads = 2;
  // The package, and the package of the vertices alone: the triangles' data waits in the
  // spool until Finish, and its size is the difference.
  Write(dir.Root() + "whole.3mf", mesh, options);
  Write(dir.Root() + "vertices.3mf", Mesh{mesh.vertices, {}}, options);
  const auto whole = fs::file_size(dir.Root() + "whole.3mf");
  const auto vertices = fs::file_size(dir.Root() + "vertices.3mf");
  const auto triangles = whole - vertices;
  // Room for the spool and for the package up to Finish, not for the whole package.
  const auto limit = triangles + vertices / 2;
  ASSERT_LT(vertices + 4096, limit);
  ASSERT_LT(limit + 4096, whole);
  fs::remove(dir.Root() + "whole.3mf");
  fs::remove(dir.Root() + "vertices.3mf");

  const std::string name = dir.Root() + "model.3mf";
  const std::vector<unsigned char> old(300, 0x55);
  test::WriteBytes(name, old);
  {
    const test::FileSizeLimit limited(limit);
    ThreeMfWriter out(name, {}, options);
    for (const Vec3& v : mesh.vertices) out.AddVertex(v);
    for (const auto& t : mesh.triangles) out.AddTriangle(t[0], t[1], t[2]);
    test::ExpectFileError(name, "Cannot write file", [&] { out.Finish(); });
  }
  EXPECT_EQ(test::ReadBytes(name), old);
  EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{"model.3mf"});
}

TEST(ThreeMfWriter, WritesDevicesInPlaceAndReportsAFullDisk) {
  if (!fs::is_character_file("/dev/full")) GTEST_SKIP() << "no /dev/full";
  test::ExpectFileError("/dev/full", "Cannot write file",
                        [&] { Write("/dev/full", Grid(10, 10), {}); });
  EXPECT_TRUE(fs::is_character_file("/dev/full"));
}

TEST(ThreeMfWriter, ATriangleOverAVertexNeverAddedFailsAndKeepsTheOldFile) {
  const TempDir dir;
  const std::string name = dir.Root() + "model.3mf";
  test::WriteBytes(name, {1, 2, 3});
  Mesh mesh = OneTriangle();
  mesh.triangles.push_back({0, 2, 3});
  EXPECT_THROW(Write(name, mesh, {}), std::invalid_argument);
  EXPECT_EQ(test::ReadBytes(name), (std::vector<unsigned char>{1, 2, 3}));
  EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{"model.3mf"});
}

// Forgets the stop it asked for when the test ends, whatever happens in it.
struct InterruptAsked {
  explicit InterruptAsked(bool now) {
    InstallInterruptHandlers();
    if (now) Ask();
  }
  static void Ask() { ::raise(SIGINT); }
  ~InterruptAsked() { ClearInterrupt(); }
};

class ThreeMfInterrupt : public ::testing::TestWithParam<std::size_t> {};

// The parameter: how many vertices go in before the stop is asked for.
TEST_P(ThreeMfInterrupt, KeepsTheOldFileAndLeavesNoTemporary) {
  const TempDir dir;
  const std::string name = dir.Root() + "model.3mf";
  const std::vector<unsigned char> old(300, 0x55);
  test::WriteBytes(name, old);
  const Mesh mesh = Grid(60, 50);
  const std::size_t asked = GetParam();
  ASSERT_LT(asked, mesh.vertices.size());
  const InterruptAsked stop(asked == 0);
  ThreeMfOptions options;
  options.ChunkItems = 100;
  EXPECT_THROW(
      {
        ThreeMfWriter out(name, {}, options);
        for (std::size_t v = 0; v < mesh.vertices.size(); ++v) {
          if (v == asked && asked > 0) InterruptAsked::Ask();
          out.AddVertex(mesh.vertices[v]);
        }
        for (const auto& t : mesh.triangles) out.AddTriangle(t[0], t[1], t[2]);
        out.Finish();
      },
      Interrupted);
  EXPECT_EQ(test::ReadBytes(name), old);
  EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{"model.3mf"});
}

INSTANTIATE_TEST_SUITE_P(Points, ThreeMfInterrupt, ::testing::Values(0U, 1U, 2500U));

TEST(ThreeMfWriter, AWritableFileInAFolderThatTakesNoNewFileIsOverwrittenWhenComplete) {
  const TempDir dir;
  const fs::path locked = dir.Path() / "locked";
  fs::create_directory(locked);
  const std::string name = (locked / "model.3mf").string();
  test::WriteBytes(name, std::vector<unsigned char>(5000, 0xAA));
  test::HandOver(locked);
  test::HandOver(name);
  fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
  const Mesh mesh = Grid(30, 30);
  test::WithoutPrivileges([&] {
    ThreeMfOptions options;
    options.ChunkItems = 100;
    ThreeMfWriter out(name, {}, options);
    for (const Vec3& v : mesh.vertices) out.AddVertex(v);
    for (const auto& t : mesh.triangles) out.AddTriangle(t[0], t[1], t[2]);
    // The package waits whole in the spool: the old file is untouched until Finish.
    EXPECT_EQ(fs::file_size(name), 5000U);
    out.Finish();
  });
  ExpectMesh(CheckPackage(test::ReadPackage(name)), mesh);
  fs::permissions(locked, fs::perms::owner_all);
  EXPECT_EQ(FolderEntries(locked), std::vector<std::string>{"model.3mf"});
}

// ---------------------------------------------------------------------------------------
// The zip container on its own

// Bytes in memory, seekable or not.
class MemoryOutput : public PackageOutput {
 public:
  explicit MemoryOutput(bool seekable) : seekable_(seekable) {}
  void Write(const void* data, std::size_t size) override {
    const auto* p = static_cast<const unsigned char*>(data);
    bytes.insert(bytes.end(), p, p + size);
  }
  bool CanSeek() const override { return seekable_; }
  void WriteAt(std::uint64_t offset, const void* data, std::size_t size) override {
    ASSERT_TRUE(seekable_);
    ASSERT_LE(offset + size, bytes.size());
    std::memcpy(bytes.data() + offset, data, size);
  }
  std::vector<unsigned char> bytes;

 private:
  bool seekable_;
};

std::vector<unsigned char> RawDeflate(const std::string& text) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::vector<unsigned char> out(deflateBound(&z, text.size()));
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  z.avail_in = static_cast<uInt>(text.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

class ZipWriterCases : public ::testing::TestWithParam<std::tuple<bool, std::uint64_t>> {};

// Parameters: a seekable output, and where ZIP64 starts.
TEST_P(ZipWriterCases, StoredAndDeflatedPartsInAnyOrderReadBack) {
  const auto [seekable, zip64From] = GetParam();
  MemoryOutput out(seekable);
  const std::string text(5000, 'x');
  const std::string other = "<a>" + std::string(300, 'b') + "</a>";
  {
    ZipWriter zip(out, zip64From);
    zip.AddStored("first.txt", "hello");
    zip.BeginDeflated("dir/deflated.txt");
    const std::vector<unsigned char> data = RawDeflate(text);
    // In pieces, as a stream would come.
    zip.WriteDeflated(data.data(), data.size() / 2);
    zip.WriteDeflated(data.data() + data.size() / 2, data.size() - data.size() / 2);
    zip.EndDeflated(
        static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(text.data()), 5000)),
        text.size());
    zip.BeginDeflated("empty");
    const std::vector<unsigned char> nothing = RawDeflate("");
    zip.WriteDeflated(nothing.data(), nothing.size());
    zip.EndDeflated(0, 0);
    zip.AddStored("last.xml", other);
    zip.Finish();
    EXPECT_EQ(zip.Size(), out.bytes.size());
  }
  const Package archive = test::ReadPackage(out.bytes);
  ASSERT_EQ(archive.parts.size(), 4U);
  const std::string names[] = {"first.txt", "dir/deflated.txt", "empty", "last.xml"};
  const std::string contents[] = {"hello", text, "", other};
  for (std::size_t i = 0; i < 4; ++i) {
    const ZipPart& part = archive.parts[i];
    EXPECT_EQ(part.name, names[i]);
    EXPECT_EQ(part.content, contents[i]) << part.name;
    EXPECT_EQ(part.descriptor, !seekable && part.method == 8) << part.name;
    const bool sizes = part.size >= zip64From || part.compressed >= zip64From;
    EXPECT_EQ(part.centralZip64, sizes || part.offset >= zip64From) << part.name;
    EXPECT_EQ(part.localZip64, sizes || part.descriptor) << part.name;
  }
  EXPECT_EQ(archive.zip64End, zip64From < PlainZipLimit);
}

INSTANTIATE_TEST_SUITE_P(Outputs, ZipWriterCases,
                         ::testing::Combine(::testing::Bool(),
                                            ::testing::Values(PlainZipLimit, 0, 100, 1000)));

// ---------------------------------------------------------------------------------------
// The sink of a model run

using Face = std::array<Vec3, 3>;

std::tuple<std::uint32_t, std::uint32_t, std::uint32_t> Bits(const Vec3& v) {
  return {std::bit_cast<std::uint32_t>(v.x), std::bit_cast<std::uint32_t>(v.y),
          std::bit_cast<std::uint32_t>(v.z)};
}

// The package holds the faces: each with three distinct corners in order, corner for corner
// and bit for bit; those with a repeated corner left out; every corner of a face written once
// and nothing else.
// Returns the faces left out.
std::size_t ExpectFaces(const ModelPart& model, const std::vector<Face>& faces) {
  std::set<std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>> corners, vertices;
  for (const Face& f : faces) {
    if (Bits(f[0]) == Bits(f[1]) || Bits(f[1]) == Bits(f[2]) || Bits(f[2]) == Bits(f[0])) continue;
    for (const Vec3& v : f) corners.insert(Bits(v));
  }
  for (const Vec3& v : model.vertices) vertices.insert(Bits(v));
  EXPECT_EQ(vertices.size(), model.vertices.size()) << "a vertex written twice";
  EXPECT_TRUE(vertices == corners) << "vertices other than the faces' corners";
  std::size_t t = 0;
  for (std::size_t i = 0; i < faces.size(); ++i) {
    const Face& f = faces[i];
    if (Bits(f[0]) == Bits(f[1]) || Bits(f[1]) == Bits(f[2]) || Bits(f[2]) == Bits(f[0])) continue;
    if (t == model.triangles.size()) {
      ADD_FAILURE() << "face " << i << " missing";
      return 0;
    }
    for (std::size_t c = 0; c < 3; ++c) {
      EXPECT_EQ(Bits(model.vertices.at(model.triangles[t][c])), Bits(f[c])) << "face " << i;
    }
    ++t;
  }
  EXPECT_EQ(t, model.triangles.size());
  return faces.size() - t;
}

TEST(ThreeMfSink, ANameEndingIn3mfInAnyCaseIsAPackage) {
  for (const char* name : {"a.3mf", "/x/b.3MF", "c.3Mf", ".3mf"}) EXPECT_TRUE(IsThreeMfName(name));
  for (const char* name : {"a.stl", "a.3mf.stl", "3mf", "a_3mf", "/dev/stdout", "-", ""}) {
    EXPECT_FALSE(IsThreeMfName(name)) << name;
  }
  const TempDir dir;
  EXPECT_NE(dynamic_cast<ThreeMfSink*>(OpenModelFile(dir.Root() + "m.3Mf").get()), nullptr);
  EXPECT_EQ(dynamic_cast<ThreeMfSink*>(OpenModelFile(dir.Root() + "m.stl").get()), nullptr);
}

// Pieces cut into blocks of the lattice in the order an adaptive mesher hands them over (by
// west edge, then south to north), a neighbour piece that meets the first on its border with
// one step in it, and closing faces over both: found again by lattice point within a piece,
// by bytes across pieces and in the closure.
TEST(ThreeMfSink, WritesEachVertexOnceWhateverTheChunksAndPiecesShare) {
  const TempDir dir;
  std::vector<Face> faces;
  ThreeMfOptions options;
  options.ChunkItems = 16;
  ThreeMfSink sink(dir.Root() + "blocks.3mf", {}, options);
  MeshChunk chunk;
  struct Block {
    std::int32_t lon;
    std::uint32_t columns, rows;  // the piece's
    std::uint32_t q0, r0, q1, r1;
  };
  // Piece 0: 8 x 4 cells as one block 4 wide and 4 high, then blocks of 2 x 2 and a band; piece
  // 1 to its east in one block.
  const Block blocks[] = {{0, 8, 4, 0, 0, 4, 4},
                          {0, 8, 4, 4, 0, 6, 2},
                          {0, 8, 4, 4, 2, 6, 4},
                          {0, 8, 4, 6, 0, 8, 4},
                          {1, 3, 4, 0, 0, 3, 4}};
  const auto corner = [](const Block& b, std::uint32_t q, std::uint32_t r) {
    const int column = b.lon * 8 + static_cast<int>(q);
    // A step on the seam between the pieces at row edge 1; equal bytes elsewhere on it.
    Vec3 v = Corner(column, static_cast<int>(r));
    if (b.lon == 1 && q == 0 && r == 1) v.z += 0.5F;
    return v;
  };
  for (const Block& b : blocks) {
    chunk.Clear();
    chunk.PieceLon = b.lon;
    chunk.PieceColumns = b.columns;
    chunk.PieceRows = b.rows;
    const std::uint32_t width = b.q1 - b.q0 + 1;
    for (std::uint32_t r = b.r0; r <= b.r1; ++r) {
      for (std::uint32_t q = b.q0; q <= b.q1; ++q) {
        chunk.Vertices.push_back(corner(b, q, r));
        chunk.Lattice.push_back({q, r});
      }
    }
    for (std::uint32_t r = 0; r < b.r1 - b.r0; ++r) {
      for (std::uint32_t q = 0; q < b.q1 - b.q0; ++q) {
        const std::uint32_t sw = r * width + q, se = sw + 1, nw = sw + width, ne = nw + 1;
        for (const Triangle& t : {Triangle{sw, se, ne}, Triangle{sw, ne, nw}}) {
          chunk.Triangles.push_back(t);
          faces.push_back({chunk.Vertices[t.A], chunk.Vertices[t.B], chunk.Vertices[t.C]});
        }
      }
    }
    sink.Encode(chunk);
    sink.Write(chunk);
  }
  // Closing faces down from piece 0's south border, sharing their floor corners, and one
  // degenerate face.
  FaceBatch closure(sink);
  for (int q = 0; q < 8; ++q) {
    const Vec3 a = Corner(q, 0), b = Corner(q + 1, 0);
    const Vec3 fa{a.x, a.y, -1}, fb{b.x, b.y, -1};
    for (const Face& f : {Face{a, fa, fb}, Face{a, fb, b}}) {
      closure.Add(f[0], f[1], f[2]);
      faces.push_back(f);
    }
  }
  closure.Add(Corner(0, 0), Corner(0, 0), Corner(1, 0));
  faces.push_back({Corner(0, 0), Corner(0, 0), Corner(1, 0)});
  closure.Flush();
  sink.Finish();
  EXPECT_EQ(sink.LeftOut(), 1U);
  EXPECT_EQ(sink.Count() + 1, faces.size());
  // 9 x 5 + 4 x 5 - 4 (the seam's equal corners) + 8 (the floor's).
  EXPECT_EQ(sink.VertexCount(), 45U + 20U - 4U + 9U);
  EXPECT_EQ(ExpectFaces(CheckPackage(test::ReadPackage(dir.Root() + "blocks.3mf")), faces), 1U);
}

// Two bands of a piece with a hole, as the grid leaves one where a raster has no value: the
// corners over it (no height) and a vertex of a left-out face belong to no written face.
TEST(ThreeMfSink, WritesOnlyTheVerticesOfItsFaces) {
  const TempDir dir;
  const std::string name = dir.Root() + "hole.3mf";
  ThreeMfSink sink(name);
  std::vector<Face> faces;
  MeshChunk chunk;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (std::uint32_t band = 0; band < 2; ++band) {
    chunk.Clear();
    chunk.PieceColumns = 4;
    chunk.PieceRows = 3;
    for (std::uint32_t q = 2 * band; q <= 2 * band + 2; ++q) {
      for (std::uint32_t r = 0; r <= 3; ++r) {
        Vec3 v = Corner(static_cast<int>(q), static_cast<int>(r));
        if (q >= 2 && r >= 2) v.z = nan;
        chunk.Vertices.push_back(v);
        chunk.Lattice.push_back({q, r});
      }
    }
    for (std::uint32_t j = 0; j < 2; ++j) {
      for (std::uint32_t r = 0; r < 3; ++r) {
        const std::uint32_t sw = j * 4 + r, nw = sw + 1, se = sw + 4, ne = se + 1;
        if (std::isnan(chunk.Vertices[ne].z + chunk.Vertices[nw].z + chunk.Vertices[se].z))
          continue;
        for (const Triangle& t : {Triangle{nw, sw, ne}, Triangle{sw, se, ne}}) {
          chunk.Triangles.push_back(t);
          faces.push_back({chunk.Vertices[t.A], chunk.Vertices[t.B], chunk.Vertices[t.C]});
        }
      }
    }
    // A face of no area whose lone corner off the lattice no other face uses.
    chunk.Vertices.push_back(MakeVec(9, 9, 9));
    chunk.Lattice.push_back({});
    const auto lone = static_cast<std::uint32_t>(chunk.Vertices.size() - 1);
    chunk.Triangles.push_back({0, 0, lone});
    faces.push_back({chunk.Vertices[0], chunk.Vertices[0], chunk.Vertices[lone]});
    sink.Encode(chunk);
    sink.Write(chunk);
  }
  sink.Finish();
  EXPECT_EQ(ExpectFaces(CheckPackage(test::ReadPackage(name)), faces), 2U);
}

// Real tiles as a 3MF and as an STL from the same seed: the same triangles.
class ThreeMfModel : public test::ModelRunTest {
 protected:
  ThreeMfModel() {
    panel.Z1 = 0;
    panel.Z2 = 2000;
    panel.XExtent = 100;
    panel.ZExtent = 10;
    panel.ZBasePercent = 10;
  }
  // The model into name, meshed by threads threads.
  void Make(const std::string& name, unsigned threads) {
    panel.StlFileName = (root.Path() / name).string();
    options.Threads = threads;
    ASSERT_EQ(Run(), RunOutcome::Completed);
    const std::string saving = "now saving to " + panel.StlFileName + " ...";
    ASSERT_GE(host.lines.size(), 2U);
    EXPECT_EQ(host.lines.back(), "File has been saved");
    EXPECT_NE(host.lines[host.lines.size() - 2].find(saving), std::string::npos);
    logs.push_back(host.lines);
  }
  // Both files, and the package's triangles held to the STL's faces; the faces left out.
  std::size_t ExpectTheStlsTriangles() {
    Make("model.stl", 2);
    Make("model.3mf", 2);
    EXPECT_EQ(logs[0].size(), logs[1].size());
    std::vector<Face> faces;
    for (const test::StlFace& f : test::ReadStl(root.Path() / "model.stl").faces) {
      faces.push_back({f.a, f.b, f.c});
    }
    EXPECT_GT(faces.size(), 1000U);
    return ExpectFaces(CheckPackage(test::ReadPackage(root.Path() / "model.3mf")), faces);
  }

  std::vector<std::vector<std::string>> logs;
};

// Four tiles round one corner: an SRTM-1 tile, two SRTM-3 stand-ins whose edges don't match
// it and a missing one; walls, seam strips, a fill and the bottom meet the surface's borders.
TEST_F(ThreeMfModel, ASolidOfMixedTilesAndAMissingOne) {
  OROLITH_REQUIRE_SHARED_DATA("SRTM_1/S46W066.hgt");
  OROLITH_REQUIRE_SHARED_DATA("SRTM_3/N44W072.hgt");
  OROLITH_REQUIRE_SHARED_DATA("SRTM_3/N57E011.hgt");
  root.SharedTile("SRTM_1/S46W066.hgt", "SRTM_1/S46W066.hgt");
  root.SharedTile("SRTM_3/N57E011.hgt", "SRTM_3/S46W065.hgt");
  root.SharedTile("SRTM_3/N44W072.hgt", "SRTM_3/S45W066.hgt");
  Region(-66.0F, -64.7F, -45.6F, -44.0F);
  panel.XYPixelSize = 2000;
  panel.Solid = true;
  EXPECT_EQ(ExpectTheStlsTriangles(), 0U);
  // The package does not depend on the meshing threads.
  const std::vector<unsigned char> two = test::ReadBytes(root.Path() / "model.3mf");
  Make("model.3mf", 1);
  EXPECT_TRUE(test::ReadBytes(root.Path() / "model.3mf") == two);
}

// A whole-degree bound brings in a tile column of no width: its faces with repeated corners
// are left out of the package.
TEST_F(ThreeMfModel, ASurfaceWithCellsOfNoWidth) {
  OROLITH_REQUIRE_SHARED_DATA("SRTM_3/N50E008.hgt");
  root.SharedTile("SRTM_3/N50E008.hgt", "SRTM_3/N50E008.hgt");
  Region(8.6F, 9.0F, 50.1F, 50.3F);
  panel.XYPixelSize = 1000;
  panel.MissedDataZero = true;
  EXPECT_GT(ExpectTheStlsTriangles(), 0U);
}

}  // namespace
}  // namespace orolith
