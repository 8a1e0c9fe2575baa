#pragma once
// A machine at the far end of a real host line (a pseudo-terminal master or a loopback
// socket), on its own thread: it takes what the station sends no faster than the line's
// rate (as the controller's port passes it on), says Xoff after a number of characters,
// counts what still arrives while it holds, then says Xon and takes the rest. What it
// measures is what a machine with a small buffer would suffer.
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

namespace shoplink::testing {

struct XoffReport {
  std::string received;
  std::size_t after_xoff = 0;  // characters that arrived after the Xoff was sent
  std::chrono::steady_clock::duration until_xoff{};  // first character to the Xoff
};

class XoffMachine {
 public:
  // Reads from `fd` (non-blocking) at `baud` until `total` characters came or `limit` passed.
  XoffMachine(int fd, long baud, std::size_t xoff_at, std::size_t total,
              std::chrono::milliseconds hold,
              std::chrono::milliseconds limit = std::chrono::seconds(10))
      : thread_([=, this] { run(fd, baud / 10.0, xoff_at, total, hold, limit); }) {}
  ~XoffMachine() {
    if (thread_.joinable()) thread_.join();
  }
  const XoffReport& finish() {
    if (thread_.joinable()) thread_.join();
    return report_;
  }

 private:
  void run(int fd, double cps, std::size_t xoff_at, std::size_t total,
           std::chrono::milliseconds hold, std::chrono::milliseconds limit) {
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + limit;
    Clock::time_point first{}, held_until{}, last = Clock::now();
    bool held = false, released = false;
    double budget = 1;  // characters the line could have carried by now
    char buf[4096];
    while (report_.received.size() < total && Clock::now() < end) {
      pollfd p{fd, POLLIN, 0};
      ::poll(&p, 1, 1);
      const auto now = Clock::now();
      if (!report_.received.empty())
        budget += std::chrono::duration<double>(now - last).count() * cps;
      last = now;
      const auto want = static_cast<std::size_t>(std::min<double>(budget, sizeof buf));
      const ssize_t n = want > 0 ? ::read(fd, buf, want) : 0;
      if (n > 0) {
        if (report_.received.empty()) first = Clock::now();
        report_.received.append(buf, static_cast<std::size_t>(n));
        budget -= static_cast<double>(n);
        if (held && !released) report_.after_xoff += static_cast<std::size_t>(n);
      } else if (budget > 2) {
        budget = 2;  // an idle line banks nothing
      }
      if (!held && report_.received.size() >= xoff_at) {
        const char xoff = 0x13;
        [[maybe_unused]] auto w = ::write(fd, &xoff, 1);
        held = true;
        held_until = Clock::now() + hold;
        report_.until_xoff = Clock::now() - first;
      }
      if (held && !released && Clock::now() >= held_until) {
        const char xon = 0x11;
        [[maybe_unused]] auto w = ::write(fd, &xon, 1);
        released = true;
      }
    }
  }

  XoffReport report_;
  std::thread thread_;
};

}  // namespace shoplink::testing
