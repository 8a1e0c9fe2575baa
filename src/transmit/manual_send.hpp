#pragma once
// The operator's own transfers out: Mode > Send file, the Send now and Stop buttons.
#include <string>

namespace shoplink {
class Station;

// The file dialogs' filter list: all, text and PROG files, and the port's own extension.
std::string transfer_filter(const std::string& extension);

void mode_send_Click(Station& s);
void Command1_Click(Station& s);  // "Send now"
void Command2_Click(Station& s);  // "Stop"

inline constexpr const char* kTraceFile = "trace";

}  // namespace shoplink
