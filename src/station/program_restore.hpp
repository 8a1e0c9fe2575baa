#pragma once
// Putting a revision from the program history back as the current program: the window's
// Restore button and `shoplink restore`.
#include <filesystem>
#include <string>

namespace shoplink {

class Journal;
class Station;

struct RestoreOutcome {
  bool ok = false;
  int revision = 0;     // the revision the restored program now is
  std::string message;  // one line: what was done, or why nothing was
};

// Writes revision `number` of `program` beside it and puts it in the program's place in one
// step, as an upload does, with the program's current content kept in the history first (a
// history that cannot keep it means nothing is restored). The restore is itself a revision.
// A numbered program (PROGnnnn) with a CONTENTS index beside it gets its index line
// updated. Logged in the system log.
RestoreOutcome restore_revision(Station& s, Journal& journal, const std::filesystem::path& program,
                                int number);

}  // namespace shoplink
