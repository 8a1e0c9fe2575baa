#pragma once
// Start-up (the main window's load), shutdown (its query-unload) and its keyboard.
namespace shoplink {
class Station;

void startup(Station& s);
void shutdown(Station& s);
// The main window's key press, given the character code.
void key_press(Station& s, int key);
// Select port n from the keyboard: the station stays on it until Timer8 resumes scanning.
void select_port(Station& s, int n);

void Timer8_Timer(Station& s);

// Window title: "SHOPLINK 8 port communications system".
inline constexpr const char* kScreenStatusFile = "SHOPLINK Screen status";
inline constexpr const char* kScanrateFile = "Scanrate";
}  // namespace shoplink
