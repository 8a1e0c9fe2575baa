#pragma once
// The file an upload is written to (`Openfile`), and keeping an old program safe until the
// upload has ended well.
//
// Every upload is written under a temporary name ("~" & name & ".upload", never listed or
// served) in its program's own directory. Only when the upload ends with every write, flush
// and close done does the temporary take the program's place, in one step; an upload that
// stored no line (when it would replace a program) or whose writing failed is removed and
// the old program stays exactly as it was.
#include <filesystem>
#include <string>
#include <string_view>

namespace shoplink {

class Station;

// Creates `text` (a station path) for writing under a free file number in `Openfile`. With
// `keep_old_until_data`, an upload that stores no line leaves the old program as it is.
// `confine` refuses names outside the station's directories (names that came from a
// machine). False on failure, with `error_number` set.
bool create_upload_file(Station& s, const std::string& text, bool keep_old_until_data,
                        bool confine);
// Creating `Filename` failed: log 25, then `Filename` = the station's TRASH file, log 26, and
// the upload goes there.
void store_in_trash(Station& s);

// One line of the upload: in double quotes when `filetype` is 3, then CR LF.
void write_upload_line(Station& s, std::string_view line);
// Bytes exactly as they came (binary reception).
void write_upload_bytes(Station& s, std::string_view bytes);

// A line (or binary data) of the upload has been stored: the upload will replace the old
// program when it ends well.
void upload_data_arrived(Station& s);

enum class UploadEnd {
  Stored,     // the upload is in the program's place
  Discarded,  // nothing was stored; the old program is untouched
  Failed,     // a write failed: the old program is untouched, log 25 and the status say why
};
// Closes `Openfile` and puts the upload in place.
UploadEnd close_upload_file(Station& s);

// The temporary name an upload is written under.
bool is_upload_temporary(std::string_view name);
// The temporary for new content of `target` (a restore writes there too).
std::filesystem::path upload_temporary_for(const std::filesystem::path& target);
// Removes upload temporaries left in the station's directories by a stop or a failed rename.
void remove_upload_temporaries(Station& s);

// Files the station itself reads or writes (configuration, log, queue command files, reply
// and index files, upload temporaries), matched by name without regard to case and by the
// directory they resolve to. A machine's upload never replaces one of them.
bool station_own_file(const Station& s, const std::string& text);

// Error number kept for log 25 when a machine names a place outside the station's
// directories, or one of the station's own files (permission denied).
inline constexpr int kConfinedError = 13;

}  // namespace shoplink
