#pragma once
// A station for the fuzz targets: the test rig's in-memory host line and recording window on
// virtual time, with its station directory inside a folder of its own, so that a target can
// check that nothing beside the station directory was touched.
//
// Speed matters here (millions of inputs): the folder is made once per process, on memory-backed
// storage when the machine has some, and each input gets the station directory back exactly as
// it was made. What lies beside it is made once and compared after every input, so an input
// that touches it ends the run before any later input could see the change.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <string_view>

#include "base/host_paths.hpp"
#include "base/virtual_loop.hpp"
#include "station/wired_station.hpp"
#include "support/fake_line.hpp"
#include "ui/recorder.hpp"

namespace shoplink::fuzzing {

namespace fs = std::filesystem;

// Ends the run with a message: libFuzzer keeps the input that did it.
[[noreturn]] inline void fail(const std::string& why) {
  std::fprintf(stderr, "fuzz: %s\n", why.c_str());
  std::abort();
}

// Everything under `root` except `keep`: each path with its size (-1 for a folder), to compare
// before and after.
using Listing = std::map<fs::path, std::intmax_t>;
inline Listing tree_outside(const fs::path& root, const fs::path& keep) {
  Listing out;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    const fs::path p = it->path();
    if (p == keep) {
      it.disable_recursion_pending();
      continue;
    }
    out[p] = it->is_regular_file(ec) ? static_cast<std::intmax_t>(it->file_size(ec)) : -1;
  }
  return out;
}

using Files = std::map<std::string, std::string>;  // relative path -> bytes

inline void write_file(const fs::path& p, std::string_view bytes) {
  fs::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// root/station (the station directory, made again for every input) and root/outside (made
// once, never to change).
class FuzzTree {
 public:
  FuzzTree(Files station_files, Files outside_files)
      : station_files_(std::move(station_files)), outside_files_(std::move(outside_files)) {
    const char* shm = "/dev/shm";
    std::error_code ec;
    const fs::path base = fs::is_directory(shm, ec) && ::access(shm, W_OK) == 0
                              ? fs::path(shm)
                              : fs::temp_directory_path();
    // Always the same length of name, so that paths the station writes or shows are as long
    // in every run and a saved input does the same again.
    std::random_device rd;
    char name[40];
    do {
      std::snprintf(name, sizeof name, "shoplink-fuzz-%08x-%08x", static_cast<unsigned>(::getpid()),
                    static_cast<unsigned>(rd()));
      root_ = base / name;
    } while (!fs::create_directory(root_));
    station_ = root_ / "station";
    for (const auto& [rel, bytes] : outside_files_) write_file(root_ / rel, bytes);
    fs::create_directory(station_);
    outside_ = tree_outside(root_, station_);
  }
  ~FuzzTree() {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  FuzzTree(const FuzzTree&) = delete;
  FuzzTree& operator=(const FuzzTree&) = delete;

  const fs::path& root() const { return root_; }
  const fs::path& station() const { return station_; }

  // The station directory as it was made, whatever the last input did to it.
  void reset() {
    std::error_code ec;
    fs::remove_all(station_, ec);
    if (ec) fail("the station directory could not be cleared: " + ec.message());
    fs::create_directory(station_);
    for (const auto& [rel, bytes] : station_files_) write_file(station_ / rel, bytes);
  }
  void write(const std::string& rel, std::string_view bytes) const {
    write_file(station_ / rel, bytes);
  }
  void check_outside() {
    check_outside([](const fs::path&) { return false; });
  }
  // The same, except that a file `may_touch` accepts may have been made, changed or removed
  // (a folder the configuration names: the operator's paths are taken as written). The
  // tree is put back as it was for the next input.
  template <typename Allowed>
  void check_outside(Allowed may_touch) {
    const Listing now = tree_outside(root_, station_);
    if (now == outside_) return;
    const auto check = [&](const Listing& these, const Listing& other) {
      for (const auto& [path, size] : these) {
        const auto it = other.find(path);
        if ((it == other.end() || it->second != size) && !may_touch(path))
          fail("a file outside the station directory was touched: " + path.string());
      }
    };
    check(now, outside_);
    check(outside_, now);
    restore_outside();
  }

 private:
  void restore_outside() {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(root_, ec))
      if (entry.path() != station_) fs::remove_all(entry.path(), ec);
    for (const auto& [rel, bytes] : outside_files_) write_file(root_ / rel, bytes);
    if (tree_outside(root_, station_) != outside_) fail("the tree could not be put back");
  }

  Files station_files_;
  Files outside_files_;
  fs::path root_, station_;
  Listing outside_;
};

// A fresh station for one input, in the tree's station directory: nothing is started.
struct FuzzStation {
  explicit FuzzStation(const fs::path& dir) : paths(dir) {}

  VirtualClock clock{{2026, 12, 7, 6, 45, 30}};
  VirtualLoop loop{clock};
  testing::FakeLine line;
  RecordingWindow window;
  RecordingDialogs dialogs;
  RecordingPlatform platform;
  HostPaths paths;
  WiredStation s{{loop, line, window, dialogs, platform, paths}};
};

// Scanning with nothing under way: no input waiting on the line and no timer running but
// the scanning cycle's own (port selection, display refresh, receive poll). Nothing but those
// ticks can then happen until the machine speaks again.
inline bool only_scanning(Station& s, testing::FakeLine& line) {
  if (s.mode != Mode::Scanning || !line.input.empty() || s.stopscanning != 0) return false;
  for (Timer* t : {&s.Timer1, &s.Timer3, &s.Timer4, &s.Timer6, &s.Timer7, &s.Timer8, &s.Timer9,
                   &s.Timer10, &s.Timer11, &s.Timer12, &s.Timer14, &s.Timer15, &s.Timer16,
                   &s.Timer17, &s.Timer18, &s.Timer19, &s.Timer20, &s.splash_timer})
    if (t->valid() && t->enabled()) return false;
  return true;
}

}  // namespace shoplink::fuzzing
