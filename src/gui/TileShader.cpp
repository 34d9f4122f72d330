#include "gui/TileShader.h"

#include <exception>

namespace orolith {
namespace {

// A megabyte a tile at the finest pictures: some dozens of tiles on the screen and around it.
constexpr std::size_t CacheBytes = std::size_t{96} * 1024 * 1024;

}  // namespace

TTileShader::TTileShader(QObject* parent)
    : QObject(parent), cache_(CacheBytes), search_(std::make_shared<const Search>()) {
  qRegisterMetaType<ShadedTile>();
  // One thread: the cores are the model run's, and a tile takes some milliseconds.
  pool_.setMaxThreadCount(1);
  connect(this, &TTileShader::Delivered, this, &TTileShader::Deliver, Qt::QueuedConnection);
}

TTileShader::~TTileShader() {
  pool_.clear();
  pool_.waitForDone();
}

void TTileShader::SetSearch(const DataFolders& folders, const TileBlocks& blocked) {
  search_ = std::make_shared<const Search>(Search{folders, blocked});
}

void TTileShader::Request(const std::vector<TileRequest>& tiles) {
  pool_.clear();
  const quint64 request = ++request_;
  outstanding_ = tiles.size();
  for (const TileRequest& tile : tiles) {
    pool_.start([this, request, tile, search = search_] {
      ShadedTile shaded{tile, {}};
      try {
        shaded.Picture =
            PictureOfTile(search->Folders, search->Blocked, tile.Lon, tile.Lat, tile.Side, cache_);
      } catch (const std::exception&) {
        // Out of memory for one picture: the tile is shown as missing, the map goes on.
        shaded.Picture = {};
      }
      emit Delivered(request, shaded);
    });
  }
}

void TTileShader::Deliver(quint64 request, const ShadedTile& tile) {
  if (request == request_ && outstanding_ > 0) --outstanding_;
  emit TileShaded(tile);
}

}  // namespace orolith
