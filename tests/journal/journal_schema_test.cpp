// The journal's schema moves only forward: a journal is brought up to date step by step with
// what it holds kept, and one written by a newer ShopLink is never changed. Its rows go after
// the retention, once a day.
#include <gtest/gtest.h>

#include "journal/journal.hpp"
#include "journal/journal_file.hpp"
#include "journal/journal_rig.hpp"
#include "journal/journal_rows.hpp"
#include "journal/schema.hpp"
#include "journal/sqlite_db.hpp"
#include "support/line_station.hpp"
#include "support/temp_dir.hpp"

namespace shoplink {
namespace {

using testing::TempDir;

std::int64_t count(Db& db, const std::string& table) {
  Statement st = db.prepare("SELECT count(*) FROM " + table);
  return st.step() ? st.integer(0) : -1;
}

TEST(JournalSchema, ANewJournalHasTheCurrentVersionInWalMode) {
  TempDir dir;
  auto db = open_journal_writer(dir.path());
  EXPECT_EQ(db->pragma_int("user_version"), journal_schema_version());
  Statement mode = db->prepare("PRAGMA journal_mode");
  ASSERT_TRUE(mode.step());
  EXPECT_EQ(mode.text(0), "wal");
  // Opening again changes nothing.
  db.reset();
  db = open_journal_writer(dir.path());
  EXPECT_EQ(db->pragma_int("user_version"), journal_schema_version());
}

TEST(JournalSchema, ALaterStepKeepsWhatTheJournalHolds) {
  TempDir dir;
  Db db(dir.path() / "j.sqlite", Db::Access::ReadWrite);
  migrate(db, journal_migrations());
  db.exec("INSERT INTO station_events(time, kind) VALUES('2026-12-07 06:45:30', 'started')");
  std::vector<Migration> steps(journal_migrations().begin(), journal_migrations().end());
  const int next = journal_schema_version() + 1;
  steps.push_back({next, "ALTER TABLE station_events ADD COLUMN host TEXT NOT NULL DEFAULT ''"});
  migrate(db, steps);
  EXPECT_EQ(db.pragma_int("user_version"), next);
  Statement st = db.prepare("SELECT kind, host FROM station_events");
  ASSERT_TRUE(st.step());
  EXPECT_EQ(st.text(0), "started");
  EXPECT_EQ(st.text(1), "");
}

TEST(JournalSchema, AFailedStepLeavesTheJournalAsItWas) {
  TempDir dir;
  Db db(dir.path() / "j.sqlite", Db::Access::ReadWrite);
  migrate(db, journal_migrations());
  std::vector<Migration> steps(journal_migrations().begin(), journal_migrations().end());
  steps.push_back({journal_schema_version() + 1,
                   "CREATE TABLE extra(x); ALTER TABLE no_such_table ADD COLUMN y"});
  EXPECT_THROW(migrate(db, steps), SqlError);
  EXPECT_EQ(db.pragma_int("user_version"), journal_schema_version());
  EXPECT_THROW(db.exec("SELECT * FROM extra"), SqlError);
}

TEST(JournalSchema, AJournalFromANewerShopLinkIsNeitherWrittenNorMisread) {
  TempDir dir;
  open_journal_writer(dir.path()).reset();
  {
    Db db(journal_path(dir.path()), Db::Access::ReadWrite);
    db.exec("PRAGMA user_version = " + std::to_string(journal_schema_version() + 1));
  }
  EXPECT_THROW(open_journal_writer(dir.path()), SqlError);
  EXPECT_THROW(open_journal_reader(dir.path()), SqlError);
  Db db(journal_path(dir.path()), Db::Access::ReadOnly);
  EXPECT_EQ(db.pragma_int("user_version"), journal_schema_version() + 1);
}

TEST(JournalReader, AJournalWithoutItsSchemaIsEmptyToAReader) {
  TempDir dir;
  std::filesystem::create_directories(journal_path(dir.path()).parent_path());
  Db(journal_path(dir.path()), Db::Access::ReadWrite);  // made, and killed before its schema
  try {
    open_journal_reader(dir.path());
    ADD_FAILURE() << "an empty journal was read";
  } catch (const SqlError& e) {
    EXPECT_STREQ(e.what(), "the journal is empty (the station has not written to it yet)");
  }
}

// A station killed while it first made its journal (before the journal went over to WAL)
// leaves a hot rollback journal: the reader rolls it back instead of failing to read.
TEST(JournalReader, ReadsAJournalAKilledStationLeftHalfWritten) {
  TempDir station, copy;
  const std::filesystem::path file = journal_path(station.path());
  std::filesystem::create_directories(file.parent_path());
  Db writer(file, Db::Access::ReadWrite);
  migrate(writer, journal_migrations());
  writer.exec("PRAGMA cache_size = 1");  // pages reach the file before the commit
  writer.exec("BEGIN");
  JournalRows rows(writer);
  for (int i = 0; i < 200; ++i) rows.add_transfer(TransferEnd{});
  std::filesystem::create_directories(journal_path(copy.path()).parent_path());
  for (const char* suffix : {"", "-journal"})
    std::filesystem::copy_file(file.string() + suffix, journal_path(copy.path()).string() + suffix);
  auto reader = open_journal_reader(copy.path());
  EXPECT_EQ(count(*reader, "transfers"), 0);  // the uncommitted rows rolled back
}

TEST(JournalRetention, RowsOlderThanTheRetentionGoOnceADay) {
  // Start on 2027-12-07: the rows written "a year and a day ago" are due at the first pruning.
  testing::LineStation<> t({2027, 12, 7, 6, 0, 0});
  t.s.config.log_path = t.s.station_file("SHOPLINK.LOG");
  {
    auto db = open_journal_writer(t.dir.path());
    JournalRows rows(*db);
    TransferEnd old;
    old.start.started = {2026, 12, 6, 6, 0, 0};
    old.ended = old.start.started;
    rows.add_transfer(old);
    rows.add_activity({3, "MILL3", ActivityKind::CycleStart, "", {2026, 12, 6, 7, 0, 0}});
    TransferEnd recent = old;
    recent.start.started = {2026, 12, 7, 23, 0, 0};
    rows.add_transfer(recent);
  }
  JournalSettings settings;
  settings.retention_days = 365;
  Journal journal(t.s, settings);
  ASSERT_TRUE(journal.ready());  // the first pruning comes with the opening
  {
    auto db = open_journal_reader(t.dir.path());
    EXPECT_EQ(count(*db, "transfers"), 1);
    EXPECT_EQ(count(*db, "machine_events"), 0);
  }
  EXPECT_NE(t.dir.read("SHOPLINK.LOG").find("Journal: 2 rows older than 365 days removed"),
            std::string::npos);

  // A day later the row of 2026-12-07 23:00 is due.
  t.loop.advance(kJournalPruneEvery);
  auto db = open_journal_reader(t.dir.path());
  EXPECT_EQ(count(*db, "transfers"), 0);
}

TEST(JournalSettingsFromHostmap, ValuesAndTheirProblems) {
  HostPaths paths("/tmp");
  paths.map("HISTORY_KEEP", "7");
  paths.map("HISTORY_MB", "lots");
  paths.map("JOURNAL_DAYS", "30");
  std::vector<std::string> problems;
  const JournalSettings s = journal_settings(paths, &problems);
  EXPECT_EQ(s.history_keep, 7);
  EXPECT_EQ(s.history_bytes, JournalSettings{}.history_bytes);
  EXPECT_EQ(s.retention_days, 30);
  EXPECT_EQ(problems,
            (std::vector<std::string>{"HISTORY_MB=lots is not a whole number from 1 to 1048576"}));
}

}  // namespace
}  // namespace shoplink
