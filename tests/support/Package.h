#pragma once

// The tests' reader of zip packages and 3MF models: support/package_check.py has python's
// zipfile and 7-Zip read the file, holds its layout and its model's XML to the formats, and
// reports what it found, which is read back here. Apart from the program's writer, so that
// each checks the other. A fault throws std::runtime_error with the script's reason.

#include "model/mesh/STLVectors.h"
#include "support/TempFiles.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

namespace orolith::test {

struct ZipPart {
  std::string name;
  int method = 0;
  bool descriptor = false;  // the sizes follow the data in a data descriptor
  int versionNeeded = 0;
  bool centralZip64 = false;  // the central record's sizes or offset are in a ZIP64 field
  bool localZip64 = false;    // the local header holds a ZIP64 field
  int dosDate = 0;
  int dosTime = 0;
  std::uint64_t compressed = 0;
  std::uint64_t size = 0;
  std::uint64_t offset = 0;
  std::string dataHash;  // of the bytes as stored
  std::string content;   // inflated; empty for a model part
};

using Attributes = std::map<std::string, std::string>;

// The model part as far as the tests look at it.
struct ModelPart {
  Attributes modelAttributes;
  Attributes metadata;  // name, text
  Attributes object;
  std::vector<Attributes> items;
  std::vector<Vec3> vertices;
  std::vector<std::string> vertexTexts;  // x, y, z one after the other, as written
  std::vector<std::array<std::uint32_t, 3>> triangles;
};

struct Package {
  bool zip64End = false;  // a ZIP64 end record and locator precede the end record
  std::vector<ZipPart> parts;
  ModelPart model;
};

template <typename T>
T Number(const std::string& text) {
  T value{};
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) {
    throw std::runtime_error("package: bad number " + text);
  }
  return value;
}

inline Package ReadPackage(const std::filesystem::path& file) {
  const std::string command =
      std::string(OROLITH_PYTHON) + " '" + OROLITH_PACKAGE_CHECK + "' '" + file.string() + "' 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) throw std::runtime_error("cannot run " + command);
  std::string report;
  char buffer[65536];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    report.append(buffer, n);
  if (::pclose(pipe) != 0) throw std::runtime_error(report);

  Package package;
  std::istringstream lines(report);
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> f;
    std::istringstream fields(line);
    for (std::string field; std::getline(fields, field, '\t');) f.push_back(field);
    const auto attributes = [&f] {
      Attributes a;
      for (std::size_t i = 1; i < f.size(); ++i) {
        a.emplace(f[i].substr(0, f[i].find('=')), f[i].substr(f[i].find('=') + 1));
      }
      return a;
    };
    ModelPart& m = package.model;
    if (f[0] == "zip64End") {
      package.zip64End = f.at(1) == "1";
    } else if (f[0] == "part") {
      f.resize(14);
      std::string content;
      for (std::size_t i = 0; i + 1 < f[13].size(); i += 2) {
        content += static_cast<char>(std::stoi(f[13].substr(i, 2), nullptr, 16));
      }
      package.parts.push_back({f[1], Number<int>(f[2]), f[3] == "1", Number<int>(f[4]), f[5] == "1",
                               f[6] == "1", Number<int>(f[7]), Number<int>(f[8]),
                               Number<std::uint64_t>(f[9]), Number<std::uint64_t>(f[10]),
                               Number<std::uint64_t>(f[11]), f[12], content});
    } else if (f[0] == "model") {
      m.modelAttributes = attributes();
    } else if (f[0] == "metadata") {
      m.metadata.emplace(f.at(1), f.at(2));
    } else if (f[0] == "object") {
      m.object = attributes();
    } else if (f[0] == "item") {
      m.items.push_back(attributes());
    } else if (f[0] == "v") {
      m.vertexTexts.insert(m.vertexTexts.end(), {f.at(1), f.at(2), f.at(3)});
      m.vertices.push_back(MakeVec(Number<float>(f[1]), Number<float>(f[2]), Number<float>(f[3])));
    } else if (f[0] == "t") {
      m.triangles.push_back({Number<std::uint32_t>(f.at(1)), Number<std::uint32_t>(f.at(2)),
                             Number<std::uint32_t>(f.at(3))});
    }
  }
  return package;
}

inline Package ReadPackage(const std::vector<unsigned char>& bytes) {
  const TempDir dir;
  WriteBytes(dir.Path() / "package.zip", bytes);
  return ReadPackage(dir.Path() / "package.zip");
}

}  // namespace orolith::test
