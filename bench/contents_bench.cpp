// Time to enter one upload in a CONTENTS index of 10,000 programs: the whole index is read
// and written again through TEMPFILE, then put in place.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "receive/contents_index.hpp"

namespace fs = std::filesystem;

namespace {

struct IndexDir {
  fs::path dir;
  explicit IndexDir(int entries) {
    std::random_device rd;
    dir = fs::temp_directory_path() / ("shoplink-bench-" + std::to_string(rd()));
    fs::create_directories(dir);
    std::ofstream out(dir / "CONTENTS", std::ios::binary);
    char number[16];  // room for any int, though entries stay below 10,000
    for (int n = 1; n <= entries; ++n) {
      std::snprintf(number, sizeof number, "%04d", n);
      out << shoplink::contents_entry(number, "PROGRAM NAME " + std::to_string(n), 1000 + n)
          << "\r\n";
    }
  }
  ~IndexDir() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
};

void BM_ContentsUpdate(benchmark::State& state) {
  IndexDir index(static_cast<int>(state.range(0)));
  int i = 0;
  for (auto _ : state) {
    // A program in the middle of the index is stored again.
    const bool ok = shoplink::rewrite_contents(index.dir / "CONTENTS", index.dir / "TEMPFILE",
                                               "5000", "BRACKET", 2201 + (i++ % 7));
    benchmark::DoNotOptimize(ok);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ContentsUpdate)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_ContentsAppend(benchmark::State& state) {
  IndexDir index(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        shoplink::append_contents(index.dir / "CONTENTS", "9999", "BRACKET", 2201));
  }
}
BENCHMARK(BM_ContentsAppend)->Arg(10000)->Unit(benchmark::kMicrosecond);

}  // namespace
