#include "preview/ModelPartScanner.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace orolith {
namespace {

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

bool StartsWith(const char* from, const char* end, std::string_view prefix) noexcept {
  return static_cast<std::size_t>(end - from) >= prefix.size() &&
         std::memcmp(from, prefix.data(), prefix.size()) == 0;
}

// Past the end of the markup that starts at from ('<'), or null when it goes on beyond end. A
// '>' inside a quoted attribute value does not end an element.
const char* MarkupEnd(const char* from, const char* end) {
  for (const auto& [open, close] :
       {std::pair<std::string_view, std::string_view>{"<!--", "-->"}, {"<![CDATA[", "]]>"}}) {
    if (StartsWith(from, end, open)) {
      const char* found = std::search(from + open.size(), end, close.begin(), close.end());
      return found == end ? nullptr : found + close.size();
    }
    // Too short yet to tell.
    if (end - from < static_cast<std::ptrdiff_t>(open.size()) &&
        StartsWith(open.data(), open.data() + open.size(), std::string_view(from, end - from))) {
      return nullptr;
    }
  }
  char quote = 0;
  for (const char* c = from + 1; c < end; ++c) {
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

}  // namespace

void ModelPartScanner::Feed(const char* data, std::size_t size, Items& items) {
  const char* at = data;
  const char* const end = data + size;
  while (at < end) {
    if (!pending_.empty()) {
      const std::size_t had = pending_.size();
      pending_.append(at, end);
      const char* close = MarkupEnd(pending_.data(), pending_.data() + pending_.size());
      if (close == nullptr) {
        if (pending_.size() > MaxElement) throw std::invalid_argument("an element is too long");
        return;
      }
      const auto length = static_cast<std::size_t>(close - pending_.data());
      Element(std::string_view(pending_.data(), length), items);
      at += length - had;
      pending_.clear();
      continue;
    }
    // Text between elements is passed over.
    const auto* open =
        static_cast<const char*>(std::memchr(at, '<', static_cast<std::size_t>(end - at)));
    if (open == nullptr) return;
    const char* close = MarkupEnd(open, end);
    if (close == nullptr) {
      pending_.assign(open, end);
      return;
    }
    Element(std::string_view(open, static_cast<std::size_t>(close - open)), items);
    at = close;
  }
}

void ModelPartScanner::Finish() const {
  if (!pending_.empty()) throw std::invalid_argument("the text ends inside an element");
}

void ModelPartScanner::Element(std::string_view element, Items& items) {
  // "<name attributes>" or "<name attributes/>"; closing tags, comments and declarations
  // carry nothing for the view.
  if (element.size() < 3 || element[1] == '/' || element[1] == '!' || element[1] == '?') return;
  std::size_t at = 1;
  while (at < element.size() && !Blank(element[at]) && element[at] != '/' && element[at] != '>') {
    ++at;
  }
  const std::string_view name = Local(element.substr(1, at - 1));
  const bool vertex = name == "vertex";
  const bool triangle = name == "triangle";
  if (name == "mesh") meshFirst_ = vertices_;
  if (!vertex && !triangle) return;

  // x, y, z or v1, v2, v3, each once.
  std::string_view values[3];
  const std::size_t last = element.size() - 1;  // the closing '>'
  for (;;) {
    while (at < last && (Blank(element[at]) || element[at] == '/')) ++at;
    if (at >= last) break;
    const std::size_t nameStart = at;
    while (at < last && element[at] != '=' && !Blank(element[at])) ++at;
    const std::string_view attribute = Local(element.substr(nameStart, at - nameStart));
    while (at < last && Blank(element[at])) ++at;
    if (at >= last || element[at] != '=') throw std::invalid_argument("an attribute has no value");
    ++at;
    while (at < last && Blank(element[at])) ++at;
    const char quote = at < last ? element[at] : '\0';
    const std::size_t closing =
        quote == '"' || quote == '\'' ? element.find(quote, at + 1) : std::string_view::npos;
    if (closing == std::string_view::npos || closing >= last) {
      throw std::invalid_argument("an attribute value is not quoted");
    }
    const std::string_view value = element.substr(at + 1, closing - at - 1);
    at = closing + 1;
    const char* const names[2][3] = {{"x", "y", "z"}, {"v1", "v2", "v3"}};
    for (int i = 0; i < 3; ++i) {
      if (attribute == names[triangle ? 1 : 0][i]) values[i] = value;
    }
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
    return;
  }
  for (const std::string_view& value : values) {
    const std::uint64_t index = Index(value);
    if (index >= vertices_ - meshFirst_) {
      throw std::invalid_argument("a triangle refers to vertex " + std::string(value) +
                                  ", which its mesh does not have");
    }
    items.Triangles.push_back(meshFirst_ + index);
  }
}

}  // namespace orolith
