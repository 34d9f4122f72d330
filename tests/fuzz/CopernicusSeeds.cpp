// Writes the Copernicus fuzz target's seeds into the folder given: the bucket's small tile at
// 86 N, and copies of it with one field of the file rewritten as an attacker would.

#include "support/PatchedTiles.h"
#include "support/Rasters.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
    return 2;
  }
  const std::filesystem::path folder = argv[1];
  std::filesystem::create_directories(folder);
  // Sea level throughout: the blocks deflate to a few hundred bytes.
  const std::string tile = orolith::test::WriteCopernicusTile(
      folder.string() + "/", 7, 86, [](double, double) { return 0.0; }, "COG");
  std::ifstream in(tile, std::ios::binary);
  const std::vector<unsigned char> valid{std::istreambuf_iterator<char>(in), {}};
  std::filesystem::rename(tile, folder / "valid.tif");
  int n = 0;
  for (const orolith::test::TilePatch& patch : orolith::test::TilePatches()) {
    std::vector<unsigned char> bytes = valid;
    orolith::test::PatchTiffTag(bytes, patch.tag, patch.value);
    std::ofstream(folder / ("patched-" + std::to_string(++n) + ".tif"), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }
  return 0;
}
