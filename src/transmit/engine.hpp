#pragma once
// The transmission engine: sends the open program file line by line under all controller
// rules, then the trailer, and ends the transfer.
#include <string>

namespace shoplink {
class Station;

// Runs until the open file is sent or a stop is requested; always ends with the closing
// steps (buffers discarded, the controller's port buffer cleared).
void run_transmission(Station& s);

// The text that ends a program on the current port (the first rule that applies),
// `prev_line` being the last program line sent.
std::string trailer_text(Station& s, const std::string& prev_line);

// The sent-text display keeps only the recent past: above 1024 characters it is cut to its
// last 512, from just after the first line end among them.
void cut_display_buffer(std::string& display);

}  // namespace shoplink
