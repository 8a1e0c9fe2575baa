#pragma once
// Where the journal lives and how a connection to it is opened: the folder JOURNAL in the
// station directory holds the SQLite database journal.sqlite (and, while it is open, SQLite's
// journal.sqlite-wal and journal.sqlite-shm). It is the station's own: no machine stores into
// it and no request serves from it.
#include <filesystem>
#include <memory>
#include <string>

#include "base/clock.hpp"
#include "core/station_files.hpp"  // kJournalFolder

namespace shoplink {

class Db;

inline constexpr const char* kJournalFile = "journal.sqlite";

std::filesystem::path journal_path(const std::filesystem::path& station_dir);

// The writer's connection: the folder and database are made when missing, WAL mode, the
// schema brought up to date. Throws SqlError.
std::unique_ptr<Db> open_journal_writer(const std::filesystem::path& station_dir);
// A reader's connection; it writes nothing and never blocks the writer. Throws SqlError when
// there is no journal or it has not this program's schema.
std::unique_ptr<Db> open_journal_reader(const std::filesystem::path& station_dir);

// "2026-12-07 06:45:30": local time as the journal keeps it.
std::string journal_time(const LocalTime& t);

}  // namespace shoplink
