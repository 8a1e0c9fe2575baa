#pragma once
// A station on virtual time in a temporary station directory, for the configuration, log
// and code table tests. The host line is the in-memory double: these parts never touch it.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/host_paths.hpp"
#include "base/serial_port.hpp"
#include "base/virtual_loop.hpp"
#include "core/station.hpp"
#include "support/fake_line.hpp"
#include "support/line_station.hpp"
#include "support/temp_dir.hpp"
#include "ui/recorder.hpp"

namespace shoplink::testing {

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

struct TestStation : LineStation<FakeLine, ViewerWindow> {
  TestStation() : LineStation(LocalTime{2026, 3, 9, 14, 5, 7}) {}

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
