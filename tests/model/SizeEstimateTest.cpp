// The size estimate shown by the coverage check and asked about before a large model.

#include "model/SizeEstimate.h"
#include "support/DataRoot.h"

#include <gtest/gtest.h>

#include <string>

namespace orolith {
namespace {

TEST(EstimateSize, CountsFacesFromTheUnroundedPixelSize) {
  FrontPanelValues panel = test::RegionPanel(0, 0.5F, 0, 2, 50);
  SizeEstimate e = EstimateSize(ReadModelSettings(panel));
  EXPECT_NEAR(static_cast<double>(e.Faces), 2000.0 * 2000.0 * 0.5 * 4 * 2, 1e-6);
  EXPECT_NEAR(static_cast<double>(e.MegaBytes), 800, 1e-9);
  panel.XYPixelSize = 62.5F;  // IntValue 62 would give a larger estimate
  e = EstimateSize(ReadModelSettings(panel));
  EXPECT_NEAR(static_cast<double>(e.Faces), 1600.0 * 1600.0 * 4, 1e-6);

  // A solid adds two wall faces and one bottom face for each of the 1600 x (0.5 + 2) x 2
  // cells along the region's sides.
  panel.Solid = true;
  e = EstimateSize(ReadModelSettings(panel));
  EXPECT_NEAR(static_cast<double>(e.Faces), 1600.0 * 1600.0 * 4 + 3 * 1600.0 * 2.5 * 2, 1e-6);
  EXPECT_NEAR(static_cast<double>(e.MegaBytes), static_cast<double>(e.Faces) * 0.00005, 1e-9);
}

// The adaptive surface's estimate: below the lattice's two faces a cell, near them when the
// error is tiny, far below at a coarse error; in proportion to the area, and larger for a
// finer error. (How fair it is on real ground the model tests measure.)
TEST(EstimateSize, AdaptiveSurfaceIsBoundByTheLattice) {
  struct Row {
    float lonSpan, latSpan, pixel, maxError;
    double atLeast, atMost;  // of the lattice's two faces a cell
  };
  const Row rows[] = {
      {0.1F, 0.1F, 15, 0.01F, 0.8, 1}, {1, 1, 1000, 0.1F, 0.95, 1}, {1, 1, 90, 1, 0.3, 0.7},
      {1, 1, 30, 2, 0.02, 0.1},        {2, 2, 30, 2, 0.02, 0.1},    {1, 1, 90, 1000, 0, 0.001},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.pixel) + " m, " + std::to_string(row.maxError) + " m");
    FrontPanelValues panel = test::RegionPanel(0, row.lonSpan, 0, row.latSpan, row.pixel);
    const double lattice = static_cast<double>(EstimateSize(ReadModelSettings(panel)).Faces) / 2;
    panel.MaxError = row.maxError;
    const SizeEstimate e = EstimateSize(ReadModelSettings(panel));
    const double faces = static_cast<double>(e.Faces);
    EXPECT_GT(faces, 0);
    EXPECT_GE(faces, row.atLeast * lattice);
    EXPECT_LT(faces, row.atMost * lattice);
    EXPECT_NEAR(static_cast<double>(e.MegaBytes), faces * 0.00005, 1e-9);
    panel.Long2 = 2 * row.lonSpan;
    EXPECT_NEAR(static_cast<double>(EstimateSize(ReadModelSettings(panel)).Faces), 2 * faces,
                faces * 1e-6);
    panel.Long2 = row.lonSpan;
    // Below the smallest error the surface is made at it.
    panel.MaxError = row.maxError / 2;
    const double finer = static_cast<double>(EstimateSize(ReadModelSettings(panel)).Faces);
    if (panel.MaxError < SmallestMaxError) {
      EXPECT_EQ(finer, faces);
    } else {
      EXPECT_GT(finer, faces);
    }
  }
}

}  // namespace
}  // namespace orolith
