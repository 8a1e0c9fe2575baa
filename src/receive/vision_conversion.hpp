#pragma once
// Programs for VISION controls are stored with M-codes of their own: M80 to M83 choose the J
// word of a G83 cycle call, M32 to M38 the tools of its I word. Before such a program goes to
// its machine it is rewritten into a scratch file, which is sent in its place.
#include <string>

namespace shoplink {
class Station;

// In the station (program) directory, replaced by every conversion.
inline constexpr const char* kVisionScratch = "scratchpad data for Vision CNC";
inline constexpr const char* kConversionOk = "(conversion OK)";
inline constexpr const char* kConversionError = "(conversion error)";

// Converts the program file `path` (a station path) into the scratch file, line by line.
// In the quoted-line form (`filetype` 3) the first line is left out and quoted lines lose
// their quotes first. Returns kConversionOk, or kConversionError when any file operation
// failed; "Converting file" is on the status line while it runs.
std::string Autopath_Vision(Station& s, const std::string& path);

// One program line as the VISION control needs it.
std::string vision_line(std::string line);

}  // namespace shoplink
