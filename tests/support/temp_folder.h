#pragma once

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>

namespace atlor::test {

// A folder of its own for a test, in the system's temporary folder, removed with everything in
// it afterwards (made writable first, so a test that took its write permission away leaves
// nothing behind).
class TempFolder {
 public:
  explicit TempFolder(const std::string& prefix = "atlor-test") {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // The path of an entry of the folder.
  std::string File(const std::string& name) const {
    return (std::filesystem::path(path_) / name).string();
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace atlor::test
