#pragma once
// The SABLE CARBON site keeps its machine-activity records in one file per work shift, in the
// station directory, named by the day the shift began: mm-dd-yy.001 (07:00:00-14:59:59),
// .002 (15:00:00-22:59:59) and .003 (23:00:00-06:59:59; the hours after midnight keep the
// evening's date).
#include <string>
#include <string_view>

#include "base/clock.hpp"

namespace shoplink {

class Station;

// mm-dd-yy of `day` followed by `extension`: 12-07-26.002.
std::string shift_file_name(const LocalTime& day, std::string_view extension);

// The name of the shift file that holds records made at `now`.
std::string shift_file_at(const LocalTime& now);

// ShiftFile = today's date (of `now`) with `extension` (".001", ".002" or ".003").
void Sable_carbon_mod2(Station& s, std::string_view extension, const LocalTime& now);
// ShiftFile for the shift of the current time (or of `now`); run once at start-up.
void Sable_carbon_mod3(Station& s);
void Sable_carbon_mod3(Station& s, const LocalTime& now);
// Keeps ShiftFile on the current shift: run once per scan pass and before each record (with
// the record's own time), so a shift change is taken up by the first pass or record after
// it, however long a transfer kept the scan from passing the last port.
void Sable_carbon_mod4(Station& s);
void Sable_carbon_mod4(Station& s, const LocalTime& now);

}  // namespace shoplink
