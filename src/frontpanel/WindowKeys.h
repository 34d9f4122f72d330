#pragma once

#include "frontpanel/DownloadSettings.h"
#include "frontpanel/ModelSettings.h"
#include "tiles/TileSource.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orolith {

// What the window's command-line keys set. Each key (DataRoot=, ArchiveHost=, TileSource=,
// TileUrl=, Proxy=, RemoveArchives=, Floor=, Seed=, MaxError=, WaterLevel=, Dem=, OnlineMap=,
// Remember=, Scale=, Exaggeration=, ElevationAuto=, LayerHeight=) is matched anywhere in an
// argument, in any letter case; the first argument that holds it wins, and an empty value counts
// as absent.
struct WindowKeys {
  // Under the DataRoot= value, else under the current directory.
  DataFolders Folders;
  bool DataRootFromCommandLine = false;
  ArchiveSource Source;
  // TileSource= or ArchiveHost= named a source that can be used.
  bool TileSourceGiven = false;
  // The closed solid's floor, read as its field would read it.
  float FloorPercent = fields::Floor.Initial;
  bool FloorGiven = false;
  // Fixes the centre fractions of every model run (ReadSeed); none: each run draws afresh.
  std::optional<std::uint64_t> Seed;
  // The adaptive surface's error in metres, read as its field would read it; MaxError=auto
  // ticks the box that takes it from the layer height.
  float MaxError = fields::MaxError.Initial;
  bool MaxErrorGiven = false;
  bool MaxErrorAuto = false;
  // The map scale 1:Scale, the exaggeration and the layer height, each above 0 as given;
  // ElevationAuto=1 ticks the box that finds the band in the region.
  float Scale = fields::Scale.Initial;
  float Exaggeration = fields::Exaggeration.Initial;
  float LayerHeight = fields::LayerHeight.Initial;
  bool ScaleGiven = false;
  bool ExaggerationGiven = false;
  bool LayerHeightGiven = false;
  bool ElevationAuto = false;
  // The sea or reservoir level in metres laid flat by every model run; none: no water.
  std::optional<float> WaterLevel;
  // What the "DEM file" field starts with.
  std::string DemFile;
  // OnlineMap=1: the map shows OpenStreetMap's tiles from the start.
  bool OnlineMap = false;
  // Remember=: whether the window keeps its fields between runs; none: as it was last left.
  std::optional<bool> Remember;
  // One line for each value that can't be read, saying what is used instead; the window logs
  // it and shows it in an error box.
  std::vector<std::string> Problems;
};

// The seed of the centre fractions as Seed= and the command line's --seed give it: a whole
// number from 0 to 18446744073709551615 in decimal digits alone; none for any other text.
std::optional<std::uint64_t> ReadSeed(std::string_view text);

// arguments: the command line, program name first.
WindowKeys ReadWindowKeys(std::span<const char* const> arguments, char decimalSeparator);

}  // namespace orolith
