#pragma once

#include "preview/MapGeometry.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orolith {

enum class PlaceKind : std::uint8_t { Populated, Peak };

struct Place {
  std::string Name;     // UTF-8
  std::string Country;  // ISO 3166 code; empty when unknown
  PlaceKind Kind = PlaceKind::Populated;
  std::uint32_t Number = 0;  // people of a populated place, metres of a peak
  double Lon = 0;
  double Lat = 0;

  // What ranks places of the same match: people, and a peak as 100 people a metre of height.
  std::uint64_t Importance() const noexcept {
    return Kind == PlaceKind::Peak ? std::uint64_t{Number} * 100 : Number;
  }
};

// name in the form searches compare: lower case, accents and ligatures dropped (Latin-1 and
// Latin Extended-A: "Zürich" and "ZURICH" give "zurich", "Straße" gives "strasse"); other
// characters as they are.
std::string SearchForm(std::string_view name);

// The places the map names and the search finds, most important first.
class Places {
 public:
  // Reads a packed places file; throws std::runtime_error when it is damaged.
  explicit Places(std::span<const unsigned char> file);
  explicit Places(std::vector<Place> places);
  // The places built into the program, read on first use.
  static const Places& Builtin();

  // Up to limit places whose name, or a word of it, begins with query (compared in their
  // SearchForm): a name equal to the query first, then names that begin with it, then names
  // with a word that does; within each, the more important first.
  std::vector<const Place*> Find(std::string_view query, std::size_t limit) const;

  // Calls visit(const Place&) for the places in box, most important first, until it returns
  // false.
  template <typename Visit>
  void ForEachIn(const GeoBox& box, Visit&& visit) const {
    for (const Place& place : places_) {
      if (place.Lon >= box.West && place.Lon <= box.East && place.Lat >= box.South &&
          place.Lat <= box.North && !visit(place)) {
        return;
      }
    }
  }

  std::size_t Size() const noexcept { return places_.size(); }

 private:
  void Index();

  std::vector<Place> places_;
  std::vector<std::string> forms_;  // SearchForm of each name
};

// One line of orolith-cli find-place: name, country, latitude, longitude and "population N" or
// "peak N m", separated by tabs, degrees with four decimals and the given separator.
std::string PlaceLine(const Place& place, char decimalSeparator);

}  // namespace orolith
