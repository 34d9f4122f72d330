#pragma once

// The tests' reader of 3MF packages: a zip archive walked from its end records through the
// central directory to every local header, each part inflated with zlib and held to its CRC
// and sizes, and the model part's XML parsed just far enough to check its structure. Written
// apart from the program's writer, to the zip format's own layout, so that each checks the
// other. Every fault throws std::runtime_error saying what is wrong.

#include "model/mesh/STLVectors.h"

#include <zlib.h>

#include <array>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

namespace orolith::test {

struct ZipPart {
  std::string name;
  std::uint16_t versionNeeded = 0;
  std::uint16_t flags = 0;
  std::uint16_t method = 0;
  std::uint16_t dosTime = 0;
  std::uint16_t dosDate = 0;
  std::uint32_t crc = 0;
  std::uint64_t compressed = 0;
  std::uint64_t size = 0;
  std::uint64_t offset = 0;
  bool centralZip64 = false;        // the central record's sizes or offset are in a ZIP64 field
  bool localZip64 = false;          // the local header holds a ZIP64 field
  bool descriptor = false;          // the sizes follow the data in a data descriptor
  std::vector<unsigned char> data;  // as stored
  std::string content;              // inflated
};

struct ZipArchive {
  std::vector<ZipPart> parts;
  bool zip64End = false;  // a ZIP64 end record and locator precede the end record
};

class ZipBytes {
 public:
  explicit ZipBytes(const std::vector<unsigned char>& bytes) : bytes_(bytes) {}
  std::uint64_t Le(std::uint64_t at, int size) const {
    if (at + static_cast<std::uint64_t>(size) > bytes_.size()) Fail("read past the end", at);
    std::uint64_t v = 0;
    for (int i = size - 1; i >= 0; --i) v = v << 8 | bytes_[at + static_cast<std::uint64_t>(i)];
    return v;
  }
  std::uint16_t U16(std::uint64_t at) const { return static_cast<std::uint16_t>(Le(at, 2)); }
  std::uint32_t U32(std::uint64_t at) const { return static_cast<std::uint32_t>(Le(at, 4)); }
  std::uint64_t U64(std::uint64_t at) const { return Le(at, 8); }
  std::string Text(std::uint64_t at, std::uint64_t size) const {
    if (at + size > bytes_.size()) Fail("text past the end", at);
    return {bytes_.begin() + static_cast<long>(at), bytes_.begin() + static_cast<long>(at + size)};
  }
  std::uint64_t Size() const { return bytes_.size(); }
  const unsigned char* At(std::uint64_t at) const { return bytes_.data() + at; }
  [[noreturn]] static void Fail(const std::string& what, std::uint64_t at) {
    throw std::runtime_error("zip: " + what + " at byte " + std::to_string(at));
  }

 private:
  const std::vector<unsigned char>& bytes_;
};

inline std::string Inflate(const ZipBytes& zip, std::uint64_t at, std::uint64_t size,
                           std::uint64_t expected) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) throw std::runtime_error("inflateInit2 failed");
  std::string out(expected, '\0');
  z.next_in = const_cast<Bytef*>(zip.At(at));
  z.avail_in = static_cast<uInt>(size);
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(expected);
  const int result = inflate(&z, Z_FINISH);
  const bool whole = result == Z_STREAM_END && z.avail_in == 0 && z.total_out == expected;
  inflateEnd(&z);
  if (!whole) ZipBytes::Fail("deflate data that doesn't end as recorded", at);
  return out;
}

// The ZIP64 field among a header's extra fields, as (id, data offset, size) pairs.
inline std::map<std::uint16_t, std::pair<std::uint64_t, std::uint16_t>> ExtraFields(
    const ZipBytes& zip, std::uint64_t at, std::uint16_t size) {
  std::map<std::uint16_t, std::pair<std::uint64_t, std::uint16_t>> fields;
  for (std::uint64_t p = at; p < at + size;) {
    const std::uint16_t id = zip.U16(p);
    const std::uint16_t length = zip.U16(p + 2);
    if (p + 4 + length > at + size) ZipBytes::Fail("extra field past its header", p);
    if (!fields.emplace(id, std::pair{p + 4, length}).second) ZipBytes::Fail("extra twice", p);
    p += 4 + length;
  }
  return fields;
}

