#pragma once
// Program names and file names: the free text after a command character becomes a program
// name, the request's directory (HSTR) and a file name in the named or numbered form.
#include <cstddef>
#include <string>

#include "requests/command_parse.hpp"

namespace shoplink {

class Station;

enum class NameResult {
  Named,  // program_name and HSTR are set
  Ended,  // nothing was named: the request has been answered as not found
};

// Cuts the program name from `command` starting at the 1-based position `start` (just after
// the command character). Sets program_name, explicit_dir, HSTR and Drip; a drive or path in
// the command is taken into HSTR and removed from `command`.
NameResult parse_program_name(Station& s, CommandParse& p, RequestKind kind, std::size_t start);

// parse_program_name, then Filename in the numbered form (HSTR\PROGnnnn, pcnc_file_no) or
// the named form (HSTR\name plus the port's extension).
NameResult resolve_file_name(Station& s, CommandParse& p, RequestKind kind, std::size_t start);

// The file of program `name` in HSTR: HSTR\PROG & name in the numbered form; HSTR\name and
// the port's extension (when not already part of it) in the named form, at the HADLEY TOOL
// site HSTR\O & name & ".NC".
std::string program_file_name(const Station& s, const std::string& name);

enum class LookupResult { Matched, NoMatch, Ended };

// With "/32": parse_program_name, then the name is looked up in HSTR\CONTENTS; on a match
// Filename, pcnc_file_no and pcnc_file_name name that numbered program. A file request also
// accepts a record whose name begins with the requested one, unless the port has "/F".
LookupResult lookup_contents_name(Station& s, CommandParse& p, RequestKind kind, std::size_t start);

// The numbered form (PROGnnnn) applies: file type 3 or station default ASCII, and the port
// names neither WINDOWS nor DOS.
bool numbered_form(const Station& s);
// The station default is PCNC or ASCII and the port names neither WINDOWS nor DOS: names are
// numbers of four digits.
bool four_digit_names(const Station& s);

// GARNET MANUFACTURING writes names in parentheses: a leading "(" and trailing ")" or
// spaces are not part of the name.
void garnet_program_name(std::string& name);

}  // namespace shoplink
