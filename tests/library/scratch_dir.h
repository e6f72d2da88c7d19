// A fresh directory under /tmp for one test, removed with everything in it
// when the test ends.
#pragma once

#include <cstdlib>
#include <fstream>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = "/tmp/mw-library-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
    path_ = pattern + "/";
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  // With a trailing '/'.
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};
