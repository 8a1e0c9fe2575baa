#pragma once
// Small pieces of the operator window and site checks that every transfer step shares.
#include <functional>
#include <string_view>

namespace shoplink {
class Station;

// The Mode menu's Scanning, Send file, Receive file, Terminal and Exit items and Configure's
// Enter Password: unavailable while a transfer runs.
void set_transfer_menus(Station& s, bool enabled);
// The configured customer name, upper-cased, contains `site` (given in upper case).
bool customer_is(const Station& s, std::string_view site);
// The port being served has `word` in its code line (a plain substring test).
bool port_has(const Station& s, std::string_view word);

// Runs `wait` (one of the station's own pauses inside a transfer: an acknowledgement wait, a
// buffer clear) with the stall time-out held, so that only the machine's silence counts
// against it; re-arms it afterwards unless the transfer was stopped meanwhile.
void hold_stall_timeout(Station& s, const std::function<void()>& wait);
// Logs why the machine stopped taking characters: CTS off, an Xoff, or neither.
void log_handshake_timeout(Station& s);

// The transfer on the stack must end now, without its completion: the operator's Stop, a
// stall, or the station stopping (close box, Exit, a stop signal), whose waits all return
// at once and would otherwise run the rest of the program out as if it had been sent.
bool transfer_stopped(const Station& s);

// The station stops while a transmission runs: it ends as Stop ends it, logged as aborted.
void abandon_transmission(Station& s);

}  // namespace shoplink
