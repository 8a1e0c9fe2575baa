#pragma once
#include <string>

namespace shoplink {
// The help text of the scan failure screen: 30 lines, each ended by CR LF.
const std::string& scan_failure_help_text();
}  // namespace shoplink
