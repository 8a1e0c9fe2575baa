#include "journal/journal.hpp"

#include <charconv>

#include "base/host_paths.hpp"
#include "core/station.hpp"
#include "journal/journal_file.hpp"
#include "journal/journal_rows.hpp"
#include "journal/program_history.hpp"
#include "journal/sqlite_db.hpp"
#include "log/system_log.hpp"

namespace fs = std::filesystem;

namespace shoplink {

namespace {

constexpr const char* kTrashFile = "TRASH";  // where the station keeps what it cannot store

std::optional<std::int64_t> positive(const std::string& text) {
  std::int64_t v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || v <= 0) return std::nullopt;
  return v;
}

std::string count(std::int64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

JournalSettings journal_settings(const HostPaths& paths, std::vector<std::string>* problems) {
  JournalSettings s;
  auto setting = [&](const char* name, std::int64_t limit, auto apply) {
    const auto text = paths.lookup(name);
    if (!text) return;
    const auto v = positive(*text);
    if (v && *v <= limit) {
      apply(*v);
    } else if (problems) {
      problems->push_back(std::string(name) + "=" + *text + " is not a whole number from 1 to " +
                          std::to_string(limit));
    }
  };
  setting("HISTORY_KEEP", 100000, [&](std::int64_t v) { s.history_keep = static_cast<int>(v); });
  setting("HISTORY_MB", 1 << 20, [&](std::int64_t v) { s.history_bytes = v << 20; });
  setting("JOURNAL_DAYS", 36500, [&](std::int64_t v) { s.retention_days = static_cast<int>(v); });
  return s;
}

Journal::Journal(Station& s, JournalSettings settings)
    : s_(s), settings_(settings), alive_(std::make_shared<Journal*>(this)) {
  s_.events.add(this);
}

Journal::~Journal() {
  *alive_ = nullptr;
  s_.events.remove(this);
}

void Journal::failed(const std::string& what) {
  failure_ = what;
  if (failure_logged_) return;
  failure_logged_ = true;
  log_text(s_, "Journal: cannot write (" + what + "); the station goes on without it");
}

bool Journal::ready() {
  if (db_) return true;
  const TimePoint now = s_.loop.now();
  if (reopen_at_ && now < *reopen_at_) return false;
  int settled = 0;
  try {
    auto db = open_journal_writer(s_.paths.station_dir());
    auto rows = std::make_unique<JournalRows>(*db);
    auto history = std::make_unique<ProgramHistory>(*db);
    settled = history->settle_pending();
    db_ = std::move(db);
    rows_ = std::move(rows);
    history_ = std::move(history);
  } catch (const std::exception& e) {
    reopen_at_ = now + kJournalReopenAfter;
    failed("cannot open " + journal_path(s_.paths.station_dir()).string() + ": " + e.what());
    return false;
  }
  reopen_at_.reset();
  if (failure_logged_) {
    failure_logged_ = false;
    log_text(s_, "Journal: writing again");
  }
  failure_.clear();
  if (settled > 0)
    log_text(s_, "History: " + count(settled, "revision", "revisions") +
                     " of a replace cut short by the last stop settled against the program");
  prune();
  schedule_prune();
  return true;
}

template <class Write>
bool Journal::write(const Write& w) {
  if (!ready()) return false;
  try {
    w();
  } catch (const TooLargeForHistory& e) {
    // Not a fault of the journal: said every time, it may be a program worth saving by hand.
    log_text(s_, std::string("History: ") + e.what() + "; not kept");
    return false;
  } catch (const std::exception& e) {
    failed(e.what());
    return false;
  }
  if (failure_logged_) {
    failure_logged_ = false;
    log_text(s_, "Journal: writing again");
  }
  failure_.clear();
  return true;
}

ProgramHistory* Journal::history() {
  return ready() ? history_.get() : nullptr;
}

Db* Journal::database() {
  return ready() ? db_.get() : nullptr;
}

bool Journal::kept_before_replace(const fs::path& program) const {
  return pending_.count(history_key(program)) > 0;
}

fs::path Journal::trash() const {
  return s_.paths.existing(s_.station_file(kTrashFile));
}

void Journal::prune() {
  write([&] {
    const LocalTime now = s_.loop.clock().local_now();
    if (const auto n = rows_->prune(now, settings_.retention_days); n > 0)
      log_text(s_, "Journal: " + count(n, "row", "rows") + " older than " +
                       std::to_string(settings_.retention_days) + " days removed");
    if (const int n = history_->prune_to_size(settings_.history_bytes); n > 0)
      log_text(s_, "History: " + count(n, "revision", "revisions") +
                       " removed to keep the history under " +
                       std::to_string(settings_.history_bytes >> 20) + " MB");
  });
}

void Journal::schedule_prune() {
  std::shared_ptr<Journal*> alive = alive_;
  s_.loop.post_after(kJournalPruneEvery, [alive] {
    if (Journal* j = *alive) {
      j->prune();
      j->schedule_prune();
    }
  });
}

void Journal::prune_history(const std::string& program) {
  write([&] {
    if (const int n = history_->prune_program(program, settings_.history_keep); n > 0)
      log_text(s_, "History: " + count(n, "old revision", "old revisions") + " of " + program +
                       " removed (HISTORY_KEEP=" + std::to_string(settings_.history_keep) + ")");
    if (const int n = history_->prune_to_size(settings_.history_bytes); n > 0)
      log_text(s_, "History: " + count(n, "revision", "revisions") +
                       " removed to keep the history under " +
                       std::to_string(settings_.history_bytes >> 20) + " MB");
  });
}

void Journal::station_started(const LocalTime& at) {
  write([&] { rows_->add_station_event(at, "started", ""); });
}

void Journal::station_stopping(const LocalTime& at) {
  write([&] { rows_->add_station_event(at, "stopping", ""); });
}

void Journal::transfer_ended(const TransferEnd& t) {
  write([&] { rows_->add_transfer(t); });
}

void Journal::activity_recorded(const ActivityRecord& a) {
  write([&] { rows_->add_activity(a); });
}

void Journal::line_state_changed(LineState state, const std::string& detail, const LocalTime& at) {
  write([&] { rows_->add_station_event(at, std::string("line ") + name_of(state), detail); });
}

void Journal::program_replacing(const ProgramChange& c) {
  const std::string program = history_key(c.program);
  pending_.erase(program);
  write([&] { pending_[program] = history_->keep_before_replace(c, journal_time(c.time)); });
}

void Journal::program_replaced(const ProgramChange& c, bool replaced) {
  const std::string program = history_key(c.program);
  const auto it = pending_.find(program);
  if (it == pending_.end()) return;
  const std::int64_t id = it->second;
  pending_.erase(it);
  if (write([&] { history_->replace_done(id, replaced); }) && replaced) prune_history(program);
}

void Journal::upload_discarded(const ProgramChange& c) {
  const fs::path to = trash();
  if (write([&] { history_->keep_discarded(c, to, journal_time(c.time)); }))
    prune_history(history_key(to));
}

}  // namespace shoplink
