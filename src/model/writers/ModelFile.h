#pragma once

#include "base/Files.h"
#include "model/mesh/FaceSink.h"
#include "model/mesh/SurfacePaint.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace orolith {

// True for a name that ends in ".3mf", in any letter case: its model is a 3MF package.
bool IsThreeMfName(std::string_view fileName);

// The writer of a model file by its name: a 3MF package (ThreeMfSink) for a 3MF name, binary
// STL (StlFileWriter) for any other. The file is made here, before the first face; throws as
// the writers' constructors do. whileWaiting: called while the file waits for a pipe's reader.
// paint: the 3MF's colours; an STL has none (std::invalid_argument "Colours need a 3MF file").
std::unique_ptr<FaceSink> OpenModelFile(const std::string& fileName,
                                        AtomicOutputFile::WaitHook whileWaiting = {},
                                        std::optional<SurfacePaint> paint = std::nullopt);

}  // namespace orolith
