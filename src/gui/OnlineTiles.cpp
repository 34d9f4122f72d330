#include "gui/OnlineTiles.h"

#include "acquisition/MapTileCache.h"

#include <exception>
#include <stdexcept>

namespace orolith {
namespace {

// The pictures kept beyond those in view.
constexpr std::size_t KeptPictures = 256;

std::string UserAgent() {
  return std::string("Orolith/") + OROLITH_VERSION + " (terrain models for 3-D printing)";
}

}  // namespace

TOnlineTiles::TOnlineTiles(QObject* parent) : QObject(parent) {
  // One request at a time, as the tile servers ask.
  pool_.setMaxThreadCount(1);
  connect(this, &TOnlineTiles::Delivered, this, &TOnlineTiles::Deliver, Qt::QueuedConnection);
}

TOnlineTiles::~TOnlineTiles() {
  closing_->store(true);
  pool_.clear();
  pool_.waitForDone();
}

void TOnlineTiles::SetSource(const std::string& baseUrl, const std::filesystem::path& folder) {
  pool_.clear();
  pool_.waitForDone();
  cache_ = std::make_shared<MapTileCache>(baseUrl, folder, UserAgent());
  pictures_.clear();
  failed_.clear();
  pending_.clear();
}

void TOnlineTiles::Request(const std::vector<WebTile>& tiles) {
  if (!cache_) return;
  pool_.clear();
  pending_.clear();
  for (const WebTile& tile : tiles) {
    if (pictures_.contains(tile) || failed_.contains(tile)) continue;
    pending_.insert(tile);
    pool_.start([this, tile, cache = cache_, closing = closing_] {
      QImage picture;
      try {
        const std::vector<char> bytes = cache->Get(tile.Zoom, tile.X, tile.Y, [&closing] {
          if (closing->load()) throw std::runtime_error("closed");
        });
        picture = QImage::fromData(reinterpret_cast<const uchar*>(bytes.data()),
                                   static_cast<int>(bytes.size()));
      } catch (const std::exception&) {
        // Offline, refused or damaged: the map goes on without this tile.
      }
      emit Delivered(tile.Zoom, tile.X, tile.Y, picture);
    });
  }
  if (pictures_.size() > KeptPictures + tiles.size()) {
    const std::set<WebTile> wanted(tiles.begin(), tiles.end());
    std::erase_if(pictures_, [&](const auto& entry) { return !wanted.contains(entry.first); });
  }
}

QImage TOnlineTiles::Picture(const WebTile& tile) const {
  const auto found = pictures_.find(tile);
  return found == pictures_.end() ? QImage() : found->second;
}

void TOnlineTiles::Deliver(int zoom, int x, int y, const QImage& picture) {
  const WebTile tile{zoom, x, y};
  pending_.erase(tile);
  if (picture.isNull()) {
    failed_.insert(tile);
    return;
  }
  pictures_[tile] = picture;
  emit TileArrived();
}

}  // namespace orolith
