// shoplink-sim: the simulated shop on a pseudo-terminal (or, with --listen, behind a TCP
// server like an Ethernet serial device server) in real time. Prints the device (or the
// tcp:// / rfc2217:// address) on its first line, then what each machine sends and receives; at the
// end a summary and the scenario's checks. Exit status: 0 all checks passed, 1 a check failed, 2
// bad input.
#include <fmt/format.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

#include "base/clock.hpp"
#include "base/real_loop.hpp"
#include "pty_link.hpp"
#include "scenario.hpp"
#include "shop.hpp"
#include "tcp_link.hpp"

namespace {

using namespace shoplink;
using namespace shoplink::sim;

std::string printable(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c >= 32 && c < 127)
      out.push_back(static_cast<char>(c));
    else
      out += fmt::format("<{}>", static_cast<int>(c));
  }
  return out;
}

constexpr Duration kRealTimeStep = std::chrono::milliseconds(4);
constexpr Duration kCheckEvery = std::chrono::seconds(5);

void say(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"ShopLink simulated shop: port controller and eight machines on a pseudo-terminal"};
  std::string scenario_path, link_path, duration_text;
  int select = 0;
  bool quiet = false;
  std::string listen;
  bool rfc2217 = false;
  bool flow = false, end_when_passed = false;
  app.add_option("scenario", scenario_path, "scenario file (see sim/README.md)");
  app.add_option("--link", link_path, "also make this path a symbolic link to the device");
  app.add_option("--select", select, "port selected at power-up (for a plain terminal)")
      ->check(CLI::Range(0, 8));
  app.add_option("--duration", duration_text, "run this long (500ms, 30s, 2m, 1h)");
  app.add_flag("--quiet", quiet, "print only the device, summary and checks");
  app.add_option("--listen", listen,
                 "serve the host line on TCP HOST:PORT instead of a pseudo-terminal "
                 "(127.0.0.1:0 picks a free port)");
  app.add_flag("--rfc2217", rfc2217, "with --listen: speak Telnet COM Port Control (RFC 2217)");
  app.add_flag("--flow", flow,
               "at the end, per port: the rate of the station's characters and the most "
               "that came after an Xoff");
  app.add_flag("--end-when-passed", end_when_passed,
               "end as soon as every check passes (the scenario's time is then the limit)");
  CLI11_PARSE(app, argc, argv);

  Scenario scenario;
  std::optional<Duration> run_for;
  try {
    if (!scenario_path.empty()) {
      scenario = Scenario::load(scenario_path);
      run_for = scenario.end_time();
    }
    if (!duration_text.empty()) run_for = parse_duration(duration_text);
  } catch (const ScenarioError& e) {
    std::fprintf(stderr, "shoplink-sim: %s\n", e.what());
    return 2;
  }
  ShopOptions options = scenario.options();
  if (select > 0) options.controller.initial_port = select;
  // In real time a wake-up a byte per machine would cost more than the station it serves;
  // what falls due is handed on a few bytes at a time, at the exact rate.
  options.controller.delivery_step = kRealTimeStep;
  for (auto& m : options.machines) m.delivery_step = kRealTimeStep;

  RealClock clock;
  RealLoop loop(clock);
  if (rfc2217 && listen.empty()) {
    std::fprintf(stderr, "shoplink-sim: --rfc2217 needs --listen HOST:PORT\n");
    return 2;
  }
  std::unique_ptr<PtyLink> pty;
  std::unique_ptr<TcpLink> tcp;
  try {
    if (listen.empty()) {
      pty = std::make_unique<PtyLink>(loop);
    } else {
      const auto colon = listen.rfind(':');
      if (colon == std::string::npos || colon == 0)
        throw std::runtime_error("--listen " + listen + ": expected HOST:PORT");
      const std::string port_text = listen.substr(colon + 1);
      if (port_text.empty() || port_text.find_first_not_of("0123456789") != std::string::npos ||
          port_text.size() > 5 || std::stoi(port_text) > 65535)
        throw std::runtime_error("--listen " + listen + ": expected HOST:PORT");
      tcp = std::make_unique<TcpLink>(loop, listen.substr(0, colon), std::stoi(port_text), rfc2217);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "shoplink-sim: %s\n", e.what());
    return 2;
  }
  say("device: " + (pty ? pty->device() : tcp->address()));
  if (pty && !link_path.empty()) {
    std::error_code ec;
    if (std::filesystem::is_symlink(link_path, ec)) std::filesystem::remove(link_path, ec);
    std::filesystem::create_symlink(pty->device(), link_path, ec);
    if (ec)
      std::fprintf(stderr, "shoplink-sim: cannot link %s: %s\n", link_path.c_str(),
                   ec.message().c_str());
  }

  HostLink& host = pty ? static_cast<HostLink&>(*pty) : static_cast<HostLink&>(*tcp);
  Shop shop(loop, host, options);
  if (pty)
    pty->attach(shop.controller());
  else
    tcp->attach(shop.controller());
  if (!quiet) {
    for (int p = 1; p <= PortController::kPorts; ++p) {
      shop.machine(p).set_line_watcher(
          [p](const std::string& line) { say(fmt::format("port {} < {}", p, printable(line))); });
      shop.machine(p).set_command_watcher(
          [p](const std::string& text) { say(fmt::format("port {} > {}", p, printable(text))); });
    }
  }
  scenario.apply(shop);
  if (run_for) shop.at(*run_for, [&loop] { loop.quit(); });
  std::function<void()> check_passed = [&] {
    const auto results = scenario.check(shop);
    if (!results.empty() &&
        std::all_of(results.begin(), results.end(), [](const auto& r) { return r.passed; })) {
      loop.quit();
      return;
    }
    loop.post_after(kCheckEvery, check_passed);
  };
  if (end_when_passed) loop.post_after(kCheckEvery, check_passed);
  loop.on_signal(SIGINT, [&loop] { loop.quit(); });
  loop.on_signal(SIGTERM, [&loop] { loop.quit(); });
  loop.run();

  std::fputs(shop.summary().c_str(), stdout);
  if (flow) {
    for (int p = 1; p <= PortController::kPorts; ++p) {
      const PortFlow& f = shop.controller().flow().port(p);
      if (f.chars == 0) continue;
      say(
          fmt::format("flow port {}: {} characters from the station, {:.3f} s not held, {:.1f} a "
                      "second, {} Xoff, at most {} after one",
                      p, f.chars, std::chrono::duration<double>(f.last - f.first - f.held).count(),
                      f.rate(), f.xoffs, f.most_after_xoff));
    }
  }
  int failed = 0, passed = 0;
  for (const auto& r : scenario.check(shop)) {
    if (r.passed) {
      ++passed;
      say("PASS " + r.what);
    } else {
      ++failed;
      say("FAIL " + r.what + (r.detail.empty() ? "" : " (" + r.detail + ")"));
    }
  }
  say(fmt::format("checks: {} passed, {} failed", passed, failed));
  if (!link_path.empty()) {
    std::error_code ec;
    if (std::filesystem::is_symlink(link_path, ec)) std::filesystem::remove(link_path, ec);
  }
  return failed > 0 ? 1 : 0;
}
