#pragma once
// The store request: the machine is about to upload a program. The station chooses the file
// (named or numbered form, a generated number, a backup of the old program), opens it with
// its header lines and arms the reception engine, which stores what follows.
#include <string>

#include "requests/command_parse.hpp"

namespace shoplink {

class Station;

// Entered from the interpreter with `r_pos` set.
void store_request(Station& s, CommandParse& p);

// The rest of a store once `program_name`, `program_comment` and HSTR are known: arming the
// reception (at once when `with_id`), the file name, the old program, creating the file, its
// header and first lines. For command forms that name the program themselves (EZTRAK: set
// `with_id`, the name, HSTR and the first line in `command`, then call this).
void open_store_file(Station& s, CommandParse& p);

// The upload file's name with ".BAK" in place of its extension.
std::string backup_name(const std::string& filename);

// The first number (four digits at least) whose file, named as the store will name it (the
// port's numbered or named form), does not exist, up to `last` (0: as far as five digits);
// empty when the directory may not be reached or no number is free.
std::string first_unused_number(Station& s, const CommandParse& p, int last = 0);

}  // namespace shoplink
