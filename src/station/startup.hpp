#pragma once
// Start-up (the main window's load), shutdown (its query-unload) and its keyboard.
namespace shoplink {
class Station;

void startup(Station& s);
// Closes files and the line and logs the stop; once only, so the stop is the last line.
void shutdown(Station& s);
// Every way out of the program begins here: a transmission or upload that runs ends as
// Stop ends it, logged as aborted, never as sent or received.
void abandon_transfers(Station& s);
// SIGINT/SIGTERM: abandon what runs and end the loop once the handlers on the stack have
// returned (every wait sees it at once); the caller then runs `shutdown`.
void request_stop(Station& s);
// The main window's key press, given the character code.
void key_press(Station& s, int key);
// Select port n from the keyboard: the station stays on it until Timer8 resumes scanning.
void select_port(Station& s, int n);
// A click on port n's tile in the window: as typing n and Enter while scanning.
void port_tile_Click(Station& s, int n);

void Timer8_Timer(Station& s);

// Window title: "SHOPLINK 8 port communications system".
inline constexpr const char* kScreenStatusFile = "SHOPLINK Screen status";
inline constexpr const char* kScanrateFile = "Scanrate";
}  // namespace shoplink
