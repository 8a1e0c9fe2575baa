#pragma once
// The serial input poll (Timer13, every 150 ms): reads what has arrived and dispatches it
// by `mode`.
#include <string>
#include <string_view>

namespace shoplink {
class Station;

void Timer13_Timer(Station& s);
// Appends received characters to the I/O display text in their readable form.
void show_received(Station& s, std::string_view got);

}  // namespace shoplink
