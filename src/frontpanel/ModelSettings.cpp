#include "frontpanel/ModelSettings.h"

#include "base/Errors.h"
#include "base/NumberText.h"
#include "frontpanel/TSystem.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace orolith {

float ClampToRange(float v, const FieldLimits& limits) noexcept {
  if (limits.MaxValue == limits.MinValue) return v;
  if (v < limits.MinValue) return limits.MinValue;
  if (v > limits.MaxValue) return limits.MaxValue;
  return v;
}

std::optional<float> ParseFieldNumber(std::string_view text, char decimalSeparator) {
  const std::optional<long double> number = ParseNumber(text, decimalSeparator);
  if (!number) return std::nullopt;
  // Beyond single precision the nearest finite single stands in, so reading never fails.
  constexpr long double largest = std::numeric_limits<float>::max();
  return static_cast<float>(std::clamp(*number, -largest, largest));
}

float ReadFieldValue(std::string_view text, const FieldLimits& limits, char decimalSeparator) {
  return ClampToRange(ParseFieldNumber(text, decimalSeparator).value_or(limits.MinValue), limits);
}

std::string FormatFieldValue(float value, const FieldLimits& limits, char decimalSeparator) {
  return FormatText(decimalSeparator, limits.FormatStr, {ClampToRange(value, limits)});
}

int DemPixelFloor(const DemDescription& raster) noexcept {
  const auto tiles = static_cast<int>(fields::XYPixelSize.MinValue);
  const double spacing = std::max(raster.SpacingX, raster.SpacingY);
  // A spacing that is a whole number of metres but for rounding keeps that number.
  if (!(spacing > 0) || spacing > tiles) return tiles;
  return std::max(1, static_cast<int>(std::ceil(spacing - 1e-6)));
}

void UseRasterExtent(FrontPanelValues& panel) {
  const std::optional<DemExtent> extent = DemRaster(panel.DemFile).Extent();
  if (!extent) throw CannotReadFile(panel.DemFile, "No point of the raster's edge transforms");
  const auto field = [](double degrees, const FieldLimits& limits) {
    return ClampToRange(static_cast<float>(degrees), limits);
  };
  panel.Long1 = field(extent->West, fields::Longitude);
  panel.Long2 = field(extent->East, fields::Longitude);
  panel.Lat1 = field(extent->South, fields::Latitude);
  panel.Lat2 = field(extent->North, fields::Latitude);
}

bool PrintSetup(const FrontPanelValues& panel) noexcept {
  return panel.Scale > 0 || panel.Exaggeration > 0 || panel.ElevationAuto || panel.MaxErrorAuto;
}

ModelSettings ReadModelSettings(const FrontPanelValues& panel) {
  ModelSettings s;
  static_cast<FrontPanelValues&>(s) = panel;
  const auto order = [](float first, float second, long double& min, long double& max) {
    min = first < second ? first : second;
    max = first > second ? first : second;
  };
  order(panel.Long1, panel.Long2, s.LonMin, s.LonMax);
  order(panel.Lat1, panel.Lat2, s.LatMin, s.LatMax);
  order(panel.Z1, panel.Z2, s.ZMin, s.ZMax);
  if (s.LonMax - s.LonMin < 0.000001L) s.LonMax = s.LonMin + 0.001L;
  if (s.LatMax - s.LatMin < 0.000001L) s.LatMax = s.LatMin + 0.001L;
  if (s.ZMax - s.ZMin < 1) s.ZMax = s.ZMin + 1;
  s.XYResolution = RoundHalfEven(panel.XYPixelSize);
  if (s.MaxError > 0 && s.MaxError < SmallestMaxError) s.MaxError = SmallestMaxError;
  return s;
}

namespace {

// The lines of the options that set the model up in millimetres, each only when it is on.
void LogPrintSetup(const ModelSettings& s, char sep, OperationHost& host) {
  if (s.Scale > 0) {
    host.AppendLine(FormatText(
        sep, "   Scale 1:%.0f, the extents in mm from the ground width at the centre latitude",
        {s.Scale}));
  }
  if (s.Exaggeration > 0) {
    host.AppendLine(FormatText(sep, "   Heights %.2f times the model's scale", {s.Exaggeration}));
  }
  if (s.ElevationAuto)
    host.AppendLine("   Elevation limits are the region's own lowest and highest");
  if (s.MaxErrorAuto) {
    host.AppendLine(
        FormatText(sep, "   Max. error half a layer height of %.2f mm", {s.LayerHeight}));
  }
}

}  // namespace

