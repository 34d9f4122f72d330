#pragma once

// GDAL behind the tile readers: one quiet, offline set-up per process, GDAL's messages caught
// as the reasons of our errors, every handle owned. Private to the tiles library, which alone
// links GDAL.

#include <cpl_error.h>
#include <cpl_vsi.h>
#include <gdal.h>

#include <algorithm>
#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

namespace orolith::gdal {

// Registers GDAL's drivers and sets it up once per process: nothing printed, nothing written
// beside the rasters (no .aux.xml), no network (the drivers of local files alone, every HTTP
// request and every network file system refused), no pipe or device opened, reads that stop
// once a stop has been asked for, a bounded block cache.
void EnsureSetUp();

// Collects GDAL's messages on this thread while it lives, so that none is printed and the last
// failure can become an error's reason.
class ErrorCapture {
 public:
  ErrorCapture();
  ErrorCapture(const ErrorCapture&) = delete;
  ErrorCapture& operator=(const ErrorCapture&) = delete;
  ~ErrorCapture();

  // The last failure GDAL reported, else fallback.
  std::string Reason(const std::string& fallback) const;

 private:
  static void CPL_STDCALL Collect(CPLErr level, CPLErrorNum number, const char* message);
  std::string last_;
};

struct DatasetCloser {
  void operator()(GDALDatasetH dataset) const noexcept { GDALClose(dataset); }
};
using Dataset = std::unique_ptr<std::remove_pointer_t<GDALDatasetH>, DatasetCloser>;

// Throws FileError for a name GDAL would fetch over the network (a URL, a /vsi path, such a
// path behind a driver's prefix), and for a pipe, a device or a socket, which GDAL would wait on
// for ever.
void RequireLocalFile(const std::string& fileName);

struct OpenRequest {
  const char* const* AllowedDrivers = nullptr;  // null-terminated; null for any
  const char* const* OpenOptions = nullptr;     // null-terminated; null for none
  bool WithoutSiblings = false;                 // no look for .aux.xml, .ovr and the like
};

// Opens fileName read-only as a raster, after RequireLocalFile and, for a VRT, the same of each
// of its sources; throws FileError ("Cannot open file ...") with GDAL's reason when it can't.
Dataset OpenRaster(const std::string& fileName, const OpenRequest& request);

// Bytes held in memory as a file GDAL can open, under a /vsimem/ name of its own, for as long
// as the object lives; the bytes must outlive it.
class MemoryFile {
 public:
  explicit MemoryFile(std::span<const std::byte> bytes);
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;
  ~MemoryFile();

 private:
  friend Dataset OpenRaster(const MemoryFile&, const std::string&, const OpenRequest&);
  std::string path_;
};

// Opens file as OpenRaster opens a file on disk; errors name it shownName.
Dataset OpenRaster(const MemoryFile& file, const std::string& shownName,
                   const OpenRequest& request);

// The one band of dataset; throws FileError naming fileName when it has another count.
GDALRasterBandH SingleBand(GDALDatasetH dataset, const std::string& fileName);

// Reads the window of width × height pixels at x0, y0 of band block by block, straight from the
// file (no block cache), as Float32: row y of the window goes to rows[y] (width values each),
// rows[y] being any address, so the rows can land in any order. Throws FileError ("Cannot read
// file ...") with GDAL's reason when a block can't be read.
class WindowReader {
 public:
  WindowReader(GDALRasterBandH band, std::string fileName);
  template <typename RowAddress>
  void Read(int x0, int y0, int width, int height, RowAddress&& rows);

 private:
  // Decodes block bx, by into scratch_; returns its bytes.
  const unsigned char* Block(int bx, int by);

  GDALRasterBandH band_;
  std::string fileName_;
  GDALDataType type_;
  int typeSize_;
  int blockWidth_ = 0;
  int blockHeight_ = 0;
  std::vector<unsigned char> scratch_;
};

template <typename RowAddress>
void WindowReader::Read(int x0, int y0, int width, int height, RowAddress&& rows) {
  if (width <= 0 || height <= 0) return;
  for (int by = y0 / blockHeight_; by * blockHeight_ < y0 + height; ++by) {
    for (int bx = x0 / blockWidth_; bx * blockWidth_ < x0 + width; ++bx) {
      const unsigned char* block = Block(bx, by);
      const int top = std::max(y0, by * blockHeight_);
      const int bottom = std::min(y0 + height, (by + 1) * blockHeight_);
      const int left = std::max(x0, bx * blockWidth_);
      const int right = std::min(x0 + width, (bx + 1) * blockWidth_);
      for (int y = top; y < bottom; ++y) {
        const std::size_t offset = (static_cast<std::size_t>(y - by * blockHeight_) *
                                        static_cast<std::size_t>(blockWidth_) +
                                    static_cast<std::size_t>(left - bx * blockWidth_)) *
                                   static_cast<std::size_t>(typeSize_);
        GDALCopyWords64(block + offset, type_, typeSize_, rows(y - y0) + (left - x0), GDT_Float32,
                        sizeof(float), right - left);
      }
    }
  }
}

}  // namespace orolith::gdal
