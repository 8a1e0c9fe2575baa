#pragma once
// A station for the request tests that need no simulated shop: an in-memory host line, a
// temporary station directory, default code tables, and every port reading and writing the
// station directory until a test says otherwise.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "base/host_paths.hpp"
#include "base/text.hpp"
#include "base/virtual_loop.hpp"
#include "core/station.hpp"
#include "requests/command_interpreter.hpp"
#include "support/fake_line.hpp"
#include "support/line_station.hpp"
#include "support/temp_dir.hpp"
#include "transmit/code_tables.hpp"
#include "ui/recorder.hpp"

namespace shoplink::testing {

struct RequestStation : ::testing::Test, LineStation<> {
  RequestStation() {
    build_code_tables(s);
    s.config.log_path = s.station_file("SYSTEM.LOG");
    s.port = 1;
    s.showdata = 1;
    s.filetype = 1;
    for (int n = 1; n <= NumPorts; ++n) {
      auto& p = s.ports[static_cast<std::size_t>(n)];
      p.send_dir = p.receive_dir = s.station_dir();
      p.machine_name = "MILL" + std::to_string(n);
    }
    line.open();
  }

  PortSettings& port() { return s.cur(); }
  std::string at_station(const std::string& name) const { return s.station_file(name); }

  // Interprets one command as if capture had handed it over in scanning mode.
  void command(const std::string& text) {
    s.mode = Mode::Scanning;
    s.rx_line = text;
    process_command(s);
  }
};

}  // namespace shoplink::testing
