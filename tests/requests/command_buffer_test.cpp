// The command buffer of a port: bounded whatever a machine sends, searched once per
// character, and never left to hold the port after its command timed out.
#include <gtest/gtest.h>

#include <algorithm>

#include "requests/command_capture.hpp"
#include "requests/request_station.hpp"
#include "requests/scanning_poll.hpp"
#include "support/station_fixture.hpp"

namespace shoplink::testing {
namespace {

struct CommandBuffer : RequestStation {
  void SetUp() override {
    s.mode = Mode::Scanning;
    s.port = 3;
    s.Timer2.start();
  }
  long logged(const std::string& message) const {
    const auto m = log_messages();
    return std::count(m.begin(), m.end(), message);
  }
};

// A block that arrives a character per poll is examined once per character, not re-walked
// from its start on every poll.
TEST_F(CommandBuffer, ABlockInPiecesIsSearchedOncePerCharacter) {
  for (const char* piece : {"T", "O", "1", "2", "3", "4", "\r"}) receive_poll_scanning(s, piece);
  EXPECT_EQ(log_messages().front(), "Port 3 - ASCII command received: <TO1234>");
  EXPECT_EQ(s.capture_examined, 7u);
}

// A machine that streams without line ends: 4,000 polls of what 9600 baud brings in 150 ms.
TEST_F(CommandBuffer, AStreamWithoutLineEndsStaysBoundedAndLinear) {
  const std::string chunk(144, 'X');
  std::uint64_t sent = 0;
  std::size_t longest = 0;
  for (int poll = 0; poll < 4000; ++poll) {
    receive_poll_scanning(s, chunk);
    sent += chunk.size();
    longest = std::max(longest, s.rx_string.size());
  }
  EXPECT_LE(longest, kCommandBufferLimit + chunk.size());
  EXPECT_LE(s.capture_examined, sent);
  const std::string report = "Port 3 - command longer than 4096 characters discarded";
  EXPECT_EQ(logged(report), 1);
  EXPECT_EQ(window.status(), report);
  EXPECT_EQ(s.receiving, 1);  // the port stays with the machine until its silence
}

// Several blocks in one arrival: the ones after the first are still found on later polls.
TEST_F(CommandBuffer, BlocksThatWaitBehindTheFirstAreStillFound) {
  s.receiving = 1;
  s.rx_string = "Q1\rQ2\rQ3";
  capture_command(s, 8);
  capture_command(s, 0);
  s.rx_string += "\r";
  capture_command(s, 1);
  std::vector<std::string> received;
  for (const auto& m : log_messages())
    if (contains(m, "received")) received.push_back(m);
  EXPECT_EQ(received, (std::vector<std::string>{"Port 3 - ASCII command received: <Q1>",
                                                "Port 3 - ASCII command received: <Q2>",
                                                "Port 3 - ASCII command received: <Q3>"}));
}

// An unfinished command ends on the port's silence once; afterwards the scan moves on
// instead of holding the same port for a second time-out.
TEST(CommandBufferScenario, ATimedOutCommandHoldsItsPortOnce) {
  StationFixture f;
  f.start();
  Station& s = f.s();
  ASSERT_TRUE(f.run_until([&] { return f.shop.controller().selected_port() == 3; }, 2000));
  f.shop.machine(3).send_text("TO12");
  ASSERT_TRUE(f.run_until([&] { return f.window.status() == "RX timeout..."; }, 10000));
  f.advance_ms(15000);
  const auto& st = f.window.statuses;
  EXPECT_EQ(std::count(st.begin(), st.end(), "RX timeout..."), 1);
  EXPECT_EQ(s.receiving, 0);
  EXPECT_TRUE(s.Timer2.enabled());
  EXPECT_TRUE(s.rx_string.empty());
}

}  // namespace
}  // namespace shoplink::testing
