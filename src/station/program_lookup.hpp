#pragma once
// The program a history command names: a host path, the file name of a program with a
// history, or a name as the machine on a port would give it in a request or an upload.
#include <filesystem>
#include <string>

namespace shoplink {

class ProgramHistory;
class Station;

struct ProgramFound {
  std::filesystem::path path;  // empty when nothing was found
  std::string error;           // why not, in one line
};

// With `port` 0, `text` is a host path (absolute, or from the current or the station
// directory) or the file name of a program that has a history. With a port, it is a name as
// that port's machine would send it: where its upload is stored, then where a request finds
// it (a program with a history first, then one that exists). The port form reads the
// station's configuration and works its request fields: only for a station that is not
// running (the commands' own reading of the directory).
ProgramFound find_program(Station& s, ProgramHistory& history, const std::string& text, int port);

}  // namespace shoplink
