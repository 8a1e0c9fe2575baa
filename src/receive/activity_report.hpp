#pragma once
// The activity report a machine gets back after an upload on a "REPLY=" port: the stored
// name, size, date, time and last line, in the port's own code.
#include <string>

namespace shoplink {

class Station;
struct PortSettings;

// Up to 8 characters after "REPLY=" in the port's code line.
std::string reply_value(const PortSettings& p);

// Prepares the report for the upload just stored as `report_name`. On "AB" ports it is sent
// after the control's acknowledgement (logged 23 when none comes within 20 s); on other
// ports it waits in the port's `reply_buffer` for the machine's next Xon.
void prepare_activity_report(Station& s, const std::string& report_name);

}  // namespace shoplink
