#pragma once

#include <optional>
#include <string_view>
#include <vector>

namespace orolith {

// What a print adds to the bare terrain: water laid flat, colours.
struct PrintExtras {
  // Sea or reservoir level in metres: the terrain at or below it lies flat at it. None: off.
  std::optional<float> WaterLevel;
  // How far the water lies below its level, in model units (millimetres).
  float WaterDrop = 0;
  // A 3MF's faces painted by elevation band, water apart (SurfacePaint).
  bool Colours = false;
  // The bands: this many of equal height over the elevation band, or, when BandHeights holds
  // any, the heights in metres where the bands above the first begin.
  int ColourBands = 3;
  std::vector<float> BandHeights;
};

// The most elevation bands a model is painted with.
inline constexpr int MaxColourBands = 5;

// Reads the bands as --colour-bands gives them: a whole number 1 .. MaxColourBands is a count of
// equal bands, anything else one or more heights in metres separated by commas (as 500,1500),
// each at most 10000 m. False, extras unchanged, for text that is neither.
bool ReadColourBands(std::string_view text, PrintExtras& extras);

}  // namespace orolith
