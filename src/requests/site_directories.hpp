#pragma once
// Site rules that extend the request's directory (HSTR) once the program name is known: the
// cross-referenced letter subdirectories of one site, a name found by listing, and the
// numbered subdirectories of others. Applied last when a name is cut, in this order.
#include <string>

#include "requests/command_parse.hpp"

namespace shoplink {

class Station;

// DUN-VARLEY: HSTR & "\" & the name's first character; the directory before that (without
// drive and surrounding "\") is looked up in the cross references, and a match puts its
// drive on HSTR and on the saved directory (p.xref_dir).
void dun_varley_subdirectory(Station& s, CommandParse& p);
// WESTBROOK: the first file of HSTR whose name holds "O" & the name becomes the name; for a
// store, only a file named exactly "O" & the name (with or without the port's extension).
void westbrook_program_name(Station& s, CommandParse& p, RequestKind kind);
// HOLLOWAY ENGINEERING: HSTR & "\" & the number rounded up to 500s ("0500" for 0 and 1).
void holloway_engineering_subdirectory(Station& s, CommandParse& p);
// FENWICK in MARLOW: HSTR & "\1000" … "\9000" by the number in 1000s, "\10000" above.
void fenwick_subdirectory(Station& s, CommandParse& p);
// KZV COMPANY in ASHBOURNE: by the directory's end, "\0000" or the number's hundreds.
void kzv_company_subdirectory(Station& s, CommandParse& p);

// All of the above that the configured site switches on, for the kind of request.
void apply_site_directories(Station& s, CommandParse& p, RequestKind kind);

// Subdirectory texts, exposed for their edge cases.
std::string holloway_folder(double n);
std::string fenwick_folder(double n);
// Empty when the directory's end calls for none.
std::string kzv_folder(const std::string& dir, double n);

}  // namespace shoplink
