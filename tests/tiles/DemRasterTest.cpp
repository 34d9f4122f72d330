#include "base/Errors.h"
#include "base/Interrupt.h"
#include "support/Pipes.h"
#include "support/Rasters.h"
#include "support/Scoped.h"
#include "support/TempFiles.h"
#include "tiles/DemRaster.h"
#include "tiles/SRTM.h"

#include <cpl_conv.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace orolith {
namespace {

namespace fs = std::filesystem;

using test::ToUtm;
using namespace test::utm20s;

TEST(DemRaster, GivesAPlaneLaidOutInUtmWithinHalfAMetreAndNothingOutsideIt) {
  const test::TempDir dir;
  const std::string path = WriteUtmPlane(dir.Root());
  DemRaster dem(path);
  EXPECT_EQ(dem.Description().Name, path);
  EXPECT_EQ(dem.Description().Width, Width);
  EXPECT_EQ(dem.Description().Height, Height);
  EXPECT_DOUBLE_EQ(dem.Description().SpacingX, 30);
  EXPECT_DOUBLE_EQ(dem.Description().SpacingY, 30);

  TSRTM tile;
  ASSERT_TRUE(dem.LoadTile(tile, -64, -46));
  EXPECT_EQ(tile.Kind(), TileKind::Dem);
  EXPECT_EQ(tile.SourceName(), path);
  EXPECT_EQ(tile.WestLon(), -64);
  EXPECT_EQ(tile.SouthLat(), -46);
  // About the raster's own 30 m: 2602 samples across the tile at 45.5 S, the latitudes capped.
  EXPECT_NEAR(tile.Columns(), 2602, 2);
  EXPECT_EQ(tile.Rows(), 3601);
  EXPECT_EQ(tile.HealVoids(3), 0);

  const ToUtm toUtm;
  int inside = 0;
  int outside = 0;
  int wrong = 0;
  double worst = 0;
  constexpr int steps = 400;
  for (int i = 0; i <= steps; ++i) {
    for (int j = 0; j <= steps; ++j) {
      const double lon = -64 + static_cast<double>(i) / steps;
      const double lat = -46 + static_cast<double>(j) / steps;
      double e = 0;
      double n = 0;
      ASSERT_TRUE(toUtm(lon, lat, e, n));
      const double height = static_cast<double>(tile.ElevationAt(lon, lat));
      // A margin of two pixels and of the grid's spacing on either side of the raster's edge.
      const double margin = 2 * Pixel + 40;
      if (e > West + margin && e < West + Width * Pixel - margin && n < North - margin &&
          n > North - Height * Pixel + margin) {
        ++inside;
        const double error = std::abs(height - UtmPlane(e, n));
        worst = std::max(worst, error);
        wrong += !(error <= 0.5);
      } else if (e < West - margin || e > West + Width * Pixel + margin || n > North + margin ||
                 n < North - Height * Pixel - margin) {
        ++outside;
        wrong += !std::isnan(height);
      }
    }
  }
  EXPECT_GT(inside, 1000);
  EXPECT_GT(outside, 100000);
  EXPECT_EQ(wrong, 0) << "worst error inside " << worst << " m";
}

TEST(DemRaster, CountsTheShareOfTheRegionItCovers) {
  const test::TempDir dir;
  DemRaster dem(WriteUtmPlane(dir.Root()));
  EXPECT_DOUBLE_EQ(dem.CoveredShare(-63.6L, -63.5L, -45.6L, -45.5L), 1.0);
  EXPECT_DOUBLE_EQ(dem.CoveredShare(-62.5L, -62.4L, -45.6L, -45.5L), 0.0);
  // 36 by 30 km of a degree square at 45.5 S (78.0 by 111.1 km).
  EXPECT_NEAR(dem.CoveredShare(-64, -63, -46, -45), 36.0 / 78.0 * 30.0 / 111.1, 0.01);
}

TEST(DemRaster, GivesItsExtentOutlineAndAnOverviewInLongitudeAndLatitude) {
  const test::TempDir dir;
  DemRaster dem(WriteUtmPlane(dir.Root()));
  const std::optional<DemExtent> extent = dem.Extent();
  ASSERT_TRUE(extent.has_value());
  const ToUtm toUtm;
  // Every point of the edge lies on the raster's border in UTM, and inside the extent.
  const std::vector<std::array<double, 2>> outline = dem.Outline(8);
  ASSERT_EQ(outline.size(), 28U);
  for (const auto& p : outline) {
    EXPECT_TRUE(p[0] >= extent->West - 1e-9 && p[0] <= extent->East + 1e-9);
    EXPECT_TRUE(p[1] >= extent->South - 1e-9 && p[1] <= extent->North + 1e-9);
    double e = 0;
    double n = 0;
    ASSERT_TRUE(toUtm(p[0], p[1], e, n));
    const double fromEdge = std::min({std::abs(e - West), std::abs(e - (West + Width * Pixel)),
                                      std::abs(n - North), std::abs(n - (North - Height * Pixel))});
    EXPECT_LT(fromEdge, 0.5);
  }
  // Some 63.8 to 63.3 W, 45.4 to 45.7 S.
  EXPECT_NEAR(extent->West, -63.77, 0.02);
  EXPECT_NEAR(extent->North, -45.42, 0.02);

  const DemOverview overview = dem.Overview(100);
  EXPECT_EQ(std::max(overview.Columns, overview.Rows), 100);
  EXPECT_NEAR(static_cast<double>(overview.Columns) / overview.Rows, 36.0 / 30, 0.15);
  // The middle height is the plane's there; the corners, beyond the tilted UTM square, none.
  const double lon = (extent->West + extent->East) / 2;
  const double lat = (extent->South + extent->North) / 2;
  const int column =
      static_cast<int>((lon - extent->West) / (extent->East - extent->West) * overview.Columns);
  const int row =
      static_cast<int>((extent->North - lat) / (extent->North - extent->South) * overview.Rows);
  double e = 0;
  double n = 0;
  ASSERT_TRUE(toUtm(lon, lat, e, n));
  const float middle = overview.Heights[static_cast<std::size_t>(row * overview.Columns + column)];
  EXPECT_NEAR(middle, UtmPlane(e, n), 25.0);
  EXPECT_TRUE(std::isnan(overview.Heights.front()) || std::isnan(overview.Heights.back()));
}

TEST(DemRaster, LeavesATileItDoesNotReachUntouched) {
  const test::TempDir dir;
  DemRaster dem(WriteUtmPlane(dir.Root()));
  TSRTM tile;
  tile.FillConstant(7, -65, -46);
  for (const auto& [lon, lat] :
       std::vector<std::pair<int, int>>{{-65, -46}, {-64, -45}, {-63, -46}, {0, 0}}) {
    EXPECT_FALSE(dem.LoadTile(tile, static_cast<std::int16_t>(lon), static_cast<std::int16_t>(lat)))
        << lon << " " << lat;
  }
  EXPECT_EQ(tile.SourceName(), "CONSTANT_FILL=7");
  EXPECT_EQ(tile.WestLon(), -65);
}

TEST(DemRaster, TakesAGeographicRasterAtItsOwnSpacingAndItsNoDataAsMissing) {
  const test::TempDir dir;
  const std::string path = dir.Root() + "geo.tif";
  // 3 arc-seconds over the tile at 8 E, 50 N, pixel centres on the lattice of an SRTM-3 tile.
  const double step = 1.0 / 1200;
  test::WriteRaster(path,
                    {.Width = 1201,
                     .Height = 1201,
                     .Geo = std::array<double, 6>{8 - step / 2, step, 0, 51 + step / 2, 0, -step},
                     .Srs = "EPSG:4326",
                     .NoData = -1},
                    [](int x, int y) { return (x < 600 && y < 600) ? -1 : 100 + x * 0.5 + y; });
  DemRaster dem(path);
  EXPECT_NEAR(dem.Description().SpacingY, 6378137 * M_PI / 180 * step, 1e-6);
  TSRTM tile;
  ASSERT_TRUE(dem.LoadTile(tile, 8, 50));
  EXPECT_EQ(tile.Columns(), 1201);
  EXPECT_EQ(tile.Rows(), 1201);
  // Sample (row, column) of the grid is pixel (column, 1200 - row) of the raster.
  EXPECT_FLOAT_EQ(tile.Height(0, 1200), 100 + 600 + 1200);
  EXPECT_FLOAT_EQ(tile.Height(1200, 1200), 100 + 600);
  EXPECT_TRUE(std::isnan(tile.Height(1100, 100)));
  EXPECT_TRUE(std::isnan(static_cast<double>(tile.ElevationAt(8.1L, 50.9L))));
  EXPECT_NEAR(static_cast<double>(tile.ElevationAt(8.75L, 50.25L)), 100 + 450 + 900, 1e-3);
  EXPECT_EQ(tile.HealVoids(3), 0);
  EXPECT_TRUE(std::isnan(tile.Height(1100, 100)));
}

// A socket on the loopback that counts the connections made to it.
class LoopbackListener {
 public:
  LoopbackListener() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::listen(fd_, 16) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
      throw std::runtime_error("no loopback socket");
    }
    port_ = ntohs(address.sin_port);
  }
  LoopbackListener(const LoopbackListener&) = delete;
  LoopbackListener& operator=(const LoopbackListener&) = delete;
  ~LoopbackListener() { ::close(fd_); }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }
  int Connections() const {
    int count = 0;
    for (int fd; (fd = ::accept(fd_, nullptr, nullptr)) >= 0; ++count) ::close(fd);
    return count;
  }

 private:
  int fd_;
  int port_ = 0;
};

