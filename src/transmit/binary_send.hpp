#pragma once
// Binary transmission: a "BINARY" port gets its program file byte for byte, with no line
// handling, code conversion, end of block, leader or trailer.
#include <string>

namespace shoplink {
class Station;

// Copies `Filename` to the machine under Xon/Xoff, CTS and a transmit buffer of at most
// three bytes, pausing after each byte for the port's CD= setting; then completes the
// transfer and closes it. Returns early, without completion, when a stop is requested.
// The line's option flag (switched off by the caller for binary data) is on again after.
void send_binary_file(Station& s);

// The bytes of a binary program as they go on the host line: the port controller takes DC4
// as its command character, so a DC4 in the data is doubled and reaches the machine as one.
std::string binary_line_bytes(unsigned char byte);

}  // namespace shoplink
