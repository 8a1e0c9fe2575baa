// Allen-Bradley controls: a "WAIT FOR AK" marker holds the next line until the control's
// acknowledgement, then a one-second pause; without it the transfer ends after 20 s.
#include <gtest/gtest.h>

#include "base/text.hpp"
#include "transmit/transmit_story.hpp"

namespace shoplink {
namespace {

using testing::even;
using testing::even_default_trailer;
using testing::port1_dncdata;
using testing::TransmitStory;

std::size_t count_of(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

const char* kAbProgram = "%\r\n  O1000\r\nWAIT FOR AK\r\nN10G0X1\r\n \r\nM30\r\n";

TEST(AbScenario, NextLineWaitsForTheAckAndOneSecond) {
  TransmitStory t(port1_dncdata("0 AB"));
  t.f.write_file("O1000", kAbProgram);
  t.machine().on_receive("O1000\r\n", "\x06", true);
  t.request("TO1000");
  t.xon_and_finish();
  // Leading spaces go, the marker and the blank line are never sent.
  EXPECT_EQ(t.machine().received_bytes(),
            even("\r\n") + even("%\r\nO1000\r\nN10G0X1\r\nM30\r\n") + even_default_trailer());
  const TimePoint ack = t.to_host_time(6, t.f.shop.start() + millis(1));
  ASSERT_NE(ack, TimePoint::max());
  EXPECT_GE(t.first_station_byte_after(ack) - ack, millis(1000));
  EXPECT_FALSE(t.logged("AK not received from CNC within 20 sec."));
  EXPECT_TRUE(t.logged("File " + t.s().station_dir() + "/O1000 transmitted"));
}

TEST(AbScenario, WithoutAckTheTransferEndsAfter20Seconds) {
  TransmitStory t(port1_dncdata("0 AB"));
  t.f.write_file("O1000", kAbProgram);
  TimePoint waiting{}, aborted{};
  t.when([&] { return contains(t.machine().received_bytes(), even("O1000\r\n")); },
         [&] { waiting = t.f.loop.now(); });
  t.when([&] { return t.status_shown("AK not received .."); }, [&] { aborted = t.f.loop.now(); });
  t.request("TO1000");
  t.xon_and_finish();
  // The stall time-out (3000 ms on AB ports) does not cut the acknowledgement wait short.
  EXPECT_GE(aborted - waiting, millis(19900));
  EXPECT_LE(aborted - waiting, millis(20100));
  EXPECT_TRUE(t.logged("AK not received from CNC within 20 sec."));
  EXPECT_FALSE(t.logged("Xoff Handshake timeout ... File not sent"));
  EXPECT_FALSE(t.logged("No Xon received ... File not sent"));
  EXPECT_TRUE(t.status_shown("AK not received .."));
  EXPECT_EQ(t.machine().received_bytes(), even("\r\n") + even("%\r\nO1000\r\n"));
}

TEST(AbScenario, PatHeaderIsAnnouncedAndAcknowledged) {
  TransmitStory t(port1_dncdata("0 AB"));
  t.f.write_file("P1", ";(PAT123 PART)\r\nN1X1\r\n;(@ END)\r\n");
  sim::MachineConfig ab;
  ab.ab_ack = true;  // answers every %COP header with ACK
  t.machine().configure(ab);
  t.request("TP1");
  t.xon_and_finish(120000);
  const std::string etx = "\x03";
  EXPECT_EQ(t.machine().received_bytes(), even("\r\n") + even("%COP,/TY0,PAT123\r\n") +
                                              even("%\r\n") + even(";(PAT123 PART)\r\n") +
                                              even("N1X1\r\n") + even(";(@ END)\r\n") + etx +
                                              even_default_trailer());
  EXPECT_TRUE(t.logged("File " + t.s().station_dir() + "/P1 transmitted"));
}

// The rules off the main path, each as the machine receives it.
TEST(AbScenario, MarkersAndEndOfTextRules) {
  const std::string etx = "\x03";
  struct Case {
    const char* name;
    const char* program;
    const char* ack_after;  // the machine acknowledges once it has received this
    std::string expected;
  };
  const Case cases[] = {
      // From a ";(@" line on, every line is followed by ETX.
      {"end of text after ;(@", "%\r\nN1\r\n;(@ PART)\r\nN2\r\nN3\r\n", "",
       even("\r\n") + even("%\r\nN1\r\n;(@ PART)\r\n") + etx + even("N2\r\n") + etx +
           even("N3\r\n") + etx + even_default_trailer()},
      // A line of "@" alone is an ETX of its own, sent as it is, never the line.
      {"@ line", "%\r\nN1\r\n@\r\nN2\r\n", "",
       even("\r\n") + even("%\r\nN1\r\n") + etx + even("N2\r\n") + even_default_trailer()},
      // "!" marks like WAIT FOR AK: the marker line never goes out, the next waits.
      {"! marker", "%\r\nN1\r\nN1!\r\nN2\r\n", "N1\r\n",
       even("\r\n") + even("%\r\nN1\r\nN2\r\n") + even_default_trailer()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TransmitStory t(port1_dncdata("0 AB"));
    t.f.write_file("O1", c.program);
    if (*c.ack_after) t.machine().on_receive(c.ack_after, "\x06", true);
    t.request("TO1");
    t.xon_and_finish(120000);
    EXPECT_EQ(t.machine().received_bytes(), c.expected);
    EXPECT_FALSE(t.logged("AK not received from CNC within 20 sec."));
    EXPECT_TRUE(t.logged("File " + t.s().station_dir() + "/O1 transmitted"));
  }
}

// After a "%*" header every line waits for the controller's buffer of the port to be
// cleared (four seconds, then DC4 "Q") before it goes out.
TEST(AbScenario, AStarHeaderClearsTheBufferBeforeEveryLine) {
  TransmitStory t(port1_dncdata("0 AB"));
  t.f.write_file("P1", "%*;(PAT123 PART)\r\nN1\r\nN2\r\n");
  sim::MachineConfig ab;
  ab.ab_ack = true;
  t.machine().configure(ab);
  TimePoint n1{}, n2{};
  t.when([&] { return contains(t.machine().received_bytes(), even("N1\r\n")); },
         [&] { n1 = t.f.loop.now(); });
  t.when([&] { return contains(t.machine().received_bytes(), even("N2\r\n")); },
         [&] { n2 = t.f.loop.now(); });
  t.request("TP1");
  const auto clears_before = count_of(t.from_host(), "\x14Q");
  t.xon_and_finish(120000);
  EXPECT_EQ(t.machine().received_bytes(), even("\r\n") + even("%COP,/TY0,PAT123\r\n") +
                                              even("%\r\n") + even("%*;(PAT123 PART)\r\n") +
                                              even("N1\r\nN2\r\n") + even_default_trailer());
  EXPECT_GE(n2 - n1, millis(4000));
  // After the header's ACK, before N1, before N2, and at the end of the transfer.
  EXPECT_EQ(count_of(t.from_host(), "\x14Q") - clears_before, 4);
}

}  // namespace
}  // namespace shoplink