void LogConfigurationSummary(const ModelSettings& s, OperationHost& host) {
  const char sep = host.DecimalSeparator();
  AppendBanner(host, "  Configuration Summary ", 25);
  host.AppendLine("Front Panel Controls " + CurrentTimeString() + " " + CurrentDateString());
  host.AppendLine(
      FormatText(sep, "   Longitude Limits : %.6f   to   %.6f degrees", {s.LonMin, s.LonMax}));
  host.AppendLine(
      FormatText(sep, "   Latitude Limits  : %.6f   to   %.6f degrees", {s.LatMin, s.LatMax}));
  host.AppendLine(FormatText(sep, "   Elevation Limits : %.0f   to   %.0f m", {s.ZMin, s.ZMax}));
  host.AppendLine(FormatText(sep, "   XY Resolution of STL Output : %d meters", {s.XYResolution}));
  host.AppendLine(FormatText(sep, "   X, Z Extents of STL file : %.3f  %.3f respectively",
                             {s.XExtent, s.ZExtent}));
  host.AppendLine(FormatText(sep, "   Pedestal is %.2f percent of the Z extent", {s.ZBasePercent}));
  if (s.Solid) {
    host.AppendLine(
        FormatText(sep, "   Closed solid, floor %.2f percent of the Z extent", {s.FloorPercent}));
  }
  if (s.MaxError > 0) {
    host.AppendLine(FormatText(sep, "   Adaptive surface, max. error %.2f m", {s.MaxError}));
  }
  if (s.Extras.WaterLevel) {
    host.AppendLine(FormatText(sep, "   Water level %.1f m, lowered %.2f",
                               {*s.Extras.WaterLevel, s.Extras.WaterDrop}));
  }
  if (s.BlockCop30) host.AppendLine("   Use of Copernicus GLO-30 Data blocked");
  if (!s.DemFile.empty()) host.AppendLine("   DEM File : " + s.DemFile);
  LogPrintSetup(s, sep, host);
  host.AppendLine("   STL Filename : " + s.StlFileName);
  host.AppendLine(" * * * * * * * * * * * * * * * * *");
}

TileRange RegionTiles(const ModelSettings& s) noexcept {
  return TileRangeOf(s.LonMin, s.LonMax, s.LatMin, s.LatMax);
}

std::vector<std::string> DataRootLines(const DataFolders& folders, RootOrigin origin) {
  const char* from = "execution directory";
  switch (origin) {
    case RootOrigin::ExecutionDirectory:
      break;
    case RootOrigin::CommandLine:
      from = "command line argument";
      break;
    case RootOrigin::Chooser:
      from = "folder chooser";
      break;
    case RootOrigin::SavedSettings:
      from = "saved settings";
      break;
  }
  return {
      "DataRoot taken from " + std::string(from) + " : " + folders.DataRoot,
      "SRTM-1 Files should be in " + folders.Srtm1Dir,
      "SRTM-3 Files should be in " + folders.Srtm3Dir,
      "SRTM-30 Files <from Gridcaster> should be in " + folders.Srtm30Dir,
  };
}

std::vector<std::string> StartupLines(const DataFolders& folders, RootOrigin origin) {
  std::vector<std::string> lines{"Marlowen Orolith 20130304"};
  for (std::string& line : DataRootLines(folders, origin)) lines.push_back(std::move(line));
  lines.insert(lines.end(),
               {
                   "To use an alternative DataRoot directory, rerun Orolith with the following "
                   "added to the command line in shortcut",
                   " ",
                   "        DataRoot=<insert_path_here> use double-quotes to enclose if there are "
                   "spaces",
                   "  e.g.  DataRoot=\"c:\\My Directory\\OroFiles\\\" ",
                   "  ",
               });
  return lines;
}

}  // namespace orolith
