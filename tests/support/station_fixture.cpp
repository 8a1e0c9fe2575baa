#include "support/station_fixture.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "base/text.hpp"
#include "station/startup.hpp"
#include "station/wired_station.hpp"
#include "support/line_station.hpp"

namespace shoplink::testing {

std::string make_dncdata(const std::string& line1, const std::string& line2,
                         const std::string& line3, const std::vector<std::string>& blocks) {
  std::string out = line1 + "\r\n" + line2 + "\r\n" + line3 + "\r\n";
  for (int k = 0; k < 8; ++k) {
    std::vector<std::string> lines;
    if (static_cast<std::size_t>(k) < blocks.size()) {
      std::stringstream in(blocks[static_cast<std::size_t>(k)]);
      std::string l;
      while (std::getline(in, l)) lines.push_back(l);
    }
    lines.resize(5);
    for (const auto& l : lines) out += l + "\r\n";
  }
  return out;
}

std::string default_dncdata() {
  std::vector<std::string> blocks;
  for (int k = 1; k <= 8; ++k) blocks.push_back("9600 (MILL" + std::to_string(k) + ")\n0\n\n\n");
  return make_dncdata("COM1:9600", "", "SYSTEM.LOG", blocks);
}

StationFixture::StationFixture(const std::string& dncdata, sim::ShopOptions shop_options)
    : paths(dir.path()), shop(loop, std::move(shop_options)) {
  dir.write("DNCDATA", dncdata);
  station = std::make_unique<WiredStation>(
      StationServices{loop, shop.line(), window, dialogs, platform, paths});
}

StationFixture::~StationFixture() = default;

void StationFixture::startup_only() {
  startup(*station);
}

void StationFixture::start() {
  startup_only();
  ASSERT_FALSE(station->exit_status) << "the station ended at start-up";
  const bool scanning = run_until(
      [&] {
        return !station->Timer1.enabled() && !station->Timer9.enabled() &&
               station->mode == Mode::Scanning && station->stopscanning == 0;
      },
      10000);
  ASSERT_TRUE(scanning) << "the station did not reach scanning; status: " << window.status();
}

std::vector<std::string> StationFixture::log_lines() const {
  std::vector<std::string> out;
  std::ifstream in(paths.host_path(station->config.log_path), std::ios::binary);
  std::string l;
  while (std::getline(in, l)) {
    if (!l.empty() && l.back() == '\r') l.pop_back();
    out.push_back(l);
  }
  return out;
}

std::vector<std::string> StationFixture::log_messages() const {
  return log_messages_of(paths.host_path(station->config.log_path));
}

bool StationFixture::logged(const std::string& message) const {
  for (const auto& m : log_messages())
    if (m == trim_trailing_blanks(message)) return true;
  return false;
}

}  // namespace shoplink::testing
