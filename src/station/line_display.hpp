#pragma once
// What the window shows of the host line: the lamp, and while the station is scanning over a
// line that is down, a status that says so instead of " Scanning... ".
namespace shoplink {

class Station;

// With the display refresh (Timer5), after the host line watch has had its look.
void show_line_state(Station& s);

}  // namespace shoplink
