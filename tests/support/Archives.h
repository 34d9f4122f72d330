#pragma once

#include "support/TempFiles.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace orolith::test {

// A zip archive holding one file named fileName with the given content, made by zip(1).
inline std::filesystem::path MakeZip(const std::filesystem::path& folder,
                                     const std::string& fileName, const std::string& content) {
  const auto work = folder / "zip-work";
  std::filesystem::create_directories(work);
  WriteText(work / fileName, content);
  const auto zip = folder / (fileName + ".zip");
  const std::string command =
      "zip -q -j '" + zip.string() + "' '" + (work / fileName).string() + "'";
  if (std::system(command.c_str()) != 0) throw std::runtime_error("zip failed: " + command);
  std::filesystem::remove_all(work);
  return zip;
}

// A gzip file of one file named fileName with the given content, made by gzip(1); the name is
// kept in the gzip header unless storeName is false.
inline std::filesystem::path MakeGzip(const std::filesystem::path& folder,
                                      const std::string& fileName, const std::string& content,
                                      bool storeName = true) {
  const auto work = folder / "gzip-work";
  std::filesystem::create_directories(work);
  WriteText(work / fileName, content);
  const auto gz = folder / (fileName + ".gz");
  const std::string command = std::string("gzip -c ") + (storeName ? "-N '" : "-n '") +
                              (work / fileName).string() + "' >'" + gz.string() + "'";
  if (std::system(command.c_str()) != 0) throw std::runtime_error("gzip failed: " + command);
  std::filesystem::remove_all(work);
  return gz;
}

// The bytes of the smallest tile (SRTM-30, 121 x 121 samples), beginning with label so that
// tests can tell tiles apart.
inline std::string TileContent(const std::string& label) {
  std::string content(2 * 121 * 121, '\0');
  content.replace(0, label.size(), label);
  return content;
}

}  // namespace orolith::test
