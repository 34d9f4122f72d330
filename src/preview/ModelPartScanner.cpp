#include "preview/ModelPartScanner.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string_view>

namespace orolith {
namespace {

using namespace std::string_view_literals;

// Far beyond a vertex or a triangle; a comment or an element this long is no mesh data.
constexpr std::size_t MaxElement = 1 << 16;

bool Blank(char c) noexcept {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The name without its namespace prefix.
std::string_view Local(std::string_view name) noexcept {
  const std::size_t colon = name.rfind(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

// Past the '>' that ends the markup whose name or content starts at from, or null when it goes
// on beyond end. A '>' inside a quoted value does not end it.
const char* QuotedEnd(const char* from, const char* end) noexcept {
  char quote = 0;
  for (const char* c = from; c < end; ++c) {
    if (quote != 0) {
      if (*c == quote) quote = 0;
    } else if (*c == '"' || *c == '\'') {
      quote = *c;
    } else if (*c == '>') {
      return c + 1;
    }
  }
  return nullptr;
}

// Past a comment or a CDATA section starting at from ("<!"), past another declaration, or null
// when it goes on beyond end (or is too short yet to tell).
const char* DeclarationEnd(const char* from, const char* end) {
  const auto size = static_cast<std::size_t>(end - from);
  for (const auto& [open, close] :
       {std::pair{"<!--"sv, "-->"sv}, std::pair{"<![CDATA["sv, "]]>"sv}}) {
    if (size < open.size() && open.starts_with(std::string_view(from, size))) return nullptr;
    if (std::string_view(from, size).starts_with(open)) {
      const char* found = std::search(from + open.size(), end, close.begin(), close.end());
      return found == end ? nullptr : found + close.size();
    }
  }
  return QuotedEnd(from + 2, end);
}

float Coordinate(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  float value = 0;
  const auto [stop, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || stop != text.data() + text.size() || !std::isfinite(value)) {
    throw std::invalid_argument("a vertex coordinate '" + std::string(text) +
                                "' is not a finite number");
  }
  return value;
}

std::uint64_t Index(std::string_view text) {
  std::uint64_t value = 0;
  const auto [stop, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || stop != text.data() + text.size()) {
    throw std::invalid_argument("a triangle's vertex index '" + std::string(text) +
                                "' is not a whole number");
  }
  return value;
}

// Which of x, y, z (a vertex's) or v1, v2, v3 (a triangle's) the attribute is: 0 .. 2, or -1.
int Slot(std::string_view attribute, bool triangle) noexcept {
  attribute = Local(attribute);
  if (triangle) {
    return attribute.size() == 2 && attribute[0] == 'v' && attribute[1] >= '1' &&
                   attribute[1] <= '3'
               ? attribute[1] - '1'
               : -1;
  }
  return attribute.size() == 1 && attribute[0] >= 'x' && attribute[0] <= 'z' ? attribute[0] - 'x'
                                                                             : -1;
}

}  // namespace

void ModelPartScanner::Feed(const char* data, std::size_t size, Items& items) {
  const char* at = data;
  const char* const end = data + size;
  while (at < end) {
    if (!pending_.empty()) {
      const std::size_t had = pending_.size();
      pending_.append(at, end);
      const char* close = Markup(pending_.data(), pending_.data() + pending_.size(), items);
      if (close == nullptr) {
        if (pending_.size() > MaxElement) throw std::invalid_argument("an element is too long");
        return;
      }
      at += static_cast<std::size_t>(close - pending_.data()) - had;
      pending_.clear();
      continue;
    }
    // Text between elements is passed over.
    const auto* open =
        static_cast<const char*>(std::memchr(at, '<', static_cast<std::size_t>(end - at)));
    if (open == nullptr) return;
    const char* close = Markup(open, end, items);
    if (close == nullptr) {
      pending_.assign(open, end);
      return;
    }
    at = close;
  }
}

void ModelPartScanner::Finish() const {
  if (!pending_.empty()) throw std::invalid_argument("the text ends inside an element");
}

// One pass over the element: its name, then its attributes, each value found by its closing
// quote; the vertex or triangle is taken only once its '>' is there.
const char* ModelPartScanner::Markup(const char* from, const char* end, Items& items) {
  if (end - from < 2) return nullptr;
  if (from[1] == '!') return DeclarationEnd(from, end);
  if (from[1] == '?' || from[1] == '/') return QuotedEnd(from + 1, end);
  const char* at = from + 1;
  while (at < end && !Blank(*at) && *at != '/' && *at != '>') ++at;
  if (at == end) return nullptr;
  const std::string_view name =
      Local(std::string_view(from + 1, static_cast<std::size_t>(at - from - 1)));
  const bool vertex = name == "vertex"sv;
  const bool triangle = name == "triangle"sv;
  if (triangle && !readTriangles_) {
    // Numbers alone: no '>' inside its values.
    const auto* close =
        static_cast<const char*>(std::memchr(at, '>', static_cast<std::size_t>(end - at)));
    if (close == nullptr) return nullptr;
    ++items.TrianglesSkipped;
    return close + 1;
  }
  if (!vertex && !triangle) {
    const char* close = QuotedEnd(at, end);
    if (close != nullptr && name == "mesh"sv) meshFirst_ = vertices_;
    return close;
  }
  std::string_view values[3];
  for (;;) {
    while (at < end && (Blank(*at) || *at == '/')) ++at;
    if (at == end) return nullptr;
    if (*at == '>') break;
    const char* attribute = at;
    while (at < end && *at != '=' && *at != '>' && !Blank(*at)) ++at;
    const std::string_view attributeName(attribute, static_cast<std::size_t>(at - attribute));
    while (at < end && Blank(*at)) ++at;
    if (at == end) return nullptr;
    if (*at != '=') throw std::invalid_argument("an attribute has no value");
    ++at;
    while (at < end && Blank(*at)) ++at;
    if (at == end) return nullptr;
    const char quote = *at;
    if (quote != '"' && quote != '\'')
      throw std::invalid_argument("an attribute value is not quoted");
    const auto* closing = static_cast<const char*>(
        std::memchr(at + 1, quote, static_cast<std::size_t>(end - at - 1)));
    if (closing == nullptr) return nullptr;
    if (const int slot = Slot(attributeName, triangle); slot >= 0) {
      values[slot] = std::string_view(at + 1, static_cast<std::size_t>(closing - at - 1));
    }
    at = closing + 1;
  }
  for (const std::string_view& value : values) {
    if (value.data() == nullptr) {
      throw std::invalid_argument(vertex ? "a vertex lacks a coordinate"
                                         : "a triangle lacks a vertex index");
    }
  }
  if (vertex) {
    for (const std::string_view& value : values) items.Vertices.push_back(Coordinate(value));
    ++vertices_;
  } else {
    for (const std::string_view& value : values) {
      const std::uint64_t index = Index(value);
      if (index >= vertices_ - meshFirst_) {
        throw std::invalid_argument("a triangle refers to vertex " + std::string(value) +
                                    ", which its mesh does not have");
      }
      items.Triangles.push_back(meshFirst_ + index);
    }
  }
  return at + 1;
}

}  // namespace orolith
