#pragma once
// Station stories for transmissions: one machine port configured as the test needs, a
// program in the station directory, the machine's request and handshakes, and what the
// machine received, byte for byte.
#include <gtest/gtest.h>

#include <string>

#include "support/station_fixture.hpp"

namespace shoplink::testing {

// An 8-port DNCDATA whose port 1 has `code_line` and block line 5 `line5`; `line2` holds the
// station defaults (e.g. "=5" for a 5 s Xon wait).
inline std::string port1_dncdata(const std::string& code_line, const std::string& line5 = "",
                                 const std::string& line2 = "=5") {
  std::vector<std::string> blocks{"9600 (MILL1)\n" + code_line + "\n\n\n" + line5};
  for (int k = 2; k <= 8; ++k) blocks.push_back("9600 (MILL" + std::to_string(k) + ")\n0\n\n\n");
  return make_dncdata("COM1:9600", line2, "SYSTEM.LOG", blocks);
}

// Text with even parity in bit 7, as an ISO even-parity control expects it. Written here from
// the definition, independently of the station's tables.
inline std::string even(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    int ones = 0;
    for (int b = 0; b < 7; ++b) ones += (c >> b) & 1;
    out.push_back(static_cast<char>((c & 0x7F) | (ones % 2 ? 0x80 : 0)));
  }
  return out;
}

// The default end of a program on an even-parity port with no EOB: ten NULs, "%", CR LF,
// EOT, and the DC4 that reaches the machine (the controller turns DC4 DC4 into one DC4).
inline std::string even_default_trailer() {
  return even(std::string(10, '\0') + "%\r\n") + even("\x04") + "\x14";
}

struct TransmitStory {
  explicit TransmitStory(const std::string& dncdata) : f(dncdata) {}

  Station& s() { return f.s(); }
  sim::Machine& machine() { return f.shop.machine(1); }

  // Starts the station and lets machine 1 send `command`; returns once the station waits
  // for the machine's Xon (mode 1).
  void request(const std::string& command) {
    f.start();
    machine().send_command(command);
    ASSERT_TRUE(f.run_until([&] { return s().mode == Mode::Sending; }, 10000))
        << "the request was not accepted; status: " << f.window.status();
  }
  // The machine answers Xon; runs until the station is back to scanning.
  void xon_and_finish(std::int64_t limit_ms = 60000) {
    machine().send_xon();
    finish(limit_ms);
  }
  void finish(std::int64_t limit_ms = 60000) {
    ASSERT_TRUE(f.run_until(
        [&] { return s().mode == Mode::Scanning && s().sending == 0 && !s().Timer4.enabled(); },
        limit_ms))
        << "the station did not return to scanning; status: " << f.window.status();
  }
  // Runs `action` once `cond` holds, checked every millisecond of virtual time. The
  // transmission runs inside the receive poll's handler, so a test acts during it only
  // through the loop's own events, like this one.
  void when(std::function<bool()> cond, std::function<void()> action) {
    f.loop.post_after(millis(1),
                      [this, cond = std::move(cond), action = std::move(action)]() mutable {
                        if (cond()) {
                          action();
                        } else {
                          when(std::move(cond), std::move(action));
                        }
                      });
  }
  bool logged(const std::string& m) const { return f.logged(m); }
  bool terminal_shown(const std::string& text) const {
    for (const auto& st : f.window.terminal_texts)
      if (st == text) return true;
    return false;
  }
  bool status_shown(const std::string& text) const {
    for (const auto& st : f.window.statuses)
      if (st == text) return true;
    return false;
  }
  // When the controller handed the machine's first byte with code `c` (7 bits) to the
  // station, after `from`.
  TimePoint to_host_time(int c, TimePoint from = {}) const {
    for (const auto& e : f.shop.controller().transcript())
      if (e.to_host && e.at >= from && (e.byte & 0x7F) == c) return e.at;
    return TimePoint::max();
  }
  // Station bytes that reached the controller within (from, to].
  int bytes_from_host_between(TimePoint from, TimePoint to) const {
    int n = 0;
    for (const auto& e : f.shop.controller().transcript())
      if (!e.to_host && e.at > from && e.at <= to) ++n;
    return n;
  }
  // When the first station byte after `from` reached the controller.
  TimePoint first_station_byte_after(TimePoint from) const {
    for (const auto& e : f.shop.controller().transcript())
      if (!e.to_host && e.at > from) return e.at;
    return TimePoint::max();
  }
  // What the station wrote after the machine's program began (controller commands included).
  std::string from_host() const { return f.shop.controller().from_host(); }

  StationFixture f;
};

}  // namespace shoplink::testing
