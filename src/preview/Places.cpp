#include "preview/Places.h"

#include "base/NumberText.h"
#include "preview/PackedData.h"

#include <algorithm>
#include <array>
#include <stdexcept>
#include <utility>

namespace orolith {
namespace {

constexpr double DegreesPerStep = 1e-4;

// Base letters of U+00C0 .. U+017F; '?' marks a letter of two ("ae", "ss", "th", "ij", "oe"),
// '*' a sign kept as it is (the multiplication and division signs).
constexpr std::string_view Latin1Letters =
    "aaaaaa?ceeeeiiiidnooooo*ouuuuy??aaaaaa?ceeeeiiiidnooooo*ouuuuy?y";
constexpr std::string_view ExtendedALetters =
    "aaaaaaccccccccddddeeeeeeeeeegggggggghhhhiiiiiiiiii??jjkkklllllllllln"
    "nnnnnnnnoooooo??rrrrrrsssssssstttttttuuuuuuuuuuuuwwyyyzzzzzzs";

std::string_view PairFor(char32_t c) {
  switch (c) {
    case 0xC6:
    case 0xE6:
      return "ae";
    case 0xDF:
      return "ss";
    case 0xDE:
    case 0xFE:
      return "th";
    case 0x132:
    case 0x133:
      return "ij";
    default:
      return "oe";
  }
}

// Stands for a byte that begins no two-byte sequence: no letter, kept as it is.
constexpr char32_t OtherByte = 0x110000;

// The code point at text[at] and its length in bytes.
std::pair<char32_t, std::size_t> DecodeAt(std::string_view text, std::size_t at) {
  const auto byte = static_cast<unsigned char>(text[at]);
  if (byte >= 0xC2 && byte < 0xE0 && at + 1 < text.size()) {
    const auto next = static_cast<unsigned char>(text[at + 1]);
    if ((next & 0xC0) == 0x80)
      return {static_cast<char32_t>((byte & 0x1F) << 6 | (next & 0x3F)), 2};
  }
  return {byte < 0x80 ? char32_t{byte} : OtherByte, 1};
}

bool IsWordStart(std::string_view form, std::size_t at) {
  if (at == 0) return true;
  const char before = form[at - 1];
  return before == ' ' || before == '-' || before == '\'' || before == '(' || before == '.' ||
         before == '/';
}

}  // namespace

std::string SearchForm(std::string_view name) {
  std::string form;
  form.reserve(name.size());
  for (std::size_t at = 0; at < name.size();) {
    const auto [c, length] = DecodeAt(name, at);
    char letter = 0;
    if (c >= 0xC0 && c < 0x100) letter = Latin1Letters[c - 0xC0];
    if (c >= 0x100 && c < 0x180) letter = ExtendedALetters[c - 0x100];
    if (letter == '?') {
      form += PairFor(c);
    } else if (letter != 0 && letter != '*') {
      form += letter;
    } else if (c < 0x80) {
      form += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    } else {
      form.append(name.substr(at, length));
    }
    at += length;
  }
  return form;
}

Places::Places(std::span<const unsigned char> file) {
  const std::vector<unsigned char> payload = UnpackMapFile(file, "OROPLC1\n", "map places");
  PayloadReader in(payload, "map places");
  const std::uint64_t count = in.Varint();
  places_.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(count, payload.size())));
  for (std::uint64_t i = 0; i < count; ++i) {
    Place place;
    place.Name = in.Text();
    place.Country = in.Text();
    place.Kind = in.Varint() == 1 ? PlaceKind::Peak : PlaceKind::Populated;
    place.Number = static_cast<std::uint32_t>(std::min<std::uint64_t>(in.Varint(), UINT32_MAX));
    place.Lon = static_cast<double>(in.Zigzag()) * DegreesPerStep;
    place.Lat = static_cast<double>(in.Zigzag()) * DegreesPerStep;
    places_.push_back(std::move(place));
  }
  if (!in.AtEnd()) throw std::runtime_error("map places: bytes after the last place");
  Index();
}

Places::Places(std::vector<Place> places) : places_(std::move(places)) {
  Index();
}

const Places& Places::Builtin() {
  static const Places places(BuiltinPlaces());
  return places;
}

void Places::Index() {
  std::stable_sort(places_.begin(), places_.end(),
                   [](const Place& a, const Place& b) { return a.Importance() > b.Importance(); });
  forms_.clear();
  forms_.reserve(places_.size());
  for (const Place& place : places_) forms_.push_back(SearchForm(place.Name));
}

std::vector<const Place*> Places::Find(std::string_view query, std::size_t limit) const {
  const std::string wanted = SearchForm(query);
  std::vector<const Place*> found;
  if (wanted.find_first_not_of(' ') == std::string::npos) return found;
  // The three ranks, each in the places' order of importance.
  std::array<std::vector<const Place*>, 3> ranks;
  for (std::size_t i = 0; i < places_.size(); ++i) {
    const std::string& form = forms_[i];
    if (form == wanted) {
      ranks[0].push_back(&places_[i]);
    } else if (form.starts_with(wanted)) {
      ranks[1].push_back(&places_[i]);
    } else {
      for (std::size_t at = form.find(wanted); at != std::string::npos;
           at = form.find(wanted, at + 1)) {
        if (IsWordStart(form, at)) {
          ranks[2].push_back(&places_[i]);
          break;
        }
      }
    }
  }
  for (const auto& rank : ranks) {
    for (const Place* place : rank) {
      if (found.size() == limit) return found;
      found.push_back(place);
    }
  }
  return found;
}

std::string PlaceLine(const Place& place, char decimalSeparator) {
  const std::string what =
      place.Kind == PlaceKind::Peak
          ? FormatText(decimalSeparator, "peak %d m", {std::int64_t{place.Number}})
          : FormatText(decimalSeparator, "population %d", {std::int64_t{place.Number}});
  return FormatText(decimalSeparator, "%s\t%s\t%.4f\t%.4f\t%s",
                    {place.Name, place.Country.empty() ? std::string("-") : place.Country,
                     place.Lat, place.Lon, what});
}

}  // namespace orolith
