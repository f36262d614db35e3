#pragma once

// Helpers of the Paradox engine tests: scratch folders and copies of the sample tables.

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

namespace atlor::pxengine::testing {

inline std::filesystem::path SamplesDir() { return ATLOR_PARADOX_SAMPLES; }

// A fresh folder under the system's temporary folder, removed with the object.
class ScratchDir {
 public:
  ScratchDir() {
    std::string templ = (std::filesystem::temp_directory_path() / "pxengine-XXXXXX").string();
    path_ = ::mkdtemp(templ.data());
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& Path() const { return path_; }
  std::string Str() const { return path_.string(); }
  // Copies every file of a sample folder (relative to the samples) into this folder.
  void CopySamples(const std::string& sub) const {
    for (const auto& e : std::filesystem::directory_iterator(SamplesDir() / sub))
      if (e.is_regular_file()) std::filesystem::copy_file(e.path(), path_ / e.path().filename());
  }

 private:
  std::filesystem::path path_;
};

}  // namespace atlor::pxengine::testing

// Skips a test when the sample tables are not on this machine.
#define REQUIRE_SAMPLES()                                                            \
  do {                                                                               \
    if (!std::filesystem::exists(::atlor::pxengine::testing::SamplesDir()))          \
      GTEST_SKIP() << "sample tables not found at " ATLOR_PARADOX_SAMPLES;           \
  } while (false)