// A raster GDAL would read over the network when let.
struct NetworkCase {
  const char* what;
  std::function<std::string(const std::string& folder, const std::string& url)> write;
};

// A VRT of 100 x 100 pixels over 7 to 8 E, 46 to 47 N, whose one band is read from source.
std::string VrtOver(const std::string& path, const std::string& source, bool relative = false) {
  const std::string vrt =
      "<VRTDataset rasterXSize=\"100\" rasterYSize=\"100\"><SRS>EPSG:4326</SRS>"
      "<GeoTransform>7, 0.01, 0, 47, 0, -0.01</GeoTransform>"
      "<VRTRasterBand dataType=\"Float32\" band=\"1\"><SimpleSource>"
      "<SourceFilename relativeToVRT=\"" +
      std::string(relative ? "1" : "0") + "\">" + source +
      "</SourceFilename><SourceBand>1</SourceBand>"
      "<SrcRect xOff=\"0\" yOff=\"0\" xSize=\"100\" ySize=\"100\"/>"
      "<DstRect xOff=\"0\" yOff=\"0\" xSize=\"100\" ySize=\"100\"/>"
      "</SimpleSource></VRTRasterBand></VRTDataset>";
  test::WriteText(path, vrt);
  return path;
}

// A description of a web map service at url, as GDAL's WMS driver reads it.
std::string WebMapService(const std::string& path, const std::string& url) {
  test::WriteText(path,
                  "<GDAL_WMS><Service name=\"WMS\"><Version>1.1.1</Version><ServerUrl>" + url +
                      "wms?</ServerUrl><SRS>EPSG:4326</SRS><ImageFormat>image/tiff</ImageFormat>"
                      "<Layers>dem</Layers></Service><DataWindow><UpperLeftX>7</UpperLeftX>"
                      "<UpperLeftY>47</UpperLeftY><LowerRightX>8</LowerRightX><LowerRightY>46</"
                      "LowerRightY><SizeX>1000</SizeX><SizeY>1000</SizeY></DataWindow>"
                      "<BandsCount>1</BandsCount><DataType>Float32</DataType><Timeout>3</Timeout>"
                      "</GDAL_WMS>");
  return path;
}

