#pragma once

#include "tiles/SRTM.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <vector>

namespace orolith::test {

// The side × side samples sample(row, column) gives, row 0 south, as a tile's grid.
std::vector<std::int16_t> TileGrid(int side, const std::function<int(int row, int column)>& sample);

// A tile file through the program's own encoder.
void WriteTile(const std::filesystem::path& file, int side,
               const std::function<int(int row, int column)>& sample);

}  // namespace orolith::test
