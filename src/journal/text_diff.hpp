#pragma once
// Differences between two contents of a program as a unified diff. The lines are compared as
// a machine reads them: the parity bit is dropped and CR LF, a lone CR and a lone LF all end
// a line (a last line without an end counts too), so a program that only went through a
// machine with another parity or line end shows no difference. The edit script comes from
// Debian's dtl (libdtl-dev); only the hunks are formed here.
#include <string>
#include <string_view>
#include <vector>

namespace shoplink {

// The lines of a program as compared: parity dropped, without their ends.
std::vector<std::string> program_lines(std::string_view bytes);

// "--- old_label", "+++ new_label", then "@@ -a,b +c,d @@" hunks with `context` lines around
// each change; empty when the contents do not differ. Control characters in lines are shown
// as <1B>.
std::string unified_diff(std::string_view old_bytes, std::string_view new_bytes,
                         const std::string& old_label, const std::string& new_label,
                         int context = 3);

}  // namespace shoplink
