#include "support/Tiles.h"

namespace orolith::test {

std::vector<std::int16_t> TileGrid(int side,
                                   const std::function<int(int row, int column)>& sample) {
  std::vector<std::int16_t> grid;
  grid.reserve(static_cast<std::size_t>(side) * static_cast<std::size_t>(side));
  for (int row = 0; row < side; ++row) {
    for (int column = 0; column < side; ++column) {
      grid.push_back(static_cast<std::int16_t>(sample(row, column)));
    }
  }
  return grid;
}

void WriteTile(const std::filesystem::path& file, int side,
               const std::function<int(int row, int column)>& sample) {
  WriteTileFile(file.string(), side, TileGrid(side, sample));
}

}  // namespace orolith::test
