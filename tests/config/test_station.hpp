#pragma once
// A station on virtual time in a temporary station directory, for the configuration, log
// and code table tests. The host line is a do-nothing double: these parts never touch it.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/host_paths.hpp"
#include "core/serial_port.hpp"
#include "core/station.hpp"
#include "core/virtual_loop.hpp"
#include "ui/recorder.hpp"

namespace shoplink::testing {

class TempDir {
 public:
  TempDir() {
    std::string t = (std::filesystem::temp_directory_path() / "shoplink-test-XXXXXX").string();
    if (!::mkdtemp(t.data())) throw std::runtime_error("mkdtemp failed");
    path_ = t;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

class IdleLine final : public SerialPort {
 public:
  bool is_open() const override { return open_; }
  bool cts() override { return true; }
  int in_buffer_count() override { return 0; }
  void clear_in_buffer() override {}
  int out_buffer_count() override { return 0; }
  void clear_out_buffer() override {}
  std::string read() override { return {}; }
  void write(std::string_view) override {}

 protected:
  bool do_open() override { return open_ = true; }
  void do_close() override { open_ = false; }

 private:
  bool open_ = false;
};

// Keeps what the log writer sent to the viewer and every status text.
class ViewerWindow final : public WindowModel {
 public:
  void set_status(const std::string& text) override {
    statuses.push_back(text);
    WindowModel::set_status(text);
  }
  void log_viewer_append(const std::string& text) override { viewer += text; }
  void log_viewer_load(const std::string& text) override {
    viewer = text;
    ++loads;
  }
  std::vector<std::string> statuses;
  std::string viewer;
  int loads = 0;
};

struct TestStation {
  TempDir dir;
  VirtualClock clock{LocalTime{2026, 3, 9, 14, 5, 7}};
  VirtualLoop loop{clock};
  IdleLine line;
  ViewerWindow window;
  RecordingDialogs dialogs;
  RecordingPlatform platform;
  HostPaths paths{dir.path()};
  Station s{{loop, line, window, dialogs, platform, paths}};

  std::filesystem::path file(const std::string& name) const { return dir.path() / name; }
  void write(const std::string& name, const std::string& bytes) const {
    std::filesystem::create_directories(file(name).parent_path());
    std::ofstream out(file(name), std::ios::binary | std::ios::trunc);
    out << bytes;
  }
  std::string read(const std::string& name) const {
    std::ifstream in(file(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  bool exists(const std::string& name) const { return std::filesystem::exists(file(name)); }
};

}  // namespace shoplink::testing
