#pragma once

#include "acquisition/HttpClient.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace orolith {

// The OpenStreetMap standard tiles, as their usage policy asks them to be fetched: one at a
// time, with a User-Agent that names the program and its version, and each kept on the disk
// for a week (the policy's floor where the answer's expiry is not looked at) and taken from
// there meanwhile, so that a tile is fetched once a week at most.
class MapTileCache {
 public:
  static constexpr std::chrono::hours MaxAge{24 * 7};
  static constexpr const char* OpenStreetMapUrl = "https://tile.openstreetmap.org/";

  // Tiles come from baseUrl + "Z/X/Y.png" and are kept under folder as Z/X/Y.png.
  MapTileCache(std::string baseUrl, std::filesystem::path folder, std::string userAgent);

  // The PNG bytes of the tile at zoom, column x and row y (x east, y south from the north-west
  // corner of the Web Mercator square): from the disk while its copy is younger than MaxAge, else
  // fetched and kept. An old copy stands in when the fetch fails; without one the failure is thrown
  // (HttpError). A copy that can't be written is not kept; the bytes are returned all the same.
  // whileWaiting, when given, is called every few tens of milliseconds during a fetch; what it
  // throws ends the fetch and comes out of Get.
  std::vector<char> Get(int zoom, int x, int y, const std::function<void()>& whileWaiting = {});

  // $XDG_CACHE_HOME/orolith/osm-tiles, or ~/.cache/orolith/osm-tiles without it.
  static std::filesystem::path DefaultFolder();

 private:
  std::filesystem::path CopyOf(int zoom, int x, int y) const;

  std::string baseUrl_;
  std::filesystem::path folder_;
  HttpClient client_;
};

}  // namespace orolith
