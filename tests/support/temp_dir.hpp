#pragma once
// A fresh directory under the system's temp folder, removed with everything in it.
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>

namespace shoplink::testing {

class TempDir {
 public:
  TempDir() {
    std::random_device rd;
    for (;;) {
      path_ = std::filesystem::temp_directory_path() /
              ("shoplink-test-" + std::to_string(rd()) + std::to_string(rd()));
      if (std::filesystem::create_directory(path_)) break;
    }
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

  // Writes bytes exactly (binary), creating parent folders.
  void write(const std::string& rel, std::string_view bytes) const {
    auto p = path_ / rel;
    std::filesystem::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  std::string read(const std::string& rel) const {
    std::ifstream in(path_ / rel, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  bool exists(const std::string& rel) const { return std::filesystem::exists(path_ / rel); }

 private:
  std::filesystem::path path_;
};

}  // namespace shoplink::testing
