#pragma once
// Controls that talk their own dialect on top of a plain machine: the Burny CLINK exchange
// ("!FG" / "!FD" behind ESC ENQ, SUB as the end), the EMCO header sent ahead of an upload, the
// OKUMA "$" program line.
#include <string>
#include <vector>

#include "machine.hpp"

namespace shoplink::sim {

// "!FG" NAME behind ESC ENQ: asks the station for a program.
void burny_download(Machine& m, const std::string& name);
// "!FD" NAME behind ESC ENQ, then the program and a SUB line to end it.
void burny_upload(Machine& m, const std::string& name, const std::string& program_text);
// "%MPF1" on its own, then the program.
void emco_upload(Machine& m, const std::string& program_text);
// "$" NAME "%" as the first line, then the program.
void okuma_upload(Machine& m, const std::string& name, const std::string& program_text);

// One "!FD" reply the station sent a Burny control: the name it names and, unless the
// program is missing (SUB right after the reply), the program's lines without the opening "%".
struct ClinkReply {
  std::string name;
  bool missing = false;
  std::vector<std::string> lines;
};
std::vector<ClinkReply> clink_replies(const Machine& m);

}  // namespace shoplink::sim
