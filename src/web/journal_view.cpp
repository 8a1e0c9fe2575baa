#include "web/journal_view.hpp"

#include <algorithm>

#include "base/text.hpp"
#include "journal/journal_file.hpp"
#include "journal/sqlite_db.hpp"
#include "web/web_text.hpp"

namespace shoplink {

namespace {

// Connections kept open for the next request; more are opened when more requests read at
// once, and closed after.
constexpr std::size_t kKeptConnections = 4;
// An activity day reads at most this many rows of each kind.
constexpr int kMaxActivityRows = 200'000;

// The bounds of a day as the journal's times sort: "YYYY-MM-DD" itself is before every time
// of the day, and "YYYY-MM-DD~" after them ('~' sorts after ' ').
std::string day_end(const std::string& day) {
  return day + "~";
}

int clamp_limit(int limit) {
  return std::clamp(limit, 1, kMaxRows);
}

}  // namespace

JournalView::JournalView(std::filesystem::path station_dir)
    : station_dir_(std::move(station_dir)) {}

JournalView::~JournalView() = default;

template <class Read>
auto JournalView::with_db(const Read& read) {
  std::unique_ptr<Db> db;
  {
    std::lock_guard lock(mutex_);
    if (!idle_.empty()) {
      db = std::move(idle_.back());
      idle_.pop_back();
    }
  }
  if (!db) db = open_journal_reader(station_dir_);
  // A connection whose read failed is dropped: the next request opens a fresh one.
  auto result = read(*db);
  std::lock_guard lock(mutex_);
  if (idle_.size() < kKeptConnections) idle_.push_back(std::move(db));
  return result;
}

std::vector<TransferRow> JournalView::transfers(const TransferQuery& q) {
  return with_db([&](Db& db) {
    std::string sql =
        "SELECT id, port, machine, program, kind, started, ended, characters, result, reason "
        "FROM transfers WHERE 1";
    if (q.port) sql += " AND port = ?1";
    if (!q.day.empty()) sql += " AND started >= ?2 AND started < ?3";
    if (q.failed_only) sql += " AND result NOT IN ('transmitted', 'received')";
    sql += " ORDER BY started DESC, id DESC LIMIT ?4";
    Statement st = db.prepare(sql);
    if (q.port) st.bind(1, q.port);
    if (!q.day.empty()) st.bind(2, q.day).bind(3, day_end(q.day));
    st.bind(4, clamp_limit(q.limit));
    std::vector<TransferRow> out;
    while (st.step()) {
      TransferRow r;
      r.id = st.integer(0);
      r.port = static_cast<int>(st.integer(1));
      r.machine = st.text(2);
      r.program = st.text(3);
      r.kind = st.text(4);
      r.started = st.text(5);
      r.ended = st.text(6);
      r.characters = st.integer(7);
      r.result = st.text(8);
      r.reason = st.text(9);
      out.push_back(std::move(r));
    }
    return out;
  });
}

std::vector<EventRow> JournalView::events(const EventQuery& q) {
  return with_db([&](Db& db) {
    std::string machine_sql =
        "SELECT time, port, machine, kind, text, id FROM machine_events WHERE 1";
    if (q.port) machine_sql += " AND port = ?1";
    if (!q.day.empty()) machine_sql += " AND time >= ?2 AND time < ?3";
    std::string sql = machine_sql;
    if (!q.port) {
      std::string station_sql = "SELECT time, 0, '', kind, detail, id FROM station_events WHERE 1";
      if (!q.day.empty()) station_sql += " AND time >= ?2 AND time < ?3";
      sql = "SELECT * FROM (" + machine_sql + ") UNION ALL SELECT * FROM (" + station_sql + ")";
    }
    sql += " ORDER BY 1 DESC, 6 DESC LIMIT ?4";
    Statement st = db.prepare(sql);
    if (q.port) st.bind(1, q.port);
    if (!q.day.empty()) st.bind(2, q.day).bind(3, day_end(q.day));
    st.bind(4, clamp_limit(q.limit));
    std::vector<EventRow> out;
    while (st.step())
      out.push_back(
          {st.text(0), static_cast<int>(st.integer(1)), st.text(2), st.text(3), st.text(4)});
    return out;
  });
}

ActivityRows JournalView::activity(const std::string& from, const std::string& to) {
  return with_db([&](Db& db) {
    ActivityRows rows;
    auto read = [&](Statement& st, std::vector<EventRow>& into) {
      while (st.step())
        into.push_back(
            {st.text(0), static_cast<int>(st.integer(1)), st.text(2), st.text(3), st.text(4)});
    };
    // The station's state when the window opens: its last event before it.
    Statement before = db.prepare(
        "SELECT time, 0, '', kind, detail FROM station_events WHERE time < ?1 "
        "ORDER BY time DESC, id DESC LIMIT 1");
    before.bind(1, from);
    read(before, rows.station);
    Statement station = db.prepare(
        "SELECT time, 0, '', kind, detail FROM station_events WHERE time >= ?1 AND time < ?2 "
        "ORDER BY time, id LIMIT ?3");
    station.bind(1, from).bind(2, to).bind(3, kMaxActivityRows);
    read(station, rows.station);
    Statement machines = db.prepare(
        "SELECT time, port, machine, kind, text FROM machine_events WHERE time >= ?1 AND "
        "time < ?2 ORDER BY time, id LIMIT ?3");
    machines.bind(1, from).bind(2, to).bind(3, kMaxActivityRows);
    read(machines, rows.machines);
    // The program each machine has: the last one sent to it whole before the window, and
    // those sent during it.
    const char* sent =
        "kind IN ('request', 'binary', 'manual send') AND result = 'transmitted' AND port "
        "BETWEEN 1 AND 8";
    // One port at a time, backwards along the index of start times: a port's transfers never
    // overlap, so the last one started is the last one ended.
    Statement last = db.prepare(std::string("SELECT ended, port, machine, 'sent', program FROM "
                                            "transfers WHERE port = ?2 AND ") +
                                sent + " AND started < ?1 ORDER BY started DESC, id DESC LIMIT 1");
    for (int port = 1; port <= 8; ++port) {
      last.reset();
      last.bind(1, from).bind(2, port);
      read(last, rows.programs);
    }
    Statement during = db.prepare(std::string("SELECT ended, port, machine, 'sent', program FROM "
                                              "transfers WHERE ") +
                                  sent +
                                  " AND started >= ?3 AND ended >= ?1 AND ended < ?2 "
                                  "ORDER BY ended, id LIMIT ?4");
    // A transfer ends after it starts; the started bound only lets the index help.
    LocalTime start;
    const std::string day_before =
        parse_time(from.substr(0, 10), &start) ? day_text(start, -1) : "";
    during.bind(1, from).bind(2, to).bind(3, day_before).bind(4, kMaxActivityRows);
    read(during, rows.programs);
    std::stable_sort(rows.programs.begin(), rows.programs.end(),
                     [](const EventRow& a, const EventRow& b) { return a.time < b.time; });
    return rows;
  });
}

std::vector<ProgramSummary> JournalView::programs(int limit) {
  return with_db([&](Db& db) {
    Statement st = db.prepare(
        "SELECT program, count(*), max(number), max(time) FROM revisions WHERE pending = 0 "
        "GROUP BY program ORDER BY max(id) DESC LIMIT ?1");
    st.bind(1, clamp_limit(limit));
    std::vector<ProgramSummary> out;
    while (st.step())
      out.push_back({st.text(0), static_cast<int>(st.integer(1)), static_cast<int>(st.integer(2)),
                     st.text(3)});
    return out;
  });
}

ProgramMatch JournalView::find_program(const std::string& name) {
  return with_db([&](Db& db) {
    ProgramHistory history(db);
    ProgramMatch m;
    for (const std::string& p : history.programs()) {
      if (p == name) return ProgramMatch{{p}};
    }
    m.matches = history.programs_named(name);
    return m;
  });
}

std::vector<Revision> JournalView::revisions(const std::string& program) {
  return with_db([&](Db& db) { return ProgramHistory(db).revisions(program); });
}

std::optional<Revision> JournalView::revision(const std::string& program, int number) {
  return with_db([&](Db& db) { return ProgramHistory(db).revision(program, number); });
}

std::string JournalView::content(const Revision& r) {
  return with_db([&](Db& db) { return ProgramHistory(db).content(r); });
}

}  // namespace shoplink
