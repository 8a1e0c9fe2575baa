#pragma once
// The scanning cycle: the walk through the machine ports, queue command files, the display
// refresh and the comm event. The scanning selection it starts from is in core.
#include <string>

namespace shoplink {
class Station;

// The scan tick (Timer2).
void Timer2_Timer(Station& s);
// Display refresh and CTS lamp (Timer5).
void Timer5_Timer(Station& s);
// The serial comm event, and the flow-control release it arms (Timer14).
void PDQComm1_OnComm(Station& s, int event_code);
void Timer14_Timer(Station& s);

// queue_dir & "\SHOPLINK Queue command" & Str(port)
std::string queue_command_file(const Station& s, int port);

}  // namespace shoplink
