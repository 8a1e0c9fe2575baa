#pragma once
// Second tries for a requested program that is missing: the cross-referenced site's saved
// directory, and the file-name conventions of sites whose machines ask for a name that
// differs from the stored one. Each step changes `Filename` and is tried once.
#include <string>

#include "requests/command_parse.hpp"

namespace shoplink {

class Station;

// DUN-VARLEY: the same file directly in the directory saved before the letter subdirectory
// was added. False when there is nothing to retry (or it was retried already).
bool dun_varley_saved_directory(Station& s, CommandParse& p);

// KEL-BRAN: a space after "PF" in the file's name ("PF123" was stored as "PF 123").
bool kel_bran_pf_space(Station& s, CommandParse& p);
// CORRIGAN: a name that begins with neither "MO" nor "M0" gets "MO" in front (log 34).
bool corrigan_mo_prefix(Station& s, CommandParse& p);
// CORRIGAN: a name that begins with "MO" has it replaced by "M0" (log 36).
bool corrigan_m0_prefix(Station& s, CommandParse& p);
// SABLE CARBON: "\TEMP" after the drive, unless the path is there already.
bool sable_carbon_temp(Station& s, CommandParse& p);

using FileRetry = bool (*)(Station&, CommandParse&);
// The site retries, in their fixed order; each applies at most once per directory tried.
inline constexpr FileRetry kSiteRetries[] = {
    kel_bran_pf_space,
    corrigan_mo_prefix,
    corrigan_m0_prefix,
    sable_carbon_temp,
};

// The command without spaces after the T character (KEL-BRAN machines space their names).
void kel_bran_strip_spaces(CommandParse& p);

}  // namespace shoplink
