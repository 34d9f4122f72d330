#pragma once

#include "base/OperationHost.h"
#include "frontpanel/PrintExtras.h"
#include "tiles/DemRaster.h"
#include "tiles/TileRange.h"
#include "tiles/TileSource.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orolith {

// Limits, step, format and start value of one numeric front-panel field. MinValue equal to
// MaxValue means no limits.
struct FieldLimits {
  float MinValue;
  float MaxValue;
  float Increment;
  const char* FormatStr;
  float Initial;
};

namespace fields {
inline constexpr FieldLimits Longitude{-180.0F, 180.0F, 1.0F, "%.6f", 0.0F};
inline constexpr FieldLimits Latitude{-90.0F, 90.0F, 1.0F, "%.6f", 0.0F};
inline constexpr FieldLimits ElevationLow{0.0F, 10000.0F, 1.0F, "%.0f", 0.0F};
inline constexpr FieldLimits ElevationHigh{0.0F, 10000.0F, 1.0F, "%.0f", 1000.0F};
inline constexpr FieldLimits XExtent{1.0F, 10000.0F, 1.0F, "%.3f", 5.0F};
inline constexpr FieldLimits ZExtent{0.01F, 1000.0F, 1.0F, "%.3f", 1.0F};
inline constexpr FieldLimits ZBase{0.0F, 100.0F, 1.0F, "%.1f", 0.0F};
inline constexpr FieldLimits XYPixelSize{15.0F, 100000.0F, 1.0F, "%.0f", 100.0F};
// The same with the user's raster, whose own spacing (DemPixelFloor) may be finer than 15 m.
inline constexpr FieldLimits DemPixelSize{1.0F, 100000.0F, 1.0F, "%.0f", 100.0F};
// The closed solid's floor thickness, percent of the Z extent.
inline constexpr FieldLimits Floor{1.0F, 100.0F, 1.0F, "%.1f", 5.0F};
// The adaptive surface's largest height error in metres; 0 keeps the regular grid.
inline constexpr FieldLimits MaxError{0.0F, 1000.0F, 1.0F, "%.2f", 0.0F};
// A map scale 1:N that sets the X extent in millimetres; 0, the start, leaves the X extent field.
inline constexpr FieldLimits Scale{0.0F, 100000000.0F, 1000.0F, "%.0f", 0.0F};
// How many times steeper than at the model's scale the heights stand; 0 leaves the Z extent.
inline constexpr FieldLimits Exaggeration{0.0F, 100.0F, 0.5F, "%.2f", 0.0F};
// The printer's layer height in millimetres, which sets the max. error when it is automatic.
inline constexpr FieldLimits LayerHeight{0.01F, 10.0F, 0.05F, "%.2f", 0.2F};
// What a print is made with unless given: its longer side and its Z extent in millimetres, and a
// pedestal that keeps the lowest ground a few layers above the floor.
inline constexpr float PrintSide = 150.0F;
inline constexpr float PrintZExtent = 20.0F;
inline constexpr float PrintZBase = 10.0F;
// The sea or reservoir level in metres, and how far the water lies below it in millimetres.
inline constexpr FieldLimits WaterLevel{-500.0F, 10000.0F, 1.0F, "%.1f", 0.0F};
inline constexpr FieldLimits WaterDrop{0.0F, 100.0F, 0.1F, "%.2f", 0.0F};
}  // namespace fields

// The smallest max. error an adaptive surface is made with: the field's step, the least its
// text and the log can show, and well above what a model's single-precision heights resolve.
// A smaller one above 0 is raised to it.
inline constexpr float SmallestMaxError = 0.01F;

// The field's clamp: v unchanged when the field has no limits.
float ClampToRange(float v, const FieldLimits& limits) noexcept;
// The number a field's text stands for, rounded to single precision (beyond its range, the
// nearest finite single), before any limit; nothing when the text is not a number.
std::optional<float> ParseFieldNumber(std::string_view text, char decimalSeparator);
// What a field holding text reads as: the number rounded to single precision, MinValue when
// the text is not a number, then clamped.
float ReadFieldValue(std::string_view text, const FieldLimits& limits, char decimalSeparator);
// The text a field shows for value: FormatStr applied to the clamped value.
std::string FormatFieldValue(float value, const FieldLimits& limits, char decimalSeparator);

