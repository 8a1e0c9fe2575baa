#pragma once
// Program history: every content a program had when the station replaced it, and every
// content it put in its place, as numbered revisions in the journal.
//
// The contents are blobs in the journal itself rather than files under a history folder: the
// old content, the new content and both revision rows go in in one transaction, so a kill at
// any moment leaves either all of them or none, never a row without its content or a file
// nobody refers to; a reader (the commands, a status page) needs one read-only connection
// and nothing else; and the station's own files are one folder. Each content is kept once
// (looked up by size and hash, compared in full), however many revisions share it.
//
// A replace is written in two steps around it: before, the old content (unless the last
// revision already holds it) and the new one, the new one marked pending; after, the mark
// is cleared, or the row removed when the replace failed. A pending row left by a kill is
// settled against the program file: kept when the file holds its content, removed when not.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/station_events.hpp"
#include "journal/sqlite_db.hpp"

namespace shoplink {

struct Revision {
  std::int64_t id = 0;
  std::string program;  // host path
  int number = 0;
  std::string time;
  int port = 0;
  std::string machine;
  std::string origin;  // upload, manual receive, restore, found, changed outside, discarded
  std::string note;
  std::int64_t size = 0;
  std::int64_t blob = 0;
  bool pending = false;
};

// The key a program's revisions are kept under: its absolute host path, lexically normal.
std::string history_key(const std::filesystem::path& program);

// Programs larger than this are not kept (the revision is skipped and the skip logged).
inline constexpr std::int64_t kMaxRevisionBytes = 64ll << 20;

struct TooLargeForHistory : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The bytes of a file; nullopt when it is not a regular file or cannot be read. Throws
// TooLargeForHistory when it is larger than kMaxRevisionBytes.
std::optional<std::string> read_program_file(const std::filesystem::path& file);

class ProgramHistory {
 public:
  explicit ProgramHistory(Db& db) : db_(db) {}

  // Before `c.incoming` replaces `c.program`: keeps the old content (from `c.previous`) when
  // the last revision does not hold it, and the new one as pending. Returns the pending
  // revision's id. Written with a full sync: it must outlive a power cut.
  std::int64_t keep_before_replace(const ProgramChange& c, const std::string& time);
  // After the replace: the pending revision stays (replaced) or goes.
  void replace_done(std::int64_t pending, bool replaced);
  // An upload that did not become its program: a revision of `trash`, noting the program
  // it was meant for.
  void keep_discarded(const ProgramChange& c, const std::filesystem::path& trash,
                      const std::string& time);
  // Settles the pending revisions left by a kill; returns how many.
  int settle_pending();
  // Keeps the last `keep` revisions of `program`; returns how many went.
  int prune_program(const std::string& program, int keep);
  // Removes the oldest revisions (never a program's newest) until the contents take at most
  // `bytes`; returns how many went.
  int prune_to_size(std::int64_t bytes);
  std::int64_t content_bytes();

  // Newest first. A pending revision is shown only when the program file holds it.
  std::vector<Revision> revisions(const std::string& program);
  // The latest revisions across all programs, newest first.
  std::vector<Revision> recent(int limit);
  std::optional<Revision> revision(const std::string& program, int number);
  std::string content(const Revision& r);
  // The programs with a history, the one changed last first.
  std::vector<std::string> programs();
  // Programs with a history whose file name is `name`, without regard to case.
  std::vector<std::string> programs_named(const std::string& name);

 private:
  std::int64_t put_blob(const std::string& bytes);
  bool blob_holds(std::int64_t blob, const std::string& bytes);
  std::int64_t insert(const ProgramChange& c, const std::string& program, int number,
                      const std::string& time, const std::string& origin, const std::string& note,
                      const std::string& bytes, bool pending);
  void drop_revisions(const std::vector<std::int64_t>& ids);
  bool visible(const Revision& r);

  Db& db_;
};

}  // namespace shoplink
