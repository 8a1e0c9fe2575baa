#include "journal/journal_file.hpp"

#include <fmt/format.h>

#include <system_error>

#include "journal/schema.hpp"
#include "journal/sqlite_db.hpp"

namespace fs = std::filesystem;

namespace shoplink {

namespace {
// Long enough for another process's short write (a restore) to finish, short enough that
// the station's thread is never held up noticeably.
constexpr int kWriterBusyMs = 250;
// A reader waits longer: it holds up nobody.
constexpr int kReaderBusyMs = 5000;
}  // namespace

fs::path journal_path(const fs::path& station_dir) {
  return station_dir / kJournalFolder / kJournalFile;
}

std::unique_ptr<Db> open_journal_writer(const fs::path& station_dir) {
  const fs::path file = journal_path(station_dir);
  std::error_code ec;
  fs::create_directories(file.parent_path(), ec);
  if (ec) throw SqlError("cannot make " + file.parent_path().string() + ": " + ec.message(), 0);
  auto db = std::make_unique<Db>(file, Db::Access::ReadWrite);
  db->busy_timeout(kWriterBusyMs);
  // WAL: readers see a consistent journal while the station writes, and a commit is one
  // append. NORMAL: a commit survives the program being killed; only the history's
  // revisions, which must outlive a power cut before a program is replaced, ask for FULL.
  db->exec("PRAGMA journal_mode = WAL");
  db->exec("PRAGMA synchronous = NORMAL");
  migrate(*db, journal_migrations());
  return db;
}

std::unique_ptr<Db> open_journal_reader(const fs::path& station_dir) {
  const fs::path file = journal_path(station_dir);
  std::error_code ec;
  if (!fs::is_regular_file(file, ec))
    throw SqlError("no journal in " + station_dir.string() + " (the station has not run yet)", 0);
  // A read-only connection cannot recover the write-ahead log a killed station left, so it
  // could not read the journal until the station ran again; one that may write can, and
  // only where the files cannot be written is the journal read as it stands.
  std::unique_ptr<Db> db;
  try {
    db = std::make_unique<Db>(file, Db::Access::Query);
  } catch (const SqlError&) {
    db = std::make_unique<Db>(file, Db::Access::ReadOnly);
  }
  db->busy_timeout(kReaderBusyMs);
  check_readable(*db);
  return db;
}

std::string journal_time(const LocalTime& t) {
  return fmt::format("{:04}-{:02}-{:02} {:02}:{:02}:{:02}", t.year, t.month, t.day, t.hour,
                     t.minute, t.second);
}

}  // namespace shoplink
