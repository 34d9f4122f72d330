#pragma once

#include "preview/Places.h"

#include <QWidget>

#include <optional>
#include <string>
#include <vector>

class QCheckBox;
class QCompleter;
class QLabel;
class QLineEdit;
class QPushButton;
class QStringListModel;

namespace orolith {

class TRegionMap;

// The map with its controls above it: a place search, the online base map's check box and
// the button that takes the region from the user's raster.
class TMapPanel : public QWidget {
  Q_OBJECT

 public:
  // The side of the box drawn around a found place, in kilometres.
  static constexpr double BoxKilometres = 10;

  explicit TMapPanel(QWidget* parent = nullptr);

  TRegionMap* Map() const { return map_; }
  QLineEdit* SearchField() const { return search_; }
  QPushButton* FindButton() const { return find_; }
  QPushButton* BoxButton() const { return box_; }
  QCheckBox* OnlineBox() const { return online_; }
  QPushButton* RasterButton() const { return rasterExtent_; }
  // The place last found, if any.
  const std::optional<Place>& Found() const { return found_; }

  // Centres the map on the best match of the search field's text; true when one was found.
  bool FindPlace();
  // Finds the place and puts a box of BoxKilometres around it into the region.
  bool BoxPlace();
  // Puts the user's raster's extent into the region.
  void UseRasterExtent();

 protected:
  // Shift+Enter in the search field boxes the place.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CreateSearchBar();
  void OfferMatches(const QString& text);
  void EnableRasterButton();

  TRegionMap* map_;
  QLineEdit* search_ = nullptr;
  QCompleter* completer_ = nullptr;
  QStringListModel* matches_ = nullptr;
  std::vector<const Place*> offered_;
  QPushButton* find_ = nullptr;
  QPushButton* box_ = nullptr;
  QCheckBox* online_ = nullptr;
  QPushButton* rasterExtent_ = nullptr;
  QLabel* status_ = nullptr;
  std::optional<Place> found_;
};

}  // namespace orolith
