#include "gui/MapPanel.h"

#include "gui/RegionMap.h"

#include <QCheckBox>
#include <QCompleter>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStringListModel>
#include <QVBoxLayout>

#include <cmath>
#include <numbers>

namespace orolith {
namespace {

constexpr std::size_t OfferedMatches = 12;

QString Shown(const Place& place) {
  return place.Country.empty()
             ? QString::fromStdString(place.Name)
             : QStringLiteral("%1 (%2)").arg(QString::fromStdString(place.Name),
                                             QString::fromStdString(place.Country));
}

}  // namespace

TMapPanel::TMapPanel(QWidget* parent) : QWidget(parent), map_(new TRegionMap(this)) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(2, 2, 2, 2);
  layout->setSpacing(2);
  CreateSearchBar();
  layout->addWidget(map_, 1);
  connect(map_, &TRegionMap::RasterShown, this, &TMapPanel::EnableRasterButton);
}

void TMapPanel::CreateSearchBar() {
  auto* bar = new QHBoxLayout();
  search_ = new QLineEdit(this);
  search_->setPlaceholderText(QStringLiteral("Find a place or peak (Enter; Shift+Enter: box)"));
  search_->setClearButtonEnabled(true);
  matches_ = new QStringListModel(this);
  completer_ = new QCompleter(matches_, this);
  completer_->setCompletionMode(QCompleter::UnfilteredPopupCompletion);
  search_->setCompleter(completer_);
  find_ = new QPushButton(QStringLiteral("Find"), this);
  box_ = new QPushButton(QStringLiteral("Box around it"), this);
  box_->setToolTip(QStringLiteral("Find the place and make the region a 10 km square around it"));
  online_ = new QCheckBox(QStringLiteral("Online map"), this);
  online_->setToolTip(
      QStringLiteral("OpenStreetMap's tiles under the map, fetched over the "
                     "network and kept in the cache folder for a week"));
  rasterExtent_ = new QPushButton(QStringLiteral("Use the raster's extent"), this);
  rasterExtent_->setEnabled(false);
  status_ = new QLabel(this);
  bar->addWidget(search_, 1);
  bar->addWidget(find_);
  bar->addWidget(box_);
  bar->addWidget(online_);
  bar->addWidget(rasterExtent_);
  static_cast<QVBoxLayout*>(layout())->addLayout(bar);
  static_cast<QVBoxLayout*>(layout())->addWidget(status_);

  search_->installEventFilter(this);
  connect(search_, &QLineEdit::textEdited, this, &TMapPanel::OfferMatches);
  connect(search_, &QLineEdit::returnPressed, this, [this] { FindPlace(); });
  connect(completer_, qOverload<const QModelIndex&>(&QCompleter::activated), this,
          [this](const QModelIndex& index) {
            const auto row = static_cast<std::size_t>(index.row());
            if (row < offered_.size())
              search_->setText(QString::fromStdString(offered_[row]->Name));
            FindPlace();
          });
  connect(find_, &QPushButton::clicked, this, [this] { FindPlace(); });
  connect(box_, &QPushButton::clicked, this, [this] { BoxPlace(); });
  connect(online_, &QCheckBox::toggled, map_, &TRegionMap::SetOnlineMap);
  connect(rasterExtent_, &QPushButton::clicked, this, &TMapPanel::UseRasterExtent);
}

void TMapPanel::OfferMatches(const QString& text) {
  offered_ = Places::Builtin().Find(text.toStdString(), OfferedMatches);
  QStringList shown;
  for (const Place* place : offered_) shown << Shown(*place);
  matches_->setStringList(shown);
}

bool TMapPanel::FindPlace() {
  const std::vector<const Place*> found = Places::Builtin().Find(search_->text().toStdString(), 1);
  if (found.empty()) {
    status_->setText(
        QStringLiteral("No place found whose name begins with \"%1\"").arg(search_->text()));
    return false;
  }
  found_ = *found.front();
  map_->CentreOn({found_->Lon, found_->Lat}, QString::fromStdString(found_->Name));
  status_->setText(QStringLiteral("%1: %2 %3  %4 %5")
                       .arg(Shown(*found_))
                       .arg(std::abs(found_->Lat), 0, 'f', 4)
                       .arg(QChar(found_->Lat < 0 ? 'S' : 'N'))
                       .arg(std::abs(found_->Lon), 0, 'f', 4)
                       .arg(QChar(found_->Lon < 0 ? 'W' : 'E')));
  return true;
}

bool TMapPanel::BoxPlace() {
  if (!FindPlace()) return false;
  // A square on the ground, as the model will have it.
  const double halfLat = BoxKilometres / 2 / 100.0;
  const double halfLon = halfLat / std::max(std::cos(found_->Lat * std::numbers::pi / 180), 0.05);
  map_->RequestRegion({AsField(found_->Lon - halfLon, fields::Longitude),
                       AsField(found_->Lon + halfLon, fields::Longitude),
                       AsField(found_->Lat - halfLat, fields::Latitude),
                       AsField(found_->Lat + halfLat, fields::Latitude)});
  return true;
}

void TMapPanel::UseRasterExtent() {
  const std::optional<GeoBox>& extent = map_->Raster().Extent;
  if (!extent) return;
  map_->RequestRegion(
      {AsField(extent->West, fields::Longitude), AsField(extent->East, fields::Longitude),
       AsField(extent->South, fields::Latitude), AsField(extent->North, fields::Latitude)});
  map_->FitToRegion();
}

void TMapPanel::EnableRasterButton() {
  rasterExtent_->setEnabled(map_->Raster().Extent.has_value());
}

bool TMapPanel::eventFilter(QObject* watched, QEvent* event) {
  if (watched == search_ && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
        (key->modifiers() & Qt::ShiftModifier) != 0) {
      BoxPlace();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace orolith
