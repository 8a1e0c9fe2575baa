#pragma once
// What happens to one complete line of an upload: the controller and site rules in their
// fixed order, then storing, counting and showing.
#include <string>
#include <string_view>

namespace shoplink {

class Station;

enum class LineOutcome { Stored, Dropped, Shown, UploadEnded };

// `line` is decoded text without its line end. Empty lines are dropped.
LineOutcome complete_received_line(Station& s, std::string line);

// Writes a line of the program (quoted in the numbered form), counts it in `char_count` and
// keeps it as `Last_RX_line` when it is not empty.
void store_program_line(Station& s, std::string_view line);

}  // namespace shoplink
