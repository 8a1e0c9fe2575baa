#pragma once
// The file request: find the requested program across the send directories and, when it is
// missing or empty, prepare the not-found reply that is sent in its place.
#include <string>
#include <string_view>

#include "requests/command_parse.hpp"

namespace shoplink {

class Station;

inline constexpr const char* kNotFoundReply = "notfound.alm";

// Resolves the name after the T character, logs the request and tests the file; tries the
// further send directories; answers a missing program with the not-found reply. The
// settling timer armed by the caller then leads to the transmission of `Filename`.
void file_request(Station& s, CommandParse& p);

// "(FILE " & the upper-cased name after the last "\" & " NOT FOUND)"
std::string notfound_line(std::string_view filename);

// Writes the reply file notfound.alm in the station directory (the port's `subdir` line
// first when set, then `line`), makes it `Filename` and logs "File not found".
void answer_not_found(Station& s, const std::string& line);

// Found: the file can be opened, is a regular file and is not empty. A path the machine may
// not reach counts as missing and is never opened.
bool program_file_present(Station& s, const CommandParse& p, std::string_view filename);

}  // namespace shoplink
