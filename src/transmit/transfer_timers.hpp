#pragma once
// The timers that start and end a transmission.
namespace shoplink {
class Station;

// Handshake time-out: the machine's Xon never came (send anyway), or the machine stopped
// taking characters during the transfer (abort: "CNC won't accept").
void Timer3_Timer(Station& s);
// Two seconds after a transfer: back to scanning.
void Timer4_Timer(Station& s);
// End of settling: enters the mode named by `mode_after_purge`.
void Timer10_Timer(Station& s);
// One-shot start of the transmission after an Xon time-out.
void Timer20_Timer(Station& s);

// The settling timer's receive branch: the reception is awaited from now on (its timer
// runs). `keep_text` keeps what is already in `rx_string` as the reception's first data.
void enter_reception(Station& s, bool keep_text);

}  // namespace shoplink
