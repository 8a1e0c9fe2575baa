#pragma once
// A station for the fuzz targets: the test rig's in-memory host line and recording window on
// virtual time, in a fresh station directory that is itself inside a fresh folder, so that a
// target can check that nothing outside the station directory was touched.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "support/line_station.hpp"

namespace shoplink::fuzzing {

namespace fs = std::filesystem;

// Everything under `root` except `keep`: names and sizes, to compare before and after.
inline std::string tree_outside(const fs::path& root, const fs::path& keep) {
  std::string out;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    const fs::path p = it->path();
    if (p == keep) {
      it.disable_recursion_pending();
      continue;
    }
    out += p.string();
    if (it->is_regular_file(ec)) out += " " + std::to_string(it->file_size(ec));
    out += "\n";
  }
  return out;
}

// Ends the run with a message: libFuzzer keeps the input that did it.
[[noreturn]] inline void fail(const std::string& why) {
  std::fprintf(stderr, "fuzz: %s\n", why.c_str());
  std::abort();
}

}  // namespace shoplink::fuzzing
