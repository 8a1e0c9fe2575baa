#pragma once
// Progress of a long transfer: a status line at most every kProgressInterval, so that the
// operator (and the headless output, which prints status changes) sees a long program move.
#include <string>
#include <string_view>

#include "base/clock.hpp"

namespace shoplink {
class Station;

inline constexpr Duration kProgressInterval = millis(2000);

// "Port 3 O1234.NC: 42% 12345 of 29000 characters, 960 cps, 0:17 left". `done` and `total`
// are characters of the program file; the rate is over `elapsed` since the transfer began.
std::string progress_text(int port, std::string_view program, double done, double total,
                          Duration elapsed);

// One transfer's reporting: the first line comes kProgressInterval after the start, so a
// short transfer shows none.
class TransferProgress {
 public:
  explicit TransferProgress(TimePoint start) : start_(start), next_(start + kProgressInterval) {}
  // Shows the progress of the open program file on the status line when one is due.
  void update(Station& s);

 private:
  TimePoint start_;
  TimePoint next_;
};

}  // namespace shoplink
