// A fresh folder under the system's temporary folder, removed with its contents at the end; its
// path is empty when none could be made.
#pragma once

#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <system_error>

namespace halcyra::testing {

class TempDir {
 public:
  explicit TempDir(const std::string& prefix = "halcyra-test-") {
    static std::atomic<int> counter{0};
    std::random_device random;
    std::error_code error;
    std::filesystem::path base = std::filesystem::temp_directory_path(error);
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::filesystem::path path =
          base / (prefix + std::to_string(random()) + "-" + std::to_string(counter++));
      if (std::filesystem::create_directory(path, error)) {
        path_ = path;
        break;
      }
    }
  }
  ~TempDir() {
    std::error_code error;
    if (!path_.empty()) std::filesystem::remove_all(path_, error);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// False when the file cannot be written.
inline bool WriteFile(const std::filesystem::path& path, const std::string& content) {
  std::error_code error;
  std::filesystem::create_directories(path.parent_path(), error);
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << content;
  file.close();
  return static_cast<bool>(file);
}

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream content;
  content << file.rdbuf();
  return content.str();
}

}  // namespace halcyra::testing
