#pragma once

#include "preview/WebTiles.h"

#include <QImage>
#include <QObject>
#include <QThreadPool>

#include <atomic>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace orolith {

class MapTileCache;

// The online base map's tiles, fetched one at a time on a thread of their own through the disk
// cache (MapTileCache) and kept decoded while in view. Off until a source is set.
class TOnlineTiles : public QObject {
  Q_OBJECT

 public:
  explicit TOnlineTiles(QObject* parent = nullptr);
  // Drops the queued tiles and waits for the one being fetched.
  ~TOnlineTiles() override;

  // Tiles come from baseUrl + "Z/X/Y.png", kept under folder.
  void SetSource(const std::string& baseUrl, const std::filesystem::path& folder);
  // Replaces whatever still waits with these tiles, fetched in this order; tiles not among them
  // are forgotten once many are kept.
  void Request(const std::vector<WebTile>& tiles);
  // The tile's picture, or a null image while it has not come (or could not).
  QImage Picture(const WebTile& tile) const;
  // Tiles whose fetch failed this session (each is tried once).
  std::size_t Failures() const noexcept { return failed_.size(); }

 signals:
  void TileArrived();
  // From the worker thread to this object's own.
  void Delivered(int zoom, int x, int y, const QImage& picture);

 private:
  void Deliver(int zoom, int x, int y, const QImage& picture);

  QThreadPool pool_;
  // Set when this object goes: the fetch under way ends at once rather than run its course.
  std::shared_ptr<std::atomic<bool>> closing_ = std::make_shared<std::atomic<bool>>(false);
  std::shared_ptr<MapTileCache> cache_;
  std::map<WebTile, QImage> pictures_;
  std::set<WebTile> failed_;
  std::set<WebTile> pending_;
};

}  // namespace orolith
