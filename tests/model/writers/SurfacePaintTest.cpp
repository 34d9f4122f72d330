// Faces painted by the height of their centroid, and the paint as a package carries it.

#include "model/mesh/SurfacePaint.h"
#include "model/writers/ThreeMf.h"
#include "support/TempFiles.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace orolith {
namespace {

// The model part as python's zipfile reads it, apart from the program's own reader.
std::string ModelXml(const std::string& package) {
  const std::string command =
      "python3 -c \"import sys, zipfile; sys.stdout.write(zipfile.ZipFile("
      "sys.argv[1]).read('3D/3dmodel.model').decode())\" '" +
      package + "'";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return {};
  std::string xml;
  char buffer[65536];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) xml.append(buffer, n);
  return ::pclose(pipe) == 0 ? xml : std::string();
}

// Bands begin at z 2 and 5, water lies at z 1: colours 1, 2, 3 for the bands, 4 for water.
TEST(SurfacePaint, ColoursAFaceWholeByItsCentroidAndWaterByItsPlane) {
  const struct {
    float a, b, c;
    std::uint32_t colour;
  } cases[] = {
      {1, 1, 1, 4},        // on the water plane
      {1, 1, 1.5F, 1},     // a shore face, below the first bound
      {1.5F, 2, 2.5F, 2},  // centroid exactly on a bound: the band above
      {1, 1, 6.5F, 2},     // corners in three bands, centroid 2.83
      {4, 5, 7, 3},        // 5.33
      {0, 0, 0, 1},        // below the water plane (a drop lowers the plane, not the land)
  };
  const SurfacePaint paint({5, 2}, 1.0F);
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.a << " " << c.b << " " << c.c);
    EXPECT_EQ(paint.Of(MakeVec(0, 0, c.a), MakeVec(1, 0, c.b), MakeVec(0, 1, c.c)), c.colour);
  }
  EXPECT_EQ(paint.Colours().size(), 4U);
}

// Each paint 1 .. 7 is the colour group's entry paint - 1 and extruder paint in both slicers'
// codes; an unpainted face carries none, and the indices are the ones added.
TEST(SurfacePaint, PackageCarriesColourGroupAndBothPaintingCodes) {
  const test::TempDir dir;
  const std::string name = (dir.Path() / "paint.3mf").string();
  ThreeMfOptions options;
  options.Threads = 1;
  options.Colours = {0x112233, 0x445566, 0x778899, 0xAABBCC, 0xDDEEFF, 0x000001, 0xFFFFFF};
  ThreeMfWriter writer(name, {}, options);
  for (int i = 0; i < 3; ++i) writer.AddVertex(MakeVec(static_cast<float>(i), 0, 0));
  for (std::uint32_t paint = 0; paint <= 7; ++paint) writer.AddTriangle(0, 1, 2, paint);
  writer.Finish();
  const std::string xml = ModelXml(name);
  ASSERT_FALSE(xml.empty());
  EXPECT_NE(xml.find("<m:color color=\"#AABBCC\"/>"), std::string::npos);
  EXPECT_NE(xml.find("<object id=\"1\" type=\"model\" pid=\"2\" pindex=\"0\">"), std::string::npos);
  const char* const codes[] = {"4", "8", "0C", "1C", "2C", "3C", "4C"};
  std::string expected = "<triangles>\n<triangle v1=\"0\" v2=\"1\" v3=\"2\"/>\n";
  for (int k = 0; k < 7; ++k) {
    expected += "<triangle v1=\"0\" v2=\"1\" v3=\"2\" pid=\"2\" p1=\"" + std::to_string(k) +
                "\" slic3rpe:mmu_segmentation=\"" + codes[k] + "\" paint_color=\"" + codes[k] +
                "\"/>\n";
  }
  EXPECT_NE(xml.find(expected + "</triangles>"), std::string::npos);
}

}  // namespace
}  // namespace orolith
