// The view's reading of 3MF packages, held to what it promises for binary STL: the package of
// the same faces gives the same view, in the same bounded memory.

#include "base/Errors.h"
#include "model/writers/ZipPackage.h"
#include "preview/ViewMesh.h"
#include "support/GridSurface.h"
#include "support/Packages.h"
#include "support/TempFiles.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

namespace orolith {
namespace {

using test::TempDir;

TSTL HillSurface(int columns, int rows, bool solid) {
  const auto height = [](int i, int j) { return 10 + 5 * std::sin(i / 20.0) * std::cos(j / 15.0); };
  return test::GridSurface(columns, rows, height, solid, -2);
}

TEST(ThreeMfView, APackageIsShownAsItsStlIs) {
  const struct {
    int columns, rows;
    bool solid;
    std::uint64_t budget;
    bool shared;  // each corner once: the vertices kept while few enough
  } cases[] = {
      {10, 8, false, ViewTriangleBudget, true},
      {10, 8, true, ViewTriangleBudget, false},
      {100, 60, true, 8000, true},
      {100, 60, true, 2000, false},
      {200, 150, false, 20000, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.columns << " x " << c.rows << " budget " << c.budget
                                    << (c.shared ? " shared" : ""));
    TempDir dir;
    const TSTL stl = HillSurface(c.columns, c.rows, c.solid);
    const std::string stlFile = (dir.Path() / "model.stl").string();
    const std::string package = (dir.Path() / "model.3mf").string();
    stl.SaveBinary(stlFile);
    test::SaveThreeMf(stl, package, c.shared);
    const ViewMesh expected = ReadViewMesh(stlFile, c.budget);
    const ViewMesh mesh = ReadViewMesh(package, c.budget);
    EXPECT_EQ(mesh.FileFaces, expected.FileFaces);
    EXPECT_EQ(mesh.Decimated, expected.Decimated);
    EXPECT_EQ(mesh.Solid, c.solid);
    EXPECT_EQ(mesh.Min, expected.Min);
    EXPECT_EQ(mesh.Max, expected.Max);
    if (!mesh.Decimated) {
      EXPECT_EQ(mesh.Corners, expected.Corners) << "face for face";
      continue;
    }
    // From the surface's vertices: its heights, within the budget, walls and floor for a solid.
    EXPECT_LE(mesh.Triangles(), c.budget);
    EXPECT_GE(mesh.Triangles(), c.budget / 3);
    std::size_t floor = 0;
    for (std::size_t i = 0; i < mesh.Corners.size(); i += 3) {
      const float x = mesh.Corners[i], y = mesh.Corners[i + 1], z = mesh.Corners[i + 2];
      if (z == -2.0F) {
        ++floor;
      } else {
        ASSERT_NEAR(z, 10 + 5 * std::sin(x / 20) * std::cos(y / 15), 1.0) << x << "," << y;
      }
    }
    EXPECT_EQ(floor > 0, c.solid);
  }
}

// A package of the parts given, stored, through the program's own zip writer.
std::string Package(const TempDir& dir,
                    const std::vector<std::pair<std::string, std::string>>& parts) {
  struct Bytes final : PackageOutput {
    std::string data;
    void Write(const void* from, std::size_t size) override {
      data.append(static_cast<const char*>(from), size);
    }
    bool CanSeek() const override { return true; }
    void WriteAt(std::uint64_t offset, const void* from, std::size_t size) override {
      data.replace(offset, size, static_cast<const char*>(from), size);
    }
  } out;
  ZipWriter zip(out);
  for (const auto& [name, content] : parts) zip.AddStored(name, content);
  zip.Finish();
  const std::string file = (dir.Path() / "made.3mf").string();
  test::WriteText(file, out.data);
  return file;
}

std::string Model(const std::string& meshes) {
  return "<?xml version=\"1.0\"?>\n<model unit=\"millimeter\"><resources>" + meshes +
         "</resources></model>";
}

TEST(ThreeMfView, EachMeshCountsItsOwnVerticesAndWhatIsWrongIsSaid) {
  TempDir dir;
  // Two objects, the second's triangle over its own vertices; a prefix and a comment with a
  // '>' in it do not disturb the reading.
  const std::string two = Model(
      "<object id=\"1\"><mesh><vertices><vertex x=\"0\" y=\"0\" z=\"0\"/><vertex x=\"1\" y=\"0\" "
      "z=\"0\"/><vertex x=\"0\" y=\"1\" z=\"0\"/></vertices><triangles><triangle v1=\"0\" "
      "v2=\"1\" v3=\"2\"/></triangles></mesh></object><!-- a > b --><object id=\"2\"><m:mesh>"
      "<m:vertices><m:vertex x='5' y='5' z='+2'/><m:vertex x=\"6\" y=\"5\" z=\"2\"/>"
      "<m:vertex x=\"5\" y=\"6\" z=\"2.5e0\"/></m:vertices><m:triangles><m:triangle v1=\"2\" "
      "v2=\"0\" v3=\"1\"/></m:triangles></m:mesh></object>");
  const ViewMesh mesh = ReadViewMesh(Package(dir, {{"3D/3dmodel.model", two}}));
  EXPECT_EQ(mesh.Corners, (std::vector<float>{0, 0, 0, 1, 0, 0, 0, 1, 0,  //
                                              5, 6, 2.5F, 5, 5, 2, 6, 5, 2}));

  const std::string vertex = "<vertex x=\"0\" y=\"0\" z=\"0\"/>";
  const struct {
    std::vector<std::pair<std::string, std::string>> parts;
    const char* reason;
  } cases[] = {
      {{{"3D/other.model", two}}, "The file is not a 3MF package: it has no 3D/3dmodel.model"},
      {{{"3D/3dmodel.model", Model("<mesh>" + vertex + "<triangle v1=\"0\" v2=\"0\" v3=\"1\"/>")}},
       "a triangle refers to vertex 1, which its mesh does not have"},
      {{{"3D/3dmodel.model", Model("<mesh><vertex x=\"0\" y=\"nan\" z=\"0\"/>")}},
       "a vertex coordinate 'nan' is not a finite number"},
      {{{"3D/3dmodel.model", Model("<mesh><vertex x=\"0\" y=\"0\"/>")}},
       "a vertex lacks a coordinate"},
      {{{"3D/3dmodel.model", "<model><mesh><vertex x=\"0\""}}, "the text ends inside an element"},
  };
  for (const auto& c : cases) {
    try {
      ReadViewMesh(Package(dir, c.parts));
      ADD_FAILURE() << "read: " << c.reason;
    } catch (const FileError& error) {
      EXPECT_NE(std::string(error.what()).find(c.reason), std::string::npos) << error.what();
    }
  }
  // A package cut short has lost its directory.
  const std::string whole = (dir.Path() / "whole.3mf").string();
  test::SaveThreeMf(HillSurface(20, 20, false), whole);
  std::filesystem::resize_file(whole, std::filesystem::file_size(whole) / 2);
  EXPECT_THROW(ReadViewMesh(whole), FileError);
}

TEST(ThreeMfView, ALargePackageIsReadAsZip64AndAStopEndsTheReadingWithNothing) {
  TempDir dir;
  const std::string file = (dir.Path() / "large.3mf").string();
  {
    // Every size and offset in the ZIP64 records.
    ThreeMfOptions zip64;
    zip64.Zip64From = 0;
    ThreeMfWriter writer(file, {}, zip64);
    for (int i = 0; i < 3; ++i) writer.AddVertex({static_cast<float>(i), i == 2 ? 1.0F : 0, 0});
    writer.AddTriangle(0, 1, 2);
    writer.Finish();
  }
  EXPECT_EQ(ReadViewMesh(file).Triangles(), 1U);
  const std::atomic<bool> stop{true};
  const ViewMesh stopped = ReadViewMesh(file, ViewTriangleBudget, &stop);
  EXPECT_EQ(stopped.Triangles(), 0U);
  EXPECT_EQ(stopped.FileFaces, 0U);
}

}  // namespace
}  // namespace orolith
