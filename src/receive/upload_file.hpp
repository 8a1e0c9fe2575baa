#pragma once
// The file an upload is written to (`Openfile`), and keeping an old program safe until the
// upload has really begun.
//
// A store request that would replace an existing program writes the upload under a
// temporary name ("~" & name & ".upload", never listed) in the program's own directory.
// The first data of the upload move it over the program in one step; an upload during
// which nothing arrives is thrown away and the old program stays exactly as it was.
#include <string>
#include <string_view>

namespace shoplink {

class Station;

// Creates `text` (a station path) for writing under a free file number in `Openfile`,
// replacing any file of that name. With `keep_old_until_data`, the old program is kept
// until upload_data_arrived(). `confine` refuses names outside the station's directories
// (names that came from a machine). False on failure, with `error_number` set.
bool create_upload_file(Station& s, const std::string& text, bool keep_old_until_data,
                        bool confine);
// Creating `Filename` failed: log 25, then `Filename` = the station's TRASH file, log 26, and
// the upload goes there.
void store_in_trash(Station& s);

// One line of the upload: in double quotes when `filetype` is 3, then CR LF.
void write_upload_line(Station& s, std::string_view line);
// Bytes exactly as they came (binary reception).
void write_upload_bytes(Station& s, std::string_view bytes);

// The upload's first data are here: the program is replaced now.
void upload_data_arrived(Station& s);
// Closes `Openfile`. True when an upload that never received data was thrown away (the old
// program is untouched).
bool close_upload_file(Station& s);

// Error number kept for log 25 when a machine names a place outside the station's
// directories (permission denied).
inline constexpr int kConfinedError = 13;

}  // namespace shoplink
