#include "journal/schema.hpp"

#include <string>

#include "journal/sqlite_db.hpp"

namespace shoplink {

namespace {

// Version 1, the first release. Times are local "YYYY-MM-DD HH:MM:SS" texts, which sort as
// they read; names (kinds, results, origins) are stored as their words so that the journal
// reads plainly in any SQLite tool.
constexpr std::string_view kVersion1 = R"sql(
CREATE TABLE station_events(
  id INTEGER PRIMARY KEY,
  time TEXT NOT NULL,
  kind TEXT NOT NULL,           -- started, stopping, line opened, line lost ...
  detail TEXT NOT NULL DEFAULT ''
);
CREATE INDEX station_events_time ON station_events(time);

CREATE TABLE transfers(
  id INTEGER PRIMARY KEY,
  port INTEGER NOT NULL,
  machine TEXT NOT NULL,
  program TEXT NOT NULL,        -- host path
  kind TEXT NOT NULL,           -- request, listing, reply, manual send, upload ...
  started TEXT NOT NULL,
  ended TEXT NOT NULL,
  characters INTEGER NOT NULL,
  result TEXT NOT NULL,
  reason TEXT NOT NULL DEFAULT ''
);
CREATE INDEX transfers_started ON transfers(started);

CREATE TABLE machine_events(
  id INTEGER PRIMARY KEY,
  port INTEGER NOT NULL,
  machine TEXT NOT NULL,
  kind TEXT NOT NULL,
  text TEXT NOT NULL DEFAULT '',
  time TEXT NOT NULL
);
CREATE INDEX machine_events_time ON machine_events(time);

-- Program contents, each kept once however many revisions share it.
CREATE TABLE blobs(
  id INTEGER PRIMARY KEY,
  hash INTEGER NOT NULL,        -- FNV-1a 64 of the bytes: a lookup key, compared in full
  size INTEGER NOT NULL,
  data BLOB NOT NULL
);
CREATE INDEX blobs_hash ON blobs(hash, size);

CREATE TABLE revisions(
  id INTEGER PRIMARY KEY,
  program TEXT NOT NULL,        -- host path
  number INTEGER NOT NULL,      -- 1, 2, 3 ... per program, never reused
  time TEXT NOT NULL,
  port INTEGER NOT NULL,        -- 0: not from a port
  machine TEXT NOT NULL DEFAULT '',
  origin TEXT NOT NULL,         -- upload, manual receive, restore, found, changed outside
  note TEXT NOT NULL DEFAULT '',
  size INTEGER NOT NULL,
  blob INTEGER NOT NULL REFERENCES blobs(id),
  pending INTEGER NOT NULL DEFAULT 0,  -- 1 from just before the replace until it is done
  UNIQUE(program, number)
);
CREATE INDEX revisions_blob ON revisions(blob);
CREATE INDEX revisions_recent ON revisions(id, program);
)sql";

// Version 2: the plant publisher's outbox. A message is written here before it goes to the
// broker and removed when the broker has acknowledged it; its sequence number (never
// reused: AUTOINCREMENT) is in its payload, so a consumer tells a message sent twice.
constexpr std::string_view kVersion2 = R"sql(
CREATE TABLE plant_outbox(
  seq INTEGER PRIMARY KEY AUTOINCREMENT,
  topic TEXT NOT NULL,
  body TEXT NOT NULL,           -- a JSON object without its sequence number
  retain INTEGER NOT NULL DEFAULT 0,
  created TEXT NOT NULL
);
-- Messages dropped from a full outbox, told to the broker once it is back.
CREATE TABLE plant_outbox_dropped(
  id INTEGER PRIMARY KEY CHECK (id = 1),
  count INTEGER NOT NULL,
  first_seq INTEGER NOT NULL,
  last_seq INTEGER NOT NULL,
  since TEXT NOT NULL
);
)sql";

constexpr Migration kMigrations[] = {
    {1, kVersion1},
    {2, kVersion2},
};

}  // namespace

std::span<const Migration> journal_migrations() {
  return kMigrations;
}

int journal_schema_version() {
  return kMigrations[std::size(kMigrations) - 1].version;
}

void migrate(Db& db, std::span<const Migration> steps) {
  const int known = steps.empty() ? 0 : steps.back().version;
  for (const Migration& step : steps) {
    Transaction tx(db);
    // Read inside the transaction: another process may have migrated meanwhile.
    const auto version = db.pragma_int("user_version");
    if (version > known)
      throw SqlError("the journal is from a newer ShopLink (schema " + std::to_string(version) +
                         ", this one knows " + std::to_string(known) + ")",
                     0);
    if (version >= step.version) continue;
    db.exec(step.sql);
    db.exec("PRAGMA user_version = " + std::to_string(step.version));
    tx.commit();
  }
}

void check_readable(Db& db) {
  const auto version = db.pragma_int("user_version");
  if (version > journal_schema_version())
    throw SqlError("the journal is from a newer ShopLink (schema " + std::to_string(version) + ")",
                   0);
  // A reader never migrates: the station does when it starts.
  if (version == 0)
    throw SqlError("the journal is empty (the station has not written to it yet)", 0);
  if (version < journal_schema_version())
    throw SqlError("the journal is from an older ShopLink (schema " + std::to_string(version) +
                       "); the station brings it up to date when it starts",
                   0);
}

}  // namespace shoplink
