#pragma once
// The scanning selection (Mode menu > Scan): the one way every mode returns to scanning, used
// by the purge, the end of transfers and the window alike.
namespace shoplink {
class Station;

void mode_scan_Click(Station& s);

}  // namespace shoplink
