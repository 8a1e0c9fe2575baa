#include "journal/journal_rows.hpp"

#include <cmath>

#include "journal/journal_file.hpp"

namespace shoplink {

JournalRows::JournalRows(Db& db)
    : db_(db),
      transfer_(db.prepare(
          "INSERT INTO transfers(port, machine, program, kind, started, ended, characters, "
          "result, reason) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)")),
      activity_(db.prepare(
          "INSERT INTO machine_events(port, machine, kind, text, time) VALUES(?1, ?2, ?3, ?4, "
          "?5)")),
      station_(db.prepare("INSERT INTO station_events(time, kind, detail) VALUES(?1, ?2, ?3)")) {}

void JournalRows::add_transfer(const TransferEnd& t) {
  transfer_.reset();
  transfer_.bind(1, t.start.port)
      .bind(2, t.start.machine)
      .bind(3, t.start.program)
      .bind(4, name_of(t.start.kind))
      .bind(5, journal_time(t.start.started))
      .bind(6, journal_time(t.ended))
      .bind(7, static_cast<std::int64_t>(std::llround(t.characters)))
      .bind(8, name_of(t.result))
      .bind(9, t.reason)
      .run();
}

void JournalRows::add_activity(const ActivityRecord& a) {
  activity_.reset();
  activity_.bind(1, a.port)
      .bind(2, a.machine)
      .bind(3, name_of(a.kind))
      .bind(4, a.text)
      .bind(5, journal_time(a.time))
      .run();
}

void JournalRows::add_station_event(const LocalTime& at, std::string_view kind,
                                    std::string_view detail) {
  station_.reset();
  station_.bind(1, journal_time(at)).bind(2, kind).bind(3, detail).run();
}

std::int64_t JournalRows::prune(const LocalTime& now, int days) {
  const std::string cutoff = journal_time(days_before(now, days));
  std::int64_t removed = 0;
  Transaction tx(db_);
  for (const char* sql :
       {"DELETE FROM transfers WHERE started < ?1", "DELETE FROM machine_events WHERE time < ?1",
        "DELETE FROM station_events WHERE time < ?1"}) {
    db_.prepare(sql).bind(1, cutoff).run();
    removed += db_.changes();
  }
  tx.commit();
  return removed;
}

}  // namespace shoplink