TEST(DemRaster, NeverReachesTheNetwork) {
  // Should a request go out after all, it fails soon instead of waiting on the silent socket.
  CPLSetConfigOption("GDAL_HTTP_TIMEOUT", "3");
  using Folder = const std::string&;
  using Url = const std::string&;
  const std::vector<NetworkCase> cases = {
      {"a URL", [](Folder, Url url) { return url + "dem.tif"; }},
      {"a /vsicurl/ path", [](Folder, Url url) { return "/vsicurl/" + url + "dem.tif"; }},
      {"Zarr over /vsicurl?",
       [](Folder, Url url) { return "ZARR:\"/vsicurl?url=" + url + "dem.zarr\""; }},
      {"a web map service",
       [](Folder folder, Url url) { return WebMapService(folder + "service.xml", url); }},
      {"a VRT over a /vsicurl/ path",
       [](Folder folder, Url url) { return VrtOver(folder + "a.vrt", "/vsicurl/" + url + "x"); }},
      {"a VRT over /vsicurl?url=",
       [](Folder folder, Url url) {
         return VrtOver(folder + "a.vrt", "/vsicurl?url=" + url + "dem.tif");
       }},
      {"a VRT over OPeNDAP",
       [](Folder folder, Url url) {
         return VrtOver(folder + "a.vrt", "NETCDF:\"" + url + "dem.nc\":z");
       }},
      {"a VRT over a web map service",
       [](Folder folder, Url url) {
         return VrtOver(folder + "a.vrt", WebMapService(folder + "service.xml", url));
       }},
      {"a VRT over a VRT over /vsicurl?url=", [](Folder folder, Url url) {
         VrtOver(folder + "inner.vrt", "/vsicurl?url=" + url + "dem.tif");
         return VrtOver(folder + "outer.vrt", "inner.vrt", true);
       }}};
  for (const NetworkCase& c : cases) {
    SCOPED_TRACE(c.what);
    const test::TempDir dir;
    const LoopbackListener listener;
    const std::string name = c.write(dir.Root(), listener.Url());
    TSRTM tile;
    EXPECT_THROW(
        {
          DemRaster dem(name);
          dem.LoadTile(tile, 7, 46);
        },
        FileError);
    EXPECT_EQ(listener.Connections(), 0);
    EXPECT_EQ(tile.Kind(), TileKind::NotATile);
  }
  CPLSetConfigOption("GDAL_HTTP_TIMEOUT", nullptr);
}