inline ZipArchive ReadZip(const std::vector<unsigned char>& bytes) {
  const ZipBytes zip(bytes);
  ZipArchive archive;
  if (bytes.size() < 22) ZipBytes::Fail("too short", 0);
  const std::uint64_t end = bytes.size() - 22;  // the writer leaves no comment
  if (zip.U32(end) != 0x06054b50) ZipBytes::Fail("no end record", end);
  if (zip.U16(end + 4) != 0 || zip.U16(end + 6) != 0 || zip.U16(end + 20) != 0) {
    ZipBytes::Fail("end record of a split archive or with a comment", end);
  }
  std::uint64_t count = zip.U16(end + 10);
  if (zip.U16(end + 8) != count) ZipBytes::Fail("end record counts differ", end);
  std::uint64_t directorySize = zip.U32(end + 12);
  std::uint64_t directory = zip.U32(end + 16);
  std::uint64_t directoryEnd = end;
  if (end >= 20 && zip.U32(end - 20) == 0x07064b50) {
    archive.zip64End = true;
    const std::uint64_t locator = end - 20;
    const std::uint64_t record = zip.U64(locator + 8);
    if (zip.U32(locator + 4) != 0 || zip.U32(locator + 16) != 1) {
      ZipBytes::Fail("ZIP64 locator of a split archive", locator);
    }
    if (record + 56 != locator || zip.U32(record) != 0x06064b50 || zip.U64(record + 4) != 44) {
      ZipBytes::Fail("no ZIP64 end record where the locator points", record);
    }
    if (zip.U16(record + 14) != 45) ZipBytes::Fail("ZIP64 end record needs 4.5", record);
    count = zip.U64(record + 24);
    if (zip.U64(record + 32) != count) ZipBytes::Fail("ZIP64 end record counts differ", record);
    const std::uint64_t size64 = zip.U64(record + 40);
    const std::uint64_t directory64 = zip.U64(record + 48);
    if ((directorySize != 0xFFFFFFFF && directorySize != size64) ||
        (directory != 0xFFFFFFFF && directory != directory64)) {
      ZipBytes::Fail("end records disagree", end);
    }
    directorySize = size64;
    directory = directory64;
    directoryEnd = record;
  } else if (directorySize == 0xFFFFFFFF || directory == 0xFFFFFFFF) {
    ZipBytes::Fail("a ZIP64 mark without a ZIP64 end record", end);
  }
  if (directory + directorySize != directoryEnd) ZipBytes::Fail("directory size", directory);

  std::uint64_t at = directory;
  std::uint64_t nextLocal = 0;  // parts follow one another with nothing between
  for (std::uint64_t i = 0; i < count; ++i) {
    const std::uint64_t central = at;
    if (zip.U32(central) != 0x02014b50) ZipBytes::Fail("no central header", central);
    ZipPart part;
    part.versionNeeded = zip.U16(at + 6);
    part.flags = zip.U16(at + 8);
    part.method = zip.U16(at + 10);
    part.dosTime = zip.U16(at + 12);
    part.dosDate = zip.U16(at + 14);
    part.crc = zip.U32(at + 16);
    part.compressed = zip.U32(at + 20);
    part.size = zip.U32(at + 24);
    const std::uint16_t nameLength = zip.U16(at + 28);
    const std::uint16_t extraLength = zip.U16(at + 30);
    if (zip.U16(at + 32) != 0 || zip.U16(at + 34) != 0) ZipBytes::Fail("comment or disk", at);
    part.offset = zip.U32(at + 42);
    part.name = zip.Text(at + 46, nameLength);
    const auto extras = ExtraFields(zip, at + 46 + nameLength, extraLength);
    if (const auto z64 = extras.find(0x0001); z64 != extras.end()) {
      part.centralZip64 = true;
      std::uint64_t p = z64->second.first;
      for (std::uint64_t* field : {&part.size, &part.compressed, &part.offset}) {
        if (*field == 0xFFFFFFFF) {
          *field = zip.U64(p);
          p += 8;
        }
      }
      if (p != z64->second.first + z64->second.second) ZipBytes::Fail("ZIP64 field size", at);
    }
    if (part.size == 0xFFFFFFFF || part.compressed == 0xFFFFFFFF || part.offset == 0xFFFFFFFF) {
      ZipBytes::Fail("a ZIP64 mark without its field", at);
    }
    if (part.centralZip64 && part.versionNeeded < 45) ZipBytes::Fail("ZIP64 needs 4.5", at);
    if (part.method != 0 && part.method != 8)
      ZipBytes::Fail("method neither stored nor deflate", at);
    if ((part.flags & ~0x0008) != 0) ZipBytes::Fail("unexpected flags", at);
    part.descriptor = (part.flags & 0x0008) != 0;
    at += 46 + nameLength + extraLength;

    // The local header.
    const std::uint64_t local = part.offset;
    if (local != nextLocal) ZipBytes::Fail("gap or overlap before a part", local);
    if (zip.U32(local) != 0x04034b50) ZipBytes::Fail("no local header", local);
    if (zip.U16(local + 6) != part.flags || zip.U16(local + 8) != part.method ||
        zip.U16(local + 10) != zip.U16(central + 12) ||
        zip.U16(local + 12) != zip.U16(central + 14)) {
      ZipBytes::Fail("local header disagrees with the central one", local);
    }
    const std::uint16_t localName = zip.U16(local + 26);
    const std::uint16_t localExtra = zip.U16(local + 28);
    if (zip.Text(local + 30, localName) != part.name) ZipBytes::Fail("local name", local);
    const auto localExtras = ExtraFields(zip, local + 30 + localName, localExtra);
    std::uint64_t localCompressed = zip.U32(local + 18);
    std::uint64_t localSize = zip.U32(local + 22);
    for (const auto& [id, field] : localExtras) {
      if (id == 0x0001) {
        part.localZip64 = true;
        if (field.second != 16 || localSize != 0xFFFFFFFF || localCompressed != 0xFFFFFFFF) {
          ZipBytes::Fail("local ZIP64 field without both sizes", local);
        }
        if (zip.U16(local + 4) < 45) ZipBytes::Fail("local ZIP64 needs 4.5", local);
        localSize = zip.U64(field.first);
        localCompressed = zip.U64(field.first + 8);
      } else if (id == 0x9999) {
        for (std::uint64_t b = 0; b < field.second; ++b) {
          if (*zip.At(field.first + b) != 0) ZipBytes::Fail("padding not zero", local);
        }
      } else {
        ZipBytes::Fail("unknown extra field " + std::to_string(id), local);
      }
    }
    if (part.descriptor) {
      if (zip.U32(local + 14) != 0 || localCompressed != 0 || localSize != 0) {
        ZipBytes::Fail("sizes in the header of a part with a descriptor", local);
      }
    } else if (zip.U32(local + 14) != part.crc || localCompressed != part.compressed ||
               localSize != part.size) {
      ZipBytes::Fail("local CRC or sizes disagree with the central ones", local);
    }
    const std::uint64_t data = local + 30 + localName + localExtra;
    nextLocal = data + part.compressed;
    if (nextLocal > bytes.size()) ZipBytes::Fail("data past the end", data);
    part.data.assign(zip.At(data), zip.At(data) + part.compressed);
    part.content = part.method == 0 ? zip.Text(data, part.compressed)
                                    : Inflate(zip, data, part.compressed, part.size);
    if (part.content.size() != part.size) ZipBytes::Fail("size", data);
    const auto crc = static_cast<std::uint32_t>(
        crc32_z(0, reinterpret_cast<const Bytef*>(part.content.data()), part.content.size()));
    if (crc != part.crc) ZipBytes::Fail("CRC of " + part.name, data);
    if (part.descriptor) {
      const std::uint64_t d = nextLocal;
      if (zip.U32(d) != 0x08074b50 || zip.U32(d + 4) != part.crc) {
        ZipBytes::Fail("no data descriptor with the CRC", d);
      }
      // 8 bytes wide after a local header with a ZIP64 field, as a reader of the stream knows.
      const int width = part.localZip64 ? 8 : 4;
      if (zip.Le(d + 8, width) != part.compressed || zip.Le(d + 8 + width, width) != part.size) {
        ZipBytes::Fail("descriptor sizes", d);
      }
      nextLocal = d + 8 + 2 * static_cast<std::uint64_t>(width);
    }
    archive.parts.push_back(std::move(part));
  }
  if (at != directoryEnd || nextLocal != directory) ZipBytes::Fail("stray bytes", at);
  return archive;
}

