#include "tiles/GdalRaster.h"

#include "base/Errors.h"
#include "base/NumberText.h"
#include "tiles/GdalFiles.h"

#include <cpl_conv.h>
#include <cpl_http.h>
#include <cpl_string.h>
#include <gdal_priv.h>
#include <ogr_srs_api.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <utility>

namespace orolith::gdal {
namespace {

// The raster drivers of files on this machine, the only ones the user's raster is read with.
// Every other driver is unregistered: they read web services and databases, or go through a
// library of their own to the network (netCDF's OPeNDAP) and to stderr (HDF5), also where a
// VRT names them as its source.
constexpr std::array<const char*, 18> LocalDrivers{
    "GTiff", "VRT", "AAIGrid", "GSAG",    "GSBG", "GS7BG", "EHdr", "ENVI",  "HFA",
    "AIG",   "ERS", "USGSDEM", "SRTMHGT", "XYZ",  "BT",    "PNG",  "ISIS3", "PDS4"};
// Kept besides them, never given a name to open: MEM holds the warp's grid, COG writes.
constexpr std::array<const char*, 2> WritingDrivers{"MEM", "COG"};

bool Among(const char* name, const auto& names) {
  return std::any_of(std::begin(names), std::end(names),
                     [&](const char* n) { return EQUAL(n, name); });
}

// Every HTTP request a driver makes ends here, unsent.
CPLHTTPResult* RefuseRequest(const char* url, CSLConstList, GDALProgressFunc, void*,
                             CPLHTTPFetchWriteFunc, void*, void*) {
  CPLError(CE_Failure, CPLE_HttpResponse, "%s: %s", NetworkOff, url);
  auto* result = static_cast<CPLHTTPResult*>(CPLCalloc(1, sizeof(CPLHTTPResult)));
  result->nStatus = 1;
  result->pszErrBuf = CPLStrdup(NetworkOff);
  return result;
}

void CPL_STDCALL Discard(CPLErr, CPLErrorNum, const char*) {}

// Names every raster driver but the local ones in GDAL_SKIP, which GDALAllRegister honours
// each time it runs, and unregisters them now.
void SkipOtherDrivers() {
  std::string skipped;
  for (int i = 0; i < GDALGetDriverCount(); ++i) {
    GDALDriverH driver = GDALGetDriver(i);
    const char* name = GDALGetDriverShortName(driver);
    if (GDALGetMetadataItem(driver, GDAL_DCAP_RASTER, nullptr) == nullptr ||
        Among(name, LocalDrivers) || Among(name, WritingDrivers)) {
      continue;
    }
    skipped += skipped.empty() ? "" : " ";
    skipped += name;
  }
  CPLSetConfigOption("GDAL_SKIP", skipped.c_str());
  GetGDALDriverManager()->AutoSkipDrivers();
}

void SetUp() {
  // Threads GDAL starts report to the process-wide handler, not to a capture.
  CPLSetErrorHandler(Discard);
  CPLSetConfigOption("CPL_DEBUG", "OFF");
  CPLSetConfigOption("GDAL_PAM_ENABLED", "NO");
  CPLSetConfigOption("GDAL_HTTP_MAX_RETRY", "0");
  // A VRT's pixel functions stay GDAL's own; none runs Python.
  CPLSetConfigOption("GDAL_VRT_ENABLE_PYTHON", "NO");
  GDALAllRegister();
  SkipOtherDrivers();
  // The warp's source blocks pass through the cache; the tiles are read around it.
  GDALSetCacheMax64(GIntBig{32} << 20);
  CPLHTTPSetFetchCallback(RefuseRequest, nullptr);
  // Nor may PROJ fetch grids for a datum shift.
  OSRSetPROJEnableNetwork(FALSE);
  InstallFileSystems();
}

// Opens gdalName, a name GDAL reads, as a raster; errors name shownName.
Dataset OpenNamed(const std::string& gdalName, const std::string& shownName,
                  const OpenRequest& request) {
  std::vector<const char*> local(LocalDrivers.begin(), LocalDrivers.end());
  local.push_back(nullptr);
  ErrorCapture capture;
  // An empty list of siblings keeps GDAL from listing the folder, which may hold thousands of
  // tiles, and from looking for side files at all.
  char* noSiblings[] = {nullptr};
  Dataset dataset(
      GDALOpenEx(gdalName.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY | GDAL_OF_VERBOSE_ERROR,
                 request.AllowedDrivers != nullptr ? request.AllowedDrivers : local.data(),
                 request.OpenOptions, request.WithoutSiblings ? noSiblings : nullptr));
  if (!dataset) {
    // GDAL's words name what it was given; the user knows the file by its shown name.
    std::string reason = capture.Reason("GDAL can't read it as a raster");
    for (std::size_t at = reason.find(gdalName); gdalName != shownName && at != std::string::npos;
         at = reason.find(gdalName, at + shownName.size())) {
      reason.replace(at, gdalName.size(), shownName);
    }
    throw CannotOpenFile(shownName, reason);
  }
  return dataset;
}

}  // namespace

void EnsureSetUp() {
  static std::once_flag once;
  std::call_once(once, SetUp);
}

ErrorCapture::ErrorCapture() {
  CPLPushErrorHandlerEx(Collect, this);
  CPLSetCurrentErrorHandlerCatchDebug(FALSE);
}

ErrorCapture::~ErrorCapture() {
  CPLPopErrorHandler();
}

std::string ErrorCapture::Reason(const std::string& fallback) const {
  return last_.empty() ? fallback : last_;
}

void CPL_STDCALL ErrorCapture::Collect(CPLErr level, CPLErrorNum, const char* message) {
  auto* self = static_cast<ErrorCapture*>(CPLGetErrorHandlerUserData());
  if (self == nullptr || message == nullptr) return;
  // A failure outranks the warnings around it; a later failure, closer to the cause of the
  // caller's trouble, replaces an earlier one.
  if (level >= CE_Failure || self->last_.empty()) self->last_ = message;
}

void RequireLocalFile(const std::string& fileName) {
  EnsureSetUp();
  if (fileName.starts_with("/vsi") || NamesNetwork(fileName)) {
    throw CannotOpenFile(fileName, "Only local files are read");
  }
  struct stat info {};
  if (::stat(fileName.c_str(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) {
    throw CannotOpenFile(fileName, NotARegularFile);
  }
}

Dataset OpenRaster(const std::string& fileName, const OpenRequest& request) {
  RequireLocalFile(fileName);
  RequireLocalSources(fileName, fileName);
  return OpenNamed(fileName, fileName, request);
}

MemoryFile::MemoryFile(std::span<const std::byte> bytes) {
  EnsureSetUp();
  static std::atomic<unsigned long> files{0};
  path_ = "/vsimem/orolith-" + std::to_string(++files) + ".tif";
  // GDAL only reads the bytes: it neither writes them nor frees them.
  VSILFILE* file = VSIFileFromMemBuffer(
      path_.c_str(), const_cast<GByte*>(reinterpret_cast<const GByte*>(bytes.data())),
      static_cast<vsi_l_offset>(bytes.size()), FALSE);
  if (file == nullptr) throw std::bad_alloc();
  VSIFCloseL(file);
}

MemoryFile::~MemoryFile() {
  VSIUnlink(path_.c_str());
}

Dataset OpenRaster(const MemoryFile& file, const std::string& shownName,
                   const OpenRequest& request) {
  return OpenNamed(file.path_, shownName, request);
}

GDALRasterBandH SingleBand(GDALDatasetH dataset, const std::string& fileName) {
  const int bands = GDALGetRasterCount(dataset);
  if (bands != 1) {
    throw CannotOpenFile(
        fileName, FormatText('.', "The raster has %d bands, not the one band of heights", {bands}));
  }
  return GDALGetRasterBand(dataset, 1);
}

WindowReader::WindowReader(GDALRasterBandH band, std::string fileName)
    : band_(band),
      fileName_(std::move(fileName)),
      type_(GDALGetRasterDataType(band)),
      typeSize_(GDALGetDataTypeSizeBytes(type_)) {
  GDALGetBlockSize(band_, &blockWidth_, &blockHeight_);
  if (blockWidth_ <= 0 || blockHeight_ <= 0 || typeSize_ <= 0 || GDALDataTypeIsComplex(type_)) {
    throw CannotReadFile(fileName_, "The raster's samples are not heights");
  }
  scratch_.resize(static_cast<std::size_t>(blockWidth_) * static_cast<std::size_t>(blockHeight_) *
                  static_cast<std::size_t>(typeSize_));
}

const unsigned char* WindowReader::Block(int bx, int by) {
  ErrorCapture capture;
  if (GDALReadBlock(band_, bx, by, scratch_.data()) != CE_None) {
    throw CannotReadFile(fileName_, capture.Reason("A block of the raster can't be read"));
  }
  return scratch_.data();
}

}  // namespace orolith::gdal
