#include "tiles/GdalRaster.h"

#include "base/Errors.h"
#include "base/NumberText.h"

#include <cpl_conv.h>
#include <cpl_http.h>
#include <cpl_string.h>
#include <cpl_vsi_virtual.h>
#include <ogr_srs_api.h>

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

constexpr const char* NetworkOff = "Network access is off";

// GDAL's file systems that fetch over the network; what is asked of them fails.
constexpr std::array<const char*, 15> NetworkPrefixes{"/vsicurl/",
                                                      "/vsicurl_streaming/",
                                                      "/vsis3/",
                                                      "/vsis3_streaming/",
                                                      "/vsigs/",
                                                      "/vsigs_streaming/",
                                                      "/vsiaz/",
                                                      "/vsiaz_streaming/",
                                                      "/vsiadls/",
                                                      "/vsioss/",
                                                      "/vsioss_streaming/",
                                                      "/vsiswift/",
                                                      "/vsiswift_streaming/",
                                                      "/vsiwebhdfs/",
                                                      "/vsihdfs/"};

// Raster drivers whose data sets are web services; some fetch beside GDAL's HTTP entry point,
// so they are never asked to open anything.
constexpr std::array<const char*, 12> NetworkDrivers{"WMS",      "WMTS",   "WCS",    "HTTP",
                                                     "DAAS",     "EEDA",   "EEDAI",  "PLMOSAIC",
                                                     "PLSCENES", "OGCAPI", "STACIT", "NGW"};

class OfflineFileSystem final : public VSIFilesystemHandler {
 public:
  VSIVirtualHandle* Open(const char* name, const char*, bool, CSLConstList) override {
    CPLError(CE_Failure, CPLE_OpenFailed, "%s: %s", NetworkOff, name);
    return nullptr;
  }
  int Stat(const char*, VSIStatBufL*, int) override { return -1; }
};

// Every HTTP request a driver makes (WMS, WCS and the like) ends here, unsent.
CPLHTTPResult* RefuseRequest(const char* url, CSLConstList, GDALProgressFunc, void*,
                             CPLHTTPFetchWriteFunc, void*, void*) {
  CPLError(CE_Failure, CPLE_HttpResponse, "%s: %s", NetworkOff, url);
  auto* result = static_cast<CPLHTTPResult*>(CPLCalloc(1, sizeof(CPLHTTPResult)));
  result->nStatus = 1;
  result->pszErrBuf = CPLStrdup(NetworkOff);
  return result;
}

void CPL_STDCALL Discard(CPLErr, CPLErrorNum, const char*) {}

void SetUp() {
  // Threads GDAL starts report to the process-wide handler, not to a capture.
  CPLSetErrorHandler(Discard);
  CPLSetConfigOption("CPL_DEBUG", "OFF");
  CPLSetConfigOption("GDAL_PAM_ENABLED", "NO");
  CPLSetConfigOption("GDAL_HTTP_MAX_RETRY", "0");
  GDALAllRegister();
  // The warp's source blocks pass through the cache; the tiles are read around it.
  GDALSetCacheMax64(GIntBig{32} << 20);
  CPLHTTPSetFetchCallback(RefuseRequest, nullptr);
  // Nor may PROJ fetch grids for a datum shift.
  OSRSetPROJEnableNetwork(FALSE);
  // The handlers replaced stay reachable (GDAL deletes only the ones it holds at its end).
  static auto* replaced = new std::vector<VSIFilesystemHandler*>;
  for (const char* prefix : NetworkPrefixes) {
    replaced->push_back(VSIFileManager::GetHandler(prefix));
    VSIFileManager::InstallHandler(prefix, new OfflineFileSystem);
  }
}

