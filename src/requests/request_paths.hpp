#pragma once
// Confinement of paths built from what a machine or a queue file sent.
#include <string_view>

#include "requests/command_parse.hpp"

namespace shoplink {

class Station;

// True when `text` stays inside the station's directories: the host paths' own rule
// (station directory, mapped drives, registered roots), or inside one of the port's
// configured directories for this request. A ".." segment or a NUL never passes, nor a
// path that links (in a folder on the way, or the file itself) lead out of those.
bool request_path_allowed(const Station& s, const CommandParse& p, std::string_view text);

}  // namespace shoplink
