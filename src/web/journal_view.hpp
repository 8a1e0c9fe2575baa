#pragma once
// The status page's reading of the journal: its own read-only connections (a few kept for
// the next request, each used by one thread at a time), bounded queries, and the program
// lookup that turns a name from a URL into a program only through the journal's own list.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "journal/program_history.hpp"

namespace shoplink {

class Db;

// Rows a page or an API answer shows at most, and by default.
inline constexpr int kMaxRows = 1000;
inline constexpr int kDefaultRows = 100;

struct TransferQuery {
  int port = 0;     // 0: every port
  std::string day;  // "YYYY-MM-DD", empty: any day
  bool failed_only = false;
  int limit = kDefaultRows;
};

struct TransferRow {
  std::int64_t id = 0;
  int port = 0;
  std::string machine, program, kind, started, ended, result, reason;
  std::int64_t characters = 0;
};

struct EventQuery {
  int port = 0;  // 0: every port and the station's own events
  std::string day;
  int limit = kDefaultRows;
};

struct EventRow {
  std::string time;
  int port = 0;  // 0: the station's own (start, stop, host line)
  std::string machine, kind, text;
};

// What the activity chart is drawn from: the day's events and, before it, enough to know
// each machine's state at its first moment.
struct ActivityRows {
  std::vector<EventRow> station;   // port 0 rows, oldest first
  std::vector<EventRow> machines;  // cycle, probe and tool change rows, oldest first
  std::vector<EventRow> programs;  // programs sent to a machine whole: kind "sent", text the path
};

struct ProgramSummary {
  std::string program;  // host path, as the journal keys it
  int revisions = 0;
  int newest = 0;
  std::string changed;
};

// A program named in a URL: a path the journal lists exactly, or a file name that names one
// listed program (without regard to case). `matches` holds every listed program the name
// could mean.
struct ProgramMatch {
  std::vector<std::string> matches;
};

class JournalView {
 public:
  explicit JournalView(std::filesystem::path station_dir);
  ~JournalView();

  // Each throws SqlError when the journal cannot be read.
  std::vector<TransferRow> transfers(const TransferQuery& q);
  std::vector<EventRow> events(const EventQuery& q);
  // From `from` ("YYYY-MM-DD HH:MM:SS") to before `to`.
  ActivityRows activity(const std::string& from, const std::string& to);
  std::vector<ProgramSummary> programs(int limit);
  ProgramMatch find_program(const std::string& name);
  std::vector<Revision> revisions(const std::string& program);
  std::optional<Revision> revision(const std::string& program, int number);
  std::string content(const Revision& r);

 private:
  template <class Read>
  auto with_db(const Read& read);
  std::filesystem::path station_dir_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<Db>> idle_;
};

}  // namespace shoplink
