// The journal's cost. On virtual time: 100,000 transfers reported by a station and written as
// rows (`rows_per_s` of the wall time, `bytes_per_row` of the database after a checkpoint).
// And a journal of a million rows with a program of 50 revisions among others: the time
// `shoplink history PROGRAM` takes, from opening the journal to the printed list.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "base/host_paths.hpp"
#include "base/virtual_loop.hpp"
#include "core/station_reports.hpp"
#include "journal/journal.hpp"
#include "journal/journal_file.hpp"
#include "journal/program_history.hpp"
#include "journal/sqlite_db.hpp"
#include "journal_commands.hpp"
#include "null_services.hpp"
#include "station/wired_station.hpp"

namespace fs = std::filesystem;
using namespace shoplink;
using SteadyClock = std::chrono::steady_clock;

namespace {

struct BenchDir {
  fs::path dir;
  BenchDir() {
    std::random_device rd;
    dir = fs::temp_directory_path() / ("shoplink-bench-" + std::to_string(rd()));
    fs::create_directories(dir);
  }
  ~BenchDir() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
};

std::uintmax_t journal_bytes(const fs::path& dir) {
  std::uintmax_t total = 0;
  for (const char* suffix : {"", "-wal"}) {
    std::error_code ec;
    const auto n = fs::file_size(journal_path(dir).string() + suffix, ec);
    if (!ec) total += n;
  }
  return total;
}

// A station with its journal, on virtual time: each transfer is a request of port 1..8 that
// goes out whole, a second of virtual time apart.
void BM_JournalTransfers(benchmark::State& state) {
  const auto n = static_cast<int>(state.range(0));
  for (auto _ : state) {
    BenchDir d;
    VirtualClock clock;
    VirtualLoop loop{clock};
    bench::NullLine line;
    bench::NullWindow window;
    bench::NullDialogs dialogs;
    bench::NullPlatform platform;
    HostPaths paths{d.dir};
    WiredStation s({loop, line, window, dialogs, platform, paths});
    for (int p = 1; p <= NumPorts; ++p)
      s.ports[static_cast<std::size_t>(p)].machine_name = "MILL" + std::to_string(p);
    Journal journal(s, {});
    if (!journal.ready()) {
      state.SkipWithError("the journal cannot be opened");
      break;
    }
    const auto t0 = SteadyClock::now();
    for (int i = 0; i < n; ++i) {
      s.port = static_cast<std::int16_t>(1 + i % NumPorts);
      s.file_size = 1000 + i % 5000;
      report_transfer_began(s, TransferKind::Request,
                            "PROGRAMS\\O" + std::to_string(1000 + i % 3000) + ".NC");
      loop.advance(millis(1000));
      report_transfer_ended(s, TransferResult::Transmitted);
    }
    const double wall = std::chrono::duration<double>(SteadyClock::now() - t0).count();
    {
      // The size the rows take once the write-ahead log is folded in.
      auto db = open_journal_writer(d.dir);
      db->exec("PRAGMA wal_checkpoint(TRUNCATE)");
    }
    state.counters["rows_per_s"] = n / wall;
    state.counters["bytes_per_row"] = static_cast<double>(journal_bytes(d.dir)) / n;
  }
}
BENCHMARK(BM_JournalTransfers)
    ->Arg(100'000)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// A million transfer rows, 200 programs of 50 revisions (program texts of about 2 kB), then
// the history of one of them as the command prints it.
void BM_HistoryInAMillionRows(benchmark::State& state) {
  BenchDir d;
  {
    auto db = open_journal_writer(d.dir);
    Transaction tx(*db);
    Statement row = db->prepare(
        "INSERT INTO transfers(port, machine, program, kind, started, ended, characters, result, "
        "reason) VALUES(?1, ?2, ?3, 'request', ?4, ?4, ?5, 'transmitted', '')");
    for (int i = 0; i < 1'000'000; ++i) {
      const int day = i / 4000, sec = i % 4000;
      char t[32];
      std::snprintf(t, sizeof t, "2026-%02d-%02d %02d:%02d:%02d", 1 + day / 28 % 12, 1 + day % 28,
                    6 + sec / 3600, sec / 60 % 60, sec % 60);
      row.reset();
      row.bind(1, 1 + i % 8)
          .bind(2, "MILL" + std::to_string(1 + i % 8))
          .bind(3, (d.dir / "PROGRAMS" / ("O" + std::to_string(1000 + i % 3000) + ".NC")).string())
          .bind(4, t)
          .bind(5, 1000 + i % 5000)
          .run();
    }
    tx.commit();
    ProgramHistory history(*db);
    for (int p = 0; p < 200; ++p) {
      const fs::path program = d.dir / "PROGRAMS" / ("O" + std::to_string(1000 + p) + ".NC");
      fs::create_directories(program.parent_path());
      for (int r = 0; r < 50; ++r) {
        std::string text =
            "%\r\nO" + std::to_string(1000 + p) + " (REV " + std::to_string(r) + ")\r\n";
        while (text.size() < 2000) text += "G1 X" + std::to_string(text.size()) + ". Y1.\r\n";
        const fs::path incoming = program.string() + ".new";
        std::ofstream(incoming, std::ios::binary) << text;
        ProgramChange c;
        c.port = 1 + p % 8;
        c.program = program;
        c.incoming = incoming;
        c.previous = program;
        const auto id = history.keep_before_replace(c, "2026-12-07 06:45:30");
        fs::rename(incoming, program);
        history.replace_done(id, true);
      }
    }
    db->exec("PRAGMA wal_checkpoint(TRUNCATE)");
  }
  JournalCommand c;
  c.station_dir = d.dir.string();
  c.program = (d.dir / "PROGRAMS" / "O1100.NC").string();
  std::size_t lines = 0;
  for (auto _ : state) {
    std::ostringstream out, err;
    if (history_command(c, out, err) != 0) {
      state.SkipWithError(err.str().c_str());
      break;
    }
    const std::string text = out.str();
    lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
  }
  state.counters["lines"] = static_cast<double>(lines);
  state.counters["journal_mb"] = static_cast<double>(journal_bytes(d.dir)) / (1 << 20);
}
BENCHMARK(BM_HistoryInAMillionRows)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
