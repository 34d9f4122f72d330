#pragma once

#include "preview/ShadeCache.h"
#include "preview/TileShade.h"
#include "tiles/TileSource.h"

#include <QMetaType>
#include <QObject>
#include <QThreadPool>

#include <cstdint>
#include <memory>
#include <vector>

namespace orolith {

struct TileRequest {
  std::int32_t Lon = 0;
  std::int32_t Lat = 0;
  int Side = 0;
};

struct ShadedTile {
  TileRequest Tile;
  TilePicture Picture;
};

// Shades the map's tiles on a thread of its own, never on the window's: each request is one
// tile search, and a hillshade read from the file unless the cache holds the file's picture.
// Results come back to the window's thread by queued signal.
class TTileShader : public QObject {
  Q_OBJECT

 public:
  explicit TTileShader(QObject* parent = nullptr);
  // Drops the queued tiles and waits for the one being shaded.
  ~TTileShader() override;

  // Where tiles are searched, as the model run searches them; later requests use it.
  void SetSearch(const DataFolders& folders, const TileBlocks& blocked);
  // Replaces whatever still waits with these tiles, shaded in this order.
  void Request(const std::vector<TileRequest>& tiles);
  // True while tiles of the last request are still to come.
  bool Busy() const { return outstanding_ > 0; }

 signals:
  void TileShaded(const orolith::ShadedTile& tile);
  // From the worker thread to this object's own, with the request it answers.
  void Delivered(quint64 request, const orolith::ShadedTile& tile);

 private:
  struct Search {
    DataFolders Folders;
    TileBlocks Blocked;
  };
  void Deliver(quint64 request, const ShadedTile& tile);

  QThreadPool pool_;
  ShadeCache cache_;
  std::shared_ptr<const Search> search_;
  quint64 request_ = 0;
  std::size_t outstanding_ = 0;
};

}  // namespace orolith

Q_DECLARE_METATYPE(orolith::ShadedTile)
