#pragma once
// Builds the send and receive code tables and the port controller's command strings at
// start-up, and converts text through the current port's send table.
#include <string>

#include "core/code_types.hpp"

namespace shoplink {

class Station;

// Fills the send rows of the six code types, the three receive rows and the controller's
// command strings.
void build_code_tables(CodeTables& codes);
void build_code_tables(Station& s);

// Converts `text` in place through the current port's send table (after the MHP lead-in of
// thirty NULs) and returns the converted text as well.
std::string code_convert(Station& s, std::string& text);

}  // namespace shoplink