// Every front-panel value as its field reads it (the spin edits' Value, unrounded).
struct FrontPanelValues {
  float Long1 = fields::Longitude.Initial;
  float Long2 = fields::Longitude.Initial;
  float Lat1 = fields::Latitude.Initial;
  float Lat2 = fields::Latitude.Initial;
  float Z1 = fields::ElevationLow.Initial;
  float Z2 = fields::ElevationHigh.Initial;
  float XExtent = fields::XExtent.Initial;
  float ZExtent = fields::ZExtent.Initial;
  float ZBasePercent = fields::ZBase.Initial;
  float XYPixelSize = fields::XYPixelSize.Initial;
  std::string StlFileName = "NewFile.stl";
  bool BlockSrtm1 = false;
  bool BlockSrtm3 = false;
  bool BlockSrtm30 = false;
  bool BlockCop30 = false;
  bool MissedDataZero = false;
  bool Solid = false;
  float FloorPercent = fields::Floor.Initial;
  float MaxError = fields::MaxError.Initial;
  // The user's own raster; empty: the tile folders.
  std::string DemFile;
  // Each off by default, leaving the fields above as they are: the X extent from a map scale
  // 1:Scale, the Z extent from the heights at that scale times Exaggeration, the elevation
  // band from the region's own heights, the max. error from half a layer height.
  float Scale = fields::Scale.Initial;
  float Exaggeration = fields::Exaggeration.Initial;
  bool ElevationAuto = false;
  bool MaxErrorAuto = false;
  float LayerHeight = fields::LayerHeight.Initial;
  PrintExtras Extras;
};

// What the print preset (--print, the window's "Print" button) leaves as it was given.
struct PrintGiven {
  bool XExtent = false;  // an X extent or a scale
  bool ZExtent = false;  // a Z extent or an exaggeration
  bool Base = false;
  bool Band = false;
  bool MaxError = false;
};

// Whether the model is set up in millimetres for a printer: a scale, an exaggeration, the band
// found or the error from the layer height. The size reports then say the model's millimetres.
bool PrintSetup(const FrontPanelValues& panel) noexcept;

// What a model run and the other operations read: the front panel's values as they were read,
// and the region, band and resolution they stand for.
struct ModelSettings : FrontPanelValues {
  // Each pair ordered; a region or band that is too narrow widened.
  long double LonMin = 0;
  long double LonMax = 0;
  long double LatMin = 0;
  long double LatMax = 0;
  long double ZMin = 0;
  long double ZMax = 0;
  std::int32_t XYResolution = 0;  // the pixel field's IntValue

  TileBlocks Blocks() const noexcept { return {BlockSrtm1, BlockSrtm3, BlockSrtm30, BlockCop30}; }
};

// The smallest cell a model of raster takes, in whole metres: its pixel spacing (the coarser
// of the two), and never more than the tiles' smallest, 15 m.
int DemPixelFloor(const DemDescription& raster) noexcept;

// Makes the region the smallest box of longitude and latitude that holds the panel's raster
// (DemFile), as the map's "Use the raster's extent" does. Throws FileError as DemRaster does,
// and when no point of the raster's edge transforms.
void UseRasterExtent(FrontPanelValues& panel);

// The panel's values with the region and band they stand for.
ModelSettings ReadModelSettings(const FrontPanelValues& panel);

// Appends the twelve lines of the configuration summary, and one more each for a closed solid,
// an adaptive surface, water, blocked Copernicus tiles, the user's raster, a scale, an
// exaggeration, the band found in the region and the max. error from the layer height.
void LogConfigurationSummary(const ModelSettings& settings, OperationHost& host);

// The whole-degree tiles the region touches.
TileRange RegionTiles(const ModelSettings& settings) noexcept;

// Where the data root in use came from.
enum class RootOrigin { ExecutionDirectory, CommandLine, Chooser, SavedSettings };

// The four lines that name the data root, where it came from, and its tile folders.
std::vector<std::string> DataRootLines(const DataFolders& folders, RootOrigin origin);

// The log's lines after start-up.
std::vector<std::string> StartupLines(const DataFolders& folders, RootOrigin origin);

}  // namespace orolith
