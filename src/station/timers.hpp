#pragma once
namespace shoplink {
class Station;
// Creates the main window's twenty timers and the power-up window's timer with their
// intervals and handlers (all stopped). The whole timing design is in timer_table.cpp.
void create_timers(Station& s);
}  // namespace shoplink