TEST(DemRaster, RefusesAPipeOrMemoryAsTheFileOrAVrtsSourceWithoutOpeningThem) {
  const test::TempDir dir;
  const std::string pipe = dir.Root() + "pipe.tif";
  const test::PipeAtPath waiting(pipe);
  const std::string memory = "MEM:::DATAPOINTER=0x1000,PIXELS=100,LINES=100";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {pipe, "Not a regular file"},
      {VrtOver(dir.Root() + "over-pipe.vrt", pipe), "Not a regular file: " + pipe},
      {VrtOver(dir.Root() + "over-memory.vrt", memory), "Only local files are read: " + memory}};
  for (const auto& [name, reason] : cases) {
    try {
      DemRaster dem(name);
      ADD_FAILURE() << name << " opened";
    } catch (const FileError& error) {
      EXPECT_EQ(std::string(error.what()), "Cannot open file \"" + name + "\". " + reason);
    }
  }
  EXPECT_EQ(waiting.Released(), 0) << "the pipe was opened";
}

TEST(DemRaster, AStopAskedForEndsTheWarpWithTheTileUntouched) {
  const test::TempDir dir;
  DemRaster dem(WriteUtmPlane(dir.Root()));
  TSRTM tile;
  tile.FillConstant(9, -64, -46);
  const test::StopAsked stop;
  EXPECT_THROW(dem.LoadTile(tile, -64, -46), Interrupted);
  EXPECT_EQ(tile.SourceName(), "CONSTANT_FILL=9");
}

// Bad input and the reason its error gives after "Cannot open file "NAME". ": all of it, or
// its start where GDAL's own words follow.
struct BadRaster {
  const char* what;
  std::function<void(const std::string& path)> write;
  std::string reason;
  bool gdalSays = false;
};

