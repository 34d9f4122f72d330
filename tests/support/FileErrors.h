#pragma once

#include "base/Errors.h"

#include <gtest/gtest.h>

#include <string>

namespace orolith::test {

// Expects work to fail with the file error that begins "start \"name\". ".
template <typename Work>
void ExpectFileError(const std::string& name, const char* start, Work&& work) {
  try {
    work();
    ADD_FAILURE() << "no error for " << name;
  } catch (const FileError& error) {
    EXPECT_EQ(std::string(error.what()).rfind(std::string(start) + " \"" + name + "\". ", 0), 0U)
        << error.what();
  }
}

}  // namespace orolith::test
