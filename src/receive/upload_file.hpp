#pragma once
// The file an upload is written to (`Openfile`), and keeping an old program safe until the
// upload has ended well.
//
// Every upload is written under a temporary name ("~" & name & ".upload", never listed or
// served, always a file made new) in its program's own directory. Only when the upload ends
// with every write, flush and close done does it commit, in this order: the new index is
// written beside the old one, the old program is kept as its backup ("/BAK", a second name
// for it, so the program is never missing), the temporary takes the program's place in one
// step, and the new index the old one's. A stop at any moment leaves the old program or the
// new one, and start-up finishes or undoes what a stop interrupted. An upload that stored no
// line, whose writing failed, or during which the host line broke never replaces anything.
#include <filesystem>
#include <string>
#include <string_view>

namespace shoplink {

class Station;

// Creates the temporary for `text` (a station path) under a free file number in `Openfile`.
// False on failure, with `error_number` set.
bool create_upload_file(Station& s, const std::string& text);
// Creating `Filename` failed, or the station refuses its name: log 25, then `Filename` =
// the station's TRASH file, log 26, and the upload goes there.
void store_in_trash(Station& s);
// "/BAK": the program the upload replaces is kept under `bak_text` (`BAK_name`).
void keep_backup_at_commit(Station& s, const std::string& bak_text);
// The upload enters `number` and `name` in its folder's CONTENTS when it commits (appended
// at the end with `append`).
void index_at_commit(Station& s, const std::string& number, const std::string& name, bool append);

// One line of the upload: in double quotes when `filetype` is 3, then CR LF.
void write_upload_line(Station& s, std::string_view line);
// Bytes exactly as they came (binary reception).
void write_upload_bytes(Station& s, std::string_view bytes);

// A line (or binary data) of the upload has been stored: the upload will replace the old
// program when it ends well.
void upload_data_arrived(Station& s);

enum class UploadEnd {
  Stored,       // the upload is in its place (the program's, or TRASH's)
  Discarded,    // nothing was stored; the old program is untouched
  Failed,       // a write failed: the old program is untouched, log 25 and the status say why
  KeptInTrash,  // it could not safely take the program's place (the host line broke during
                // it, or the backup could not be made): kept in TRASH, logged with the reason
};
// Closes `Openfile` and commits the upload.
UploadEnd close_upload_file(Station& s);

// The upload was cut short (the station stops): its temporary goes; the old program and its
// backup stay exactly as they were.
void discard_upload_file(Station& s);

// The temporary name an upload is written under.
bool is_upload_temporary(std::string_view name);
// Start-up: in the station's directories (and their folders), an upload that a stop
// interrupted before it took the program's place is removed with its new index; one that
// had replaced the program gets its new index put in place.
void finish_interrupted_uploads(Station& s);
// The temporary for new content of `target` (a restore writes there too).
std::filesystem::path upload_temporary_for(const std::filesystem::path& target);

// Files the station itself reads or writes (configuration, log, queue command files, reply
// and index files, activity and shift files, upload temporaries), matched by name without
// regard to case and by the directory they resolve to. A machine's upload never replaces one
// of them.
bool station_own_file(const Station& s, const std::string& text);

// Files of the station's own that hold what is not for the machines (HOSTMAP with its
// passwords): never sent on a file request.
bool station_private_file(const Station& s, const std::string& text);

// Error number kept for log 25 when a machine names a place outside the station's
// directories, or one of the station's own files (permission denied).
inline constexpr int kConfinedError = 13;

// Test seam: when set, called after each step of a commit with the step's name; a test
// throws from it to stand for a stop at that moment.
extern void (*g_upload_commit_step)(const char* step);

}  // namespace shoplink