void WriteGeoTiff(const std::string& path, int bands, const std::string& srs, bool georeferenced) {
  test::WriteRaster(
      path,
      {.Width = 50,
       .Height = 40,
       .Geo = georeferenced ? std::optional(std::array<double, 6>{440000, 30, 0, 4970000, 0, -30})
                            : std::nullopt,
       .Srs = srs,
       .Bands = bands},
      [](int x, int y) { return x + y; });
}

TEST(DemRaster, RefusesBadInputWithTheFileAndTheReason) {
  const std::vector<BadRaster> cases = {
      {"no raster",
       [](const std::string& path) {
         test::WriteBytes(path, {'h', 'e', 'i', 'g', 'h', 't', 's'});
       },
       "`", true},
      {"no georeferencing", [](const std::string& path) { WriteGeoTiff(path, 1, "", false); },
       "The raster has no georeferencing"},
      {"no coordinate system", [](const std::string& path) { WriteGeoTiff(path, 1, "", true); },
       "The raster has no coordinate system"},
      {"three bands", [](const std::string& path) { WriteGeoTiff(path, 3, "EPSG:32720", true); },
       "The raster has 3 bands, not the one band of heights"},
      {"an engineering grid",
       [](const std::string& path) {
         WriteGeoTiff(path, 1, "LOCAL_CS[\"Plant grid\",UNIT[\"metre\",1]]", true);
       },
       "GDAL can't transform the raster's coordinate system to geographic coordinates: Cannot "
       "find coordinate operations",
       true},
      {"a projection PROJ knows by name only",
       [](const std::string& path) {
         WriteGeoTiff(path, 1,
                      "PROJCS[\"Mystery grid\",GEOGCS[\"WGS 84\",DATUM[\"WGS_1984\","
                      "SPHEROID[\"WGS 84\",6378137,298.257223563]],PRIMEM[\"Greenwich\",0],"
                      "UNIT[\"degree\",0.0174532925199433]],PROJECTION[\"Mystery_Projection\"],"
                      "UNIT[\"metre\",1]]",
                      true);
       },
       "GDAL can't transform the raster's coordinate system to geographic coordinates: ", true}};
  for (const BadRaster& bad : cases) {
    SCOPED_TRACE(bad.what);
    const test::TempDir dir;
    const std::string path = dir.Root() + "dem.tif";
    bad.write(path);
    try {
      DemRaster dem(path);
      ADD_FAILURE() << "opened";
    } catch (const FileError& error) {
      const std::string text = error.what();
      const std::string start = "Cannot open file \"" + path + "\". ";
      if (bad.gdalSays) {
        EXPECT_EQ(text.substr(0, start.size() + bad.reason.size()), start + bad.reason);
        EXPECT_GT(text.size(), start.size() + bad.reason.size()) << "GDAL's words missing";
      } else {
        EXPECT_EQ(text, start + bad.reason);
      }
    }
  }
}

TEST(DemRaster, RefusesARasterCutShortBeforeAnythingIsRead) {
  const test::TempDir dir;
  const std::string path = dir.Root() + "cut.tif";
  test::WriteRaster(
      path,
      {.Width = 2000,
       .Height = 2000,
       .Geo = std::array<double, 6>{7, 0.0005, 0, 47, 0, -0.0005},
       .Srs = "EPSG:4326",
       .Driver = "COG",
       .Options = {"COMPRESS=DEFLATE", "OVERVIEWS=NONE"}},
      [](int x, int y) { return std::sin(x * 0.37) * 100 + std::cos(y * 0.11) * 50 + 500; });
  fs::resize_file(path, fs::file_size(path) * 2 / 3);
  try {
    DemRaster dem(path);
    ADD_FAILURE() << "opened";
  } catch (const FileError& error) {
    EXPECT_EQ(std::string(error.what()),
              "Cannot open file \"" + path + "\". The file ends inside the raster's heights");
  }
}

}  // namespace
}  // namespace orolith
