#pragma once
// The journal's rows of what happened: transfers, machine activity, the host line and the
// station's starts and stops; and their retention.
#include <cstdint>
#include <string_view>

#include "core/station_events.hpp"
#include "journal/sqlite_db.hpp"

namespace shoplink {

class JournalRows {
 public:
  explicit JournalRows(Db& db);
  void add_transfer(const TransferEnd& t);
  void add_activity(const ActivityRecord& a);
  // Station start and stop, and the host line's states.
  void add_station_event(const LocalTime& at, std::string_view kind, std::string_view detail);
  // Removes the rows of all three kinds from before `days` days before `now`; returns how
  // many went.
  std::int64_t prune(const LocalTime& now, int days);

 private:
  Db& db_;
  Statement transfer_, activity_, station_;
};

}  // namespace shoplink
