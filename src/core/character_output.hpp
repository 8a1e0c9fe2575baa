#pragma once
// The only two ways any part of the station writes to the host line.
#include <string_view>

namespace shoplink {
class Station;

// Raw output: each character as an output operation of its own; no display, no handshake.
void sendchar2(Station& s, std::string_view text);

}  // namespace shoplink
