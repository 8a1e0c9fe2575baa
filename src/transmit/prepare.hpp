#pragma once
// One line of a program turned into the exact bytes for the machine on the current port.
#include <string>

namespace shoplink {
class Station;

// Controller and site rewriting, the end of block and the code conversion: the converted
// line followed by the port's `eob` (unconverted). A line ending in SYN, or "%*", is sent
// without its last character and without an end of block.
std::string prepare2send(Station& s, std::string line);

// HADLEY TOOL uploads: "H12X-0.5" becomes "G90G10P12R-0.5"; notes an M02/M2 in
// `Hadley_M2`.
std::string convert4Hadley(Station& s, std::string line);

}  // namespace shoplink
