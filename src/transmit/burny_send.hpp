#pragma once
// The Burny CLINK send delay: the program follows the "!FD" reply once the control is ready.
namespace shoplink {
class Station;

// Sends the requested program; the Xon wait armed by the settling has no say in it.
void Timer11_Timer(Station& s);

}  // namespace shoplink
