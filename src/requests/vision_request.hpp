#pragma once
// A program found for a "VISION" port goes out converted for its control.
namespace shoplink {
class Station;

// Converts `Filename` into the scratch file and makes that the file to send (a plain file);
// when the conversion fails the stored program is sent as it is. Logged either way.
void convert_for_vision(Station& s);

}  // namespace shoplink
