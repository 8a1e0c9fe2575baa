#pragma once
// Output at a serial line's own rate, for devices that cannot say how much of what they
// took is still waiting to go out (a pseudo-terminal, a network device server). There the
// "write only when the transmit buffer is empty" rule would let a whole kernel or socket
// buffer run ahead of a machine's Xoff; handing the device one character per character
// time keeps an Xoff effective within a character or two, as on a real UART.
//
// The schedule keeps its own beat: a writer that wakes a little late may send the next
// character at once, so the average rate stays the line rate; lateness beyond two
// characters is forgiven rather than made up in a burst.
#include <cstddef>

#include "base/clock.hpp"

namespace shoplink {

class LinePacer {
 public:
  // 10 bits a character (start, 8 data, stop) at `baud`; 0 or less reads as 9600.
  void set_baud(long baud);
  Duration char_time() const { return char_time_; }

  // How many of `want` characters may go to the device now; they count as sent.
  std::size_t take(TimePoint now, std::size_t want);
  // `n` of the characters last taken did not go after all (the device was full).
  void give_back(std::size_t n) { free_at_ -= char_time_ * static_cast<long>(n); }
  // Characters handed over whose time on the line has not yet passed ("still unsent").
  int on_wire(TimePoint now) const;
  // When the next character may go.
  TimePoint next_slot() const { return free_at_; }
  void reset() { free_at_ = TimePoint{}; }

 private:
  Duration char_time_ = Duration(10'000'000'000LL / 9600);
  TimePoint free_at_{};  // when the line has sent everything handed to it
};

}  // namespace shoplink