// Every raster driver but the web services', null-terminated; the drivers themselves belong to
// GDAL. Worked out afresh for each open, as drivers may be registered since.
std::vector<const char*> LocalRasterDrivers() {
  std::vector<const char*> names;
  for (int i = 0; i < GDALGetDriverCount(); ++i) {
    GDALDriverH driver = GDALGetDriver(i);
    const char* name = GDALGetDriverShortName(driver);
    if (GDALGetMetadataItem(driver, GDAL_DCAP_RASTER, nullptr) == nullptr) continue;
    if (std::find_if(NetworkDrivers.begin(), NetworkDrivers.end(), [&](const char* n) {
          return std::strcmp(n, name) == 0;
        }) != NetworkDrivers.end()) {
      continue;
    }
    names.push_back(name);
  }
  names.push_back(nullptr);
  return names;
}

// Opens gdalName, a name GDAL reads, as a raster; errors name shownName.
Dataset OpenNamed(const std::string& gdalName, const std::string& shownName,
                  const OpenRequest& request) {
  const std::vector<const char*> local =
      request.AllowedDrivers == nullptr ? LocalRasterDrivers() : std::vector<const char*>{};
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

void RefuseNetworkName(const std::string& fileName) {
  if (fileName.starts_with("/vsi") || fileName.find("://") != std::string::npos) {
    throw CannotOpenFile(fileName, "Only local files are read");
  }
}

Dataset OpenRaster(const std::string& fileName, const OpenRequest& request) {
  EnsureSetUp();
  RefuseNetworkName(fileName);
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

std::optional<DeflatedFloatLayout> FindDeflatedFloatLayout(GDALRasterBandH band) {
  GDALDatasetH dataset = GDALGetBandDataset(band);
  const auto is = [&](const char* item, const char* value) {
    const char* found = GDALGetMetadataItem(dataset, item, "IMAGE_STRUCTURE");
    return found != nullptr && EQUAL(found, value);
  };
  const char* description = GDALGetDescription(dataset);
  if (GDALGetRasterDataType(band) != GDT_Float32 || GDALGetRasterCount(dataset) != 1 ||
      !EQUAL(GDALGetDriverShortName(GDALGetDatasetDriver(dataset)), "GTiff") ||
      !is("COMPRESSION", "DEFLATE") || !is("PREDICTOR", "3") ||
      GDALGetMetadataItem(band, "NBITS", "IMAGE_STRUCTURE") != nullptr || description == nullptr ||
      std::string_view(description).starts_with("/vsi")) {
    return std::nullopt;
  }
  // A big-endian file orders the bytes of its samples otherwise.
  std::array<char, 2> order{};
  VSILFILE* file = VSIFOpenL(description, "rb");
  const bool read =
      file != nullptr && VSIFReadL(order.data(), 1, order.size(), file) == order.size();
  if (file != nullptr) VSIFCloseL(file);
  if (!read || order[0] != 'I' || order[1] != 'I') return std::nullopt;
  DeflatedFloatLayout layout;
  layout.Width = GDALGetRasterBandXSize(band);
  layout.Height = GDALGetRasterBandYSize(band);
  GDALGetBlockSize(band, &layout.BlockWidth, &layout.BlockHeight);
  if (layout.Width <= 0 || layout.Height <= 0 || layout.BlockWidth <= 0 ||
      layout.BlockHeight <= 0) {
    return std::nullopt;
  }
  const int down = (layout.Height + layout.BlockHeight - 1) / layout.BlockHeight;
  for (int by = 0; by < down; ++by) {
    for (int bx = 0; bx < layout.BlocksAcross(); ++bx) {
      const auto item = [&](const char* what) -> std::uint64_t {
        const std::string key = FormatText('.', "BLOCK_%s_%d_%d", {what, bx, by});
        const char* text = GDALGetMetadataItem(band, key.c_str(), "TIFF");
        return text == nullptr ? 0 : std::strtoull(text, nullptr, 10);
      };
      layout.Offsets.push_back(item("OFFSET"));
      layout.Sizes.push_back(item("SIZE"));
      // A block that was never written reads as no data through GDAL.
      if (layout.Offsets.back() == 0 || layout.Sizes.back() == 0) return std::nullopt;
    }
  }
  return layout;
}

}  // namespace orolith::gdal
