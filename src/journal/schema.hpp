#pragma once
// The journal's schema: a version number (SQLite's user_version) and the forward
// migrations that bring any older journal up to it, each in one transaction. A journal
// written by a newer ShopLink is read but never written.
#include <span>
#include <string_view>

namespace shoplink {

class Db;

struct Migration {
  int version;           // the schema version this step makes
  std::string_view sql;  // run in one transaction with the version update
};

// Every migration since the first release, oldest first; the last one's version is current.
std::span<const Migration> journal_migrations();
int journal_schema_version();

// Brings `db` up to the last of `steps`. Throws SqlError when the journal is newer than
// the steps know (it is never changed then) or a step fails (it is rolled back whole).
void migrate(Db& db, std::span<const Migration> steps);
// Throws SqlError unless `db` has this program's schema: a newer journal is not misread, an
// empty or older one is for the station to bring up to date.
void check_readable(Db& db);

}  // namespace shoplink
