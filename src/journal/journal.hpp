#pragma once
// The station's journal: a listener of the station's reports (core/station_events.hpp) that
// keeps every transfer, machine activity event, host line state and start and stop as rows,
// and every replaced program as revisions (journal/program_history.hpp), in SQLite in the
// station directory (journal/journal_file.hpp).
//
// It writes from the station's one thread, when a report comes. A write that fails is logged
// in the system log once (and its recovery once); the station and its transfers never wait
// for it or stop because of it. Rows older than the retention are pruned once a day, and the
// history after each replace.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/clock.hpp"
#include "core/station_events.hpp"

namespace shoplink {

class Db;
class HostPaths;
class JournalRows;
class ProgramHistory;
class Station;

struct JournalSettings {
  int history_keep = 50;                      // HISTORY_KEEP=: revisions per program
  std::int64_t history_bytes = 1024ll << 20;  // HISTORY_MB=: all revisions' contents
  int retention_days = 365;                   // JOURNAL_DAYS=: rows of what happened
};

// The settings from the host map; a value that is not a positive number is named in
// `problems` and the default kept.
JournalSettings journal_settings(const HostPaths& paths, std::vector<std::string>* problems);

inline constexpr Duration kJournalPruneEvery = std::chrono::hours(24);
// After a journal that could not be opened, the next try is this much later.
inline constexpr Duration kJournalReopenAfter = std::chrono::minutes(10);

class Journal final : public StationEvents {
 public:
  // Listens to `s` from now on; the database opens with the first report.
  Journal(Station& s, JournalSettings settings);
  ~Journal() override;
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  // Opens the database when it is not (or tries again when due); false when it is unusable.
  bool ready();
  // The history for the window and the commands; nullptr when the journal is unusable.
  ProgramHistory* history();
  // The station's connection, for the plant publisher's outbox; nullptr when unusable.
  Db* database();
  // The last failure's text ("" when the last write succeeded).
  const std::string& failure() const { return failure_; }
  // Whether the content of `program` before its replace now under way has been kept.
  bool kept_before_replace(const std::filesystem::path& program) const;
  // The daily pruning, now.
  void prune();

  void station_started(const LocalTime& at) override;
  void station_stopping(const LocalTime& at) override;
  void transfer_ended(const TransferEnd& t) override;
  void program_replacing(const ProgramChange& c) override;
  void program_replaced(const ProgramChange& c, bool replaced) override;
  void upload_discarded(const ProgramChange& c) override;
  void activity_recorded(const ActivityRecord& a) override;
  void line_state_changed(LineState state, const std::string& detail, const LocalTime& at) override;

 private:
  template <class Write>
  bool write(const Write& w);
  void failed(const std::string& what);
  void prune_history(const std::string& program);
  void schedule_prune();
  std::filesystem::path trash() const;

  Station& s_;
  JournalSettings settings_;
  std::unique_ptr<Db> db_;
  std::unique_ptr<JournalRows> rows_;
  std::unique_ptr<ProgramHistory> history_;
  std::map<std::string, std::int64_t> pending_;  // program → its pending revision
  std::string failure_;
  bool failure_logged_ = false;
  std::optional<TimePoint> reopen_at_;
  // Cleared when the journal goes, so that a pruning posted on the loop finds nothing.
  std::shared_ptr<Journal*> alive_;
};

}  // namespace shoplink
