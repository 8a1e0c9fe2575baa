#include "transmit/program_lines.hpp"

#include <cstdio>

#include "base/file_table.hpp"
#include "core/station.hpp"
#include "requests/command_capture.hpp"

namespace shoplink {

bool next_program_line(Station& s, std::string& line) {
  std::FILE* f = s.files.get(s.Openfile);
  if (f == nullptr) return false;
  if (!s.Filter_me) return FileTable::read_line(f, line);
  const int c = std::getc(f);
  if (c == EOF) return false;
  std::ungetc(c, f);
  line = filter_input(s);
  return true;
}

}  // namespace shoplink
