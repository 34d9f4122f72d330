#include "acquisition/MapTileCache.h"

#include "base/Errors.h"
#include "base/Files.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <span>
#include <system_error>
#include <utility>

namespace orolith {
namespace {

HttpLimits TileLimits() {
  HttpLimits limits;
  limits.MaxBodyBytes = std::size_t{4} * 1024 * 1024;
  limits.ConnectTimeoutSeconds = 15;
  limits.StallSeconds = 15;
  limits.MaxRedirects = 3;
  return limits;
}

std::vector<char> ReadWhole(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

MapTileCache::MapTileCache(std::string baseUrl, std::filesystem::path folder, std::string userAgent)
    : baseUrl_(std::move(baseUrl)), folder_(std::move(folder)), client_(TileLimits()) {
  client_.SetUserAgent(std::move(userAgent));
}

std::filesystem::path MapTileCache::CopyOf(int zoom, int x, int y) const {
  return folder_ / std::to_string(zoom) / std::to_string(x) / (std::to_string(y) + ".png");
}

std::vector<char> MapTileCache::Get(int zoom, int x, int y,
                                    const std::function<void()>& whileWaiting) {
  const std::filesystem::path copy = CopyOf(zoom, x, y);
  std::error_code error;
  const auto written = std::filesystem::last_write_time(copy, error);
  const bool haveCopy = !error;
  if (haveCopy && std::filesystem::file_time_type::clock::now() - written < MaxAge) {
    std::vector<char> bytes = ReadWhole(copy);
    if (!bytes.empty()) return bytes;
  }
  std::vector<char> bytes;
  try {
    bytes = client_.Get(baseUrl_ + std::to_string(zoom) + "/" + std::to_string(x) + "/" +
                            std::to_string(y) + ".png",
                        whileWaiting);
  } catch (const HttpError&) {
    if (haveCopy) {
      std::vector<char> old = ReadWhole(copy);
      if (!old.empty()) return old;
    }
    throw;
  }
  try {
    std::filesystem::create_directories(copy.parent_path());
    WriteFileAtomically(copy.string(), std::as_bytes(std::span<const char>(bytes)),
                        AtomicOutputFile::Placement::ReplaceLinks);
  } catch (const std::exception&) {
    // A full or read-only cache costs a fetch next time, nothing more.
  }
  return bytes;
}

std::filesystem::path MapTileCache::DefaultFolder() {
  const char* cache = std::getenv("XDG_CACHE_HOME");
  if (cache != nullptr && *cache == '/')
    return std::filesystem::path(cache) / "orolith" / "osm-tiles";
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home != nullptr ? home : "/tmp") / ".cache" / "orolith" /
         "osm-tiles";
}

}  // namespace orolith
