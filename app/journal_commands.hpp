#pragma once
// `shoplink history`, `diff`, `restore` and `transfers`: the journal read (and, for restore,
// written) beside a running station. Each prints its answer on `out` and returns 0, or prints
// one line on `err` and returns 1.
#include <iosfwd>
#include <string>
#include <vector>

namespace shoplink {

struct JournalCommand {
  std::string station_dir = ".";
  std::vector<std::string> maps;  // --map NAME=VALUE
  std::string program;            // a host path, or a name (with --port)
  int port = 0;
  std::vector<int> revisions;  // diff: REV [REV2]; restore: REV
  std::string since;           // transfers: YYYY-MM-DD [HH:MM[:SS]]
  bool csv = false;
};

int history_command(const JournalCommand& c, std::ostream& out, std::ostream& err);
int diff_command(const JournalCommand& c, std::ostream& out, std::ostream& err);
int restore_command(const JournalCommand& c, std::ostream& out, std::ostream& err);
int transfers_command(const JournalCommand& c, std::ostream& out, std::ostream& err);

}  // namespace shoplink
