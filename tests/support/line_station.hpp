#pragma once
// A station on virtual time in a fresh station directory, with an in-memory host line and
// recording operator interface: for tests that need no simulated shop. Nothing is started.
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/host_paths.hpp"
#include "base/text.hpp"
#include "base/virtual_loop.hpp"
#include "station/wired_station.hpp"
#include "support/fake_line.hpp"
#include "support/temp_dir.hpp"
#include "ui/recorder.hpp"

namespace shoplink::testing {

// The message parts of a system log's lines: the text before the padding and the
// "mm-dd-yyyy @ hh:mm:ss" stamp.
inline std::vector<std::string> log_messages_of(const std::filesystem::path& log) {
  std::vector<std::string> out;
  std::ifstream in(log, std::ios::binary);
  for (std::string l; std::getline(in, l);) {
    if (!l.empty() && l.back() == '\r') l.pop_back();
    if (l.size() >= 21) l.erase(l.size() - 21);
    out.push_back(trim_trailing_blanks(l));
  }
  return out;
}

template <class Line = FakeLine, class Window = RecordingWindow>
struct LineStation {
  explicit LineStation(LocalTime start = {2026, 12, 7, 6, 45, 30}) : clock(start) {}

  TempDir dir;
  VirtualClock clock;
  VirtualLoop loop{clock};
  Line line;
  Window window;
  RecordingDialogs dialogs;
  RecordingPlatform platform;
  HostPaths paths{dir.path()};
  WiredStation s{{loop, line, window, dialogs, platform, paths}};

  std::vector<std::string> log_messages() const {
    return log_messages_of(paths.host_path(s.config.log_path));
  }
};

}  // namespace shoplink::testing
