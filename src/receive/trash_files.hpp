#pragma once
// TRASH in the station directory holds the newest upload that could not go where it was
// meant to (a name the station refuses, a file that cannot be created, a host line lost
// during the upload). Earlier ones are kept beside it as TRASH.001, TRASH.002 ... (higher
// is newer), at most kTrashKeep of them; the oldest goes first. Every move is logged, so the
// log always says which file holds what.
#include <filesystem>

namespace shoplink {

class Station;

inline constexpr const char* kTrashFile = "TRASH";
inline constexpr int kTrashKeep = 50;

// Puts `data` (a finished upload's temporary) in the TRASH file's place, keeping the TRASH
// that stood there as the next numbered file. Returns 0, or the error number of the failed
// move (then `data` is left where it was).
int put_in_trash(Station& s, const std::filesystem::path& data);

}  // namespace shoplink
