#pragma once
// The operator's own transfer in: Mode > Receive file, and Esc giving up the wait for data.
namespace shoplink {
class Station;

void mode_receive_Click(Station& s);
// Esc while a manual receive still waits for its first data (mode 2, `receiving` 0).
void abort_receive_wait(Station& s);

}  // namespace shoplink
