// Command capture against a machine that streams without line ends: the cost of a poll must
// not grow with how long the machine has been talking. Per byte received: the CPU time and
// the characters capture examined (1 when each is searched once), at 1,000, 4,000 and
// 16,000 polls of what 9600 baud brings in one 150 ms poll.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "base/host_paths.hpp"
#include "base/virtual_loop.hpp"
#include "null_services.hpp"
#include "requests/scanning_poll.hpp"
#include "station/wired_station.hpp"
#include "ui/window_state.hpp"

using namespace shoplink;

namespace {

void BM_CaptureStreamWithoutLineEnds(benchmark::State& state) {
  const std::string chunk(144, 'X');
  const auto polls = state.range(0);
  std::uint64_t bytes = 0, examined = 0;
  for (auto _ : state) {
    VirtualClock clock;
    VirtualLoop loop(clock);
    bench::NullLine line;
    bench::NullWindow window;
    bench::NullDialogs dialogs;
    bench::NullPlatform platform;
    HostPaths paths(std::filesystem::temp_directory_path());
    WiredStation s({loop, line, window, dialogs, platform, paths});
    s.mode = Mode::Scanning;
    s.port = 1;
    for (long i = 0; i < polls; ++i) receive_poll_scanning(s, chunk);
    bytes += static_cast<std::uint64_t>(polls) * chunk.size();
    examined += s.capture_examined;
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
  state.counters["examined_per_byte"] = static_cast<double>(examined) / static_cast<double>(bytes);
  state.counters["time_per_byte"] = benchmark::Counter(
      static_cast<double>(bytes), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_CaptureStreamWithoutLineEnds)
    ->Arg(1000)
    ->Arg(4000)
    ->Arg(16000)
    ->Unit(benchmark::kMillisecond);

}  // namespace
