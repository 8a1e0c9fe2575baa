#pragma once
// Binary transmission: a "BINARY" port gets its program file byte for byte, with no line
// handling, code conversion, end of block, leader or trailer.
namespace shoplink {
class Station;

// Copies `Filename` to the machine under Xon/Xoff, CTS and a transmit buffer of at most
// three bytes, pausing after each byte for the port's CD= setting; then completes the
// transfer and closes it. Returns early, without completion, when a stop is requested.
// The line's option flag (switched off by the caller for binary data) is on again after.
void send_binary_file(Station& s);

}  // namespace shoplink