// The model part as far as the tests look at it.
struct ModelPart {
  std::map<std::string, std::string> modelAttributes;
  std::map<std::string, std::string> metadata;  // name, text
  std::map<std::string, std::string> object;    // its attributes
  std::vector<std::map<std::string, std::string>> items;
  std::vector<Vec3> vertices;
  std::vector<std::string> vertexTexts;  // x, y, z one after the other, as written
  std::vector<std::array<std::uint32_t, 3>> triangles;
};

// Parses the model's XML: a tree of start, end and empty elements with attributes in double
// quotes, text only inside metadata; the only nesting allowed is the core model's.
inline ModelPart ParseModel(const std::string& xml) {
  const auto fail = [](const std::string& what, std::size_t at) {
    throw std::runtime_error("model XML: " + what + " at " + std::to_string(at));
  };
  static const std::map<std::string, std::string> parents = {
      {"model", ""},           {"metadata", "model"}, {"resources", "model"},
      {"object", "resources"}, {"mesh", "object"},    {"vertices", "mesh"},
      {"vertex", "vertices"},  {"triangles", "mesh"}, {"triangle", "triangles"},
      {"build", "model"},      {"item", "build"}};
  ModelPart model;
  std::vector<std::string> open;
  std::string text;
  std::size_t at = 0;
  const std::string declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
  if (xml.compare(0, declaration.size(), declaration) != 0) fail("no XML declaration", 0);
  at = declaration.size();
  bool rootSeen = false;
  for (;;) {
    const std::size_t lt = xml.find('<', at);
    text.append(xml, at, lt == std::string::npos ? std::string::npos : lt - at);
    if (lt == std::string::npos) break;
    const std::size_t gt = xml.find('>', lt);
    if (gt == std::string::npos) fail("unclosed tag", lt);
    at = gt + 1;
    std::string_view tag(xml.data() + lt + 1, gt - lt - 1);
    if (text.find_first_not_of(" \n") != std::string::npos) fail("text outside metadata", lt);
    text.clear();
    if (tag.starts_with('/')) {
      const std::string name(tag.substr(1));
      if (open.empty() || open.back() != name) fail("end tag " + name + " out of place", lt);
      open.pop_back();
      continue;
    }
    const bool empty = tag.ends_with('/');
    if (empty) tag.remove_suffix(1);
    const std::size_t space = tag.find(' ');
    const std::string name(tag.substr(0, space));
    const auto parent = parents.find(name);
    if (parent == parents.end()) fail("unknown element " + name, lt);
    if ((open.empty() ? std::string() : open.back()) != parent->second) {
      fail(name + " outside " + parent->second, lt);
    }
    if (name == "model" && std::exchange(rootSeen, true)) fail("second model", lt);
    std::map<std::string, std::string> attributes;
    for (std::size_t p = space; p != std::string_view::npos && p < tag.size();) {
      p = tag.find_first_not_of(' ', p);
      if (p == std::string_view::npos) break;
      const std::size_t eq = tag.find("=\"", p);
      const std::size_t close = eq == std::string_view::npos ? eq : tag.find('"', eq + 2);
      if (close == std::string_view::npos) fail("bad attribute", lt);
      const std::string key(tag.substr(p, eq - p));
      if (!attributes.emplace(key, tag.substr(eq + 2, close - eq - 2)).second) {
        fail("attribute " + key + " twice", lt);
      }
      p = close + 1;
    }
    const auto number = [&](const std::string& key) -> const std::string& {
      const auto found = attributes.find(key);
      if (found == attributes.end()) fail(name + " without " + key, lt);
      return found->second;
    };
    if (name == "vertex") {
      float v[3];
      const char* keys[] = {"x", "y", "z"};
      for (int i = 0; i < 3; ++i) {
        const std::string& s = number(keys[i]);
        const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v[i]);
        if (ec != std::errc() || end != s.data() + s.size()) fail("bad number " + s, lt);
        model.vertexTexts.push_back(s);
      }
      if (attributes.size() != 3) fail("vertex with other attributes", lt);
      model.vertices.push_back(MakeVec(v[0], v[1], v[2]));
    } else if (name == "triangle") {
      std::array<std::uint32_t, 3> t{};
      const char* keys[] = {"v1", "v2", "v3"};
      for (int i = 0; i < 3; ++i) {
        const std::string& s = number(keys[i]);
        const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), t[i]);
        if (ec != std::errc() || end != s.data() + s.size()) fail("bad index " + s, lt);
      }
      if (attributes.size() != 3) fail("triangle with other attributes", lt);
      model.triangles.push_back(t);
    } else if (name == "model") {
      model.modelAttributes = attributes;
    } else if (name == "object") {
      if (!model.object.empty()) fail("second object", lt);
      model.object = attributes;
    } else if (name == "item") {
      model.items.push_back(attributes);
    }
    if (name == "metadata") {
      if (empty) fail("metadata without text", lt);
      const std::size_t endTag = xml.find("</metadata>", at);
      if (endTag == std::string::npos) fail("unclosed metadata", lt);
      if (!model.metadata.emplace(number("name"), xml.substr(at, endTag - at)).second) {
        fail("metadata named twice", lt);
      }
      at = endTag + std::string_view("</metadata>").size();
      continue;
    }
    if (!empty) open.push_back(name);
  }
  if (!rootSeen || !open.empty()) fail("unclosed elements", xml.size());
  if (text.find_first_not_of(" \n") != std::string::npos) fail("text after the model", at);
  return model;
}

// The text %g makes of value with the fewest significant digits that read back to it: the
// shortest text that reads back to the same float has as many digits and is no longer.
inline std::string ShortestG(float value) {
  char text[64];
  for (int digits = 1; digits <= 9; ++digits) {
    std::snprintf(text, sizeof text, "%.*g", digits, static_cast<double>(value));
    if (std::strtof(text, nullptr) == value) break;
  }
  return text;
}

// The significant digits of a number's text (no sign, no point, no exponent, no leading zeros).
inline int SignificantDigits(const std::string& text) {
  const std::string mantissa = text.substr(0, text.find_first_of("eE"));
  std::string digits;
  for (const char c : mantissa) {
    if (c >= '0' && c <= '9') digits += c;
  }
  const std::size_t first = digits.find_first_not_of('0');
  if (first == std::string::npos) return 1;
  const std::size_t last = digits.find_last_not_of('0');
  // The zeros that end a whole number only place its point; after a point they would be
  // digits too many.
  const bool whole = mantissa.find('.') == std::string::npos;
  return static_cast<int>((whole ? last + 1 : digits.size()) - first);
}

}  // namespace orolith::test
