#pragma once
// Per-port LEADER.nnn / TRAILER.nnn files (sent unchanged around every program) and the
// cross-reference file that maps program names to the drive holding them.
#include <optional>
#include <string>
#include <string_view>

namespace shoplink {

class Station;

// Fills ports[1..8].leader and .trailer byte for byte; a missing file leaves them empty.
void read_leaders_trailers(Station& s);
// Fills s.xref from XREF, or PROGXREF when there is no XREF; lines "name = drive".
void read_xref(Station& s);

// The drive ("G:") of the last entry named exactly `name`.
std::optional<std::string> xref_drive(const Station& s, std::string_view name);
// `path` with its first two characters (drive letter and colon) replaced by those of the
// cross-referenced drive of `name`; unchanged when `name` has no entry.
std::string apply_xref(const Station& s, std::string_view name, std::string path);

}  // namespace shoplink
