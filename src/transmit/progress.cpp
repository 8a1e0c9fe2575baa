#include "transmit/progress.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/station.hpp"
#include "core/station_reports.hpp"

namespace shoplink {

namespace {

std::string minutes_seconds(double seconds) {
  const auto total = static_cast<long long>(std::ceil(seconds));
  const long long m = total / 60, sec = total % 60;
  return std::to_string(m) + ":" + (sec < 10 ? "0" : "") + std::to_string(sec);
}

// The last component of a station path ("C:\NC\O1234.NC" → "O1234.NC").
std::string_view file_part(std::string_view path) {
  const auto cut = path.find_last_of("\\/");
  return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

}  // namespace

std::string progress_text(int port, std::string_view program, double done, double total,
                          Duration elapsed) {
  done = std::max(done, 0.0);
  total = std::max(total, done);
  const double seconds = std::chrono::duration<double>(elapsed).count();
  const double cps = seconds > 0 ? done / seconds : 0;
  const int percent = total > 0 ? static_cast<int>(done * 100 / total) : 0;
  std::string t = "Port " + std::to_string(port) + " " + std::string(file_part(program)) + ": " +
                  std::to_string(percent) + "% " + std::to_string(std::llround(done)) + " of " +
                  std::to_string(std::llround(total)) + " characters, " +
                  std::to_string(std::llround(cps)) + " cps, ";
  t += cps > 0 ? minutes_seconds((total - done) / cps) + " left" : std::string("time left unknown");
  return t;
}

void TransferProgress::update(Station& s) {
  const TimePoint now = s.loop.now();
  if (now < next_) return;
  next_ = now + kProgressInterval;
  std::FILE* f = s.files.get(s.Openfile);
  const long at = f ? std::ftell(f) : -1;
  if (at < 0) return;
  report_transfer_progress(s, static_cast<double>(at));
  s.window.set_status(
      progress_text(s.port, s.Filename, static_cast<double>(at), s.file_size, now - start_));
}

}  // namespace shoplink
