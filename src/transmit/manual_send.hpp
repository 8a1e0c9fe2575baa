#pragma once
// The operator's own transfers out: Mode > Send file, the Send now and Stop buttons.
#include <string>

namespace shoplink {
class Station;

// The file dialogs' filter list: all, text and PROG files, and the port's own extension.
std::string transfer_filter(const std::string& extension);
// "port 3 - MORI NL2500" (the machine name only when the port has one), for the dialogs
// and status lines of the operator's own transfers.
std::string port_and_machine(const Station& s);

void mode_send_Click(Station& s);
void Command1_Click(Station& s);  // "Send now"
void Command2_Click(Station& s);  // "Stop"

inline constexpr const char* kTraceFile = "trace";

}  // namespace shoplink
