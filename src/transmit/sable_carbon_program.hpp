#pragma once
// The SABLE CARBON site's program changes on the way out: on ports whose code line holds
// "/M", G-codes are added around program stops (M00, M0, M02, M2), after M42, and before the
// end M30.
#include <string>

namespace shoplink {

class Station;

// Sends `text`, one line already prepared for the current port (converted, with its end of
// block), with the site's additions. The additions run into the next block (no end of block
// of their own) and are converted like the line itself.
void Sable_carbon_mod1(Station& s, const std::string& text);

}  // namespace shoplink
