#include "model/writers/ModelFile.h"

#include "model/writers/STL.h"
#include "model/writers/ThreeMfSink.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>
#include <utility>

namespace orolith {

bool IsThreeMfName(std::string_view fileName) {
  constexpr std::string_view suffix = ".3mf";
  return fileName.size() >= suffix.size() &&
         std::equal(
             suffix.begin(), suffix.end(), fileName.end() - suffix.size(),
             [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
}

std::unique_ptr<FaceSink> OpenModelFile(const std::string& fileName,
                                        AtomicOutputFile::WaitHook whileWaiting,
                                        std::optional<SurfacePaint> paint) {
  if (IsThreeMfName(fileName)) {
    return std::make_unique<ThreeMfSink>(fileName, std::move(whileWaiting), ThreeMfOptions{},
                                         std::move(paint));
  }
  if (paint) throw std::invalid_argument("Colours need a 3MF file");
  return std::make_unique<StlFileWriter>(fileName, std::move(whileWaiting));
}

}  // namespace orolith
