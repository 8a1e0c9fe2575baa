#include "machine.hpp"

#include <gtest/gtest.h>

#include "shop_fixture.hpp"

namespace shoplink::sim {
namespace {
using testing::bytes;
using testing::select_port;
using testing::ShopTest;

struct MachineTest : ShopTest {
  void SetUp() override {
    ShopTest::SetUp();
    host_write(select_port(3));
    run_ms(10);
  }
};

TEST_F(MachineTest, CommandBlockInEachCode) {
  m(3).send_command("TO1234");
  run_ms(20);
  EXPECT_EQ(host_read(), bytes({0xD4, 0xCF, 0xB1, 0xB2, 0x33, 0xB4, 0x8D, 0x0A}));

  MachineConfig eia;
  eia.code = MachineCode::Eia;
  m(3).configure(eia);
  m(3).send_command("O1234");
  run_ms(20);
  EXPECT_EQ(host_read(), bytes({0x46, 0x01, 0x02, 0x13, 0x04, 0x80}));

  MachineConfig lf_only;
  lf_only.code = MachineCode::IsoNone;
  lf_only.line_end = "\n";
  m(3).configure(lf_only);
  m(3).send_command("T1");
  run_ms(20);
  EXPECT_EQ(host_read(), bytes({0x54, 0x31, 0x0A}));
}

TEST_F(MachineTest, ReceivedProgramSplitsLeaderTextTrailer) {
  // Opening end of block, two lines, then ten NULs, "%", EOT and an escaped DC4 - all
  // even parity, written out by hand.
  std::string prog = bytes({0x8D, 0x0A});
  prog += bytes({0x47, 0x30, 0xB1, 0xD8, 0xB1, 0x2E, 0x30, 0x8D, 0x0A});  // G01X1.0
  prog += bytes({0x4D, 0x33, 0x30, 0x8D, 0x0A});                          // M30
  prog += std::string(10, '\0') + bytes({0xA5, 0x8D, 0x0A, 0x84, 0x14, 0x14});
  host_write(prog);
  run_ms(100);
  auto progs = m(3).programs();
  ASSERT_EQ(progs.size(), 1u);
  EXPECT_FALSE(progs[0].complete);
  EXPECT_EQ(progs[0].leader, "\r\n");
  EXPECT_EQ(progs[0].text, "G01X1.0\r\nM30\r\n");
  EXPECT_EQ(progs[0].trailer, std::string(10, '\0') + "%\r\n\x04\x14");
  EXPECT_EQ(progs[0].lines(), (std::vector<std::string>{"G01X1.0", "M30"}));
  EXPECT_EQ(progs[0].parity_errors, 0);
  run_ms(3100);
  progs = m(3).programs();
  ASSERT_EQ(progs.size(), 1u);
  EXPECT_TRUE(progs[0].complete);
  // A second transfer after the silence is a second program.
  host_write(bytes({0xCF, 0x31, 0x8D, 0x0A}));  // "O1" with a parity fault on "1"
  run_ms(3200);
  progs = m(3).programs();
  ASSERT_EQ(progs.size(), 2u);
  EXPECT_EQ(progs[1].text, "O1\r\n");
  EXPECT_EQ(progs[1].parity_errors, 1);
}

TEST_F(MachineTest, EiaProgramWithStationStyleTrailer) {
  MachineConfig eia;
  eia.code = MachineCode::Eia;
  m(3).configure(eia);
  // LF, "G1", LF, ten blank-feed spaces, "%", LF.
  std::string tape = bytes({0x80, 0x67, 0x01, 0x80});
  tape += std::string(10, '\x10') + bytes({0x0B, 0x80});
  host_write(tape);
  run_ms(100);
  auto progs = m(3).programs();
  ASSERT_EQ(progs.size(), 1u);
  EXPECT_EQ(progs[0].leader, "\n");
  EXPECT_EQ(progs[0].text, "G1\n");
  EXPECT_EQ(progs[0].trailer, std::string(10, ' ') + "%\n");
  EXPECT_EQ(m(3).received_text(), "\nG1\n" + std::string(10, ' ') + "%\n");
}

TEST_F(MachineTest, XoffWhenInputPassesLimitXonWhenDrained) {
  MachineConfig c;
  c.xoff_at = 10;
  c.xon_at = 2;
  c.consume_cps = 100;  // 10 ms a byte
  m(3).configure(c);
  host_write(std::string(20, 'A'));
  run_ms(25);                             // Xoff after the 12th byte (one worked off by then)
  EXPECT_EQ(host_read(), bytes({0x93}));  // DC3 with its even parity bit
  run_ms(300);
  EXPECT_EQ(host_read(), bytes({0x11}));
  EXPECT_EQ(m(3).xoffs_sent(), 1);
  EXPECT_EQ(m(3).xons_sent(), 1);
}

// A control that wakes only every few milliseconds (the real-time simulator) still works its
// input down at its own rate: the Xon comes when it would byte by byte, within a step.
class ConsumeStep : public MachineTest, public ::testing::WithParamInterface<int> {};

TEST_P(ConsumeStep, XonWhenTheInputIsWorkedDownAtTheExactRate) {
  MachineConfig c;
  c.xoff_at = 100;
  c.xon_at = 20;
  c.consume_cps = 800;  // 1.25 ms a byte
  c.delivery_step = std::chrono::milliseconds(GetParam());
  m(3).configure(c);
  for (int i = 0; i < 101; ++i) m(3).on_byte('A');
  EXPECT_EQ(m(3).xoffs_sent(), 1);
  run_ms(101);  // 81 bytes worked off take 101.25 ms
  EXPECT_EQ(m(3).xons_sent(), 0);
  run_ms(1 + GetParam());
  EXPECT_EQ(m(3).xons_sent(), 1);
}

INSTANTIATE_TEST_SUITE_P(Steps, ConsumeStep, ::testing::Values(0, 4),
                         [](const auto& info) { return std::to_string(info.param) + "ms"; });

TEST_F(MachineTest, UploadHonoursStationThrottling) {
  m(3).upload("N1\nN2\nN3\n");
  run_ms(3);  // "N" and "1" are out (1.04 ms each)
  host_write(bytes({0x13}));
  run_ms(20);
  const std::string part = host_read();
  EXPECT_TRUE(m(3).output_held());
  EXPECT_LT(part.size(), 12u);
  run_ms(500);
  EXPECT_EQ(host_read(), "");  // held
  host_write(bytes({0x11}));
  run_ms(50);
  EXPECT_EQ(part + host_read(),
            bytes({0x4E, 0xB1, 0x8D, 0x0A, 0x4E, 0xB2, 0x8D, 0x0A, 0x4E, 0x33, 0x8D, 0x0A}));
  EXPECT_EQ(m(3).uploads_done(), 1);
}

TEST_F(MachineTest, UploadInBurstsWithLeaderAndTrailer) {
  UploadOptions o;
  o.burst_lines = 1;
  o.burst_pause = millis(2000);
  o.leader_nuls = 2;
  o.trailer_nuls = 1;
  m(3).upload("A\nB", o);
  run_ms(100);
  EXPECT_EQ(host_read(), bytes({0, 0, 0x41, 0x8D, 0x0A}));
  run_ms(1800);
  EXPECT_EQ(host_read(), "");
  run_ms(300);
  EXPECT_EQ(host_read(), bytes({0x42, 0x8D, 0x0A, 0}));
}

TEST_F(MachineTest, Dc2AnnouncedUploadWaitsForDc1) {
  UploadOptions o;
  o.dc2_first = true;
  m(3).upload("G1\n", o);
  run_ms(100);
  EXPECT_EQ(host_read(), bytes({0x12}));
  run_ms(1000);
  EXPECT_EQ(host_read(), "");
  host_write(bytes({0x11}));
  run_ms(20);
  EXPECT_EQ(host_read(), bytes({0x47, 0xB1, 0x8D, 0x0A}));
  EXPECT_EQ(m(3).dc2_unanswered(), 0);

  m(3).upload("G2\n", o);  // nobody answers: it goes after the time-out
  run_ms(4900);
  EXPECT_EQ(host_read(), bytes({0x12}));
  run_ms(200);
  EXPECT_EQ(host_read(), bytes({0x47, 0xB2, 0x8D, 0x0A}));
  EXPECT_EQ(m(3).dc2_unanswered(), 1);
}

TEST_F(MachineTest, BurnyEnquiryThenCommandAfterAck) {
  m(3).burny_enquiry("TPART7");
  run_ms(20);
  EXPECT_EQ(host_read(), bytes({0x1B, 0x05}));
  run_ms(1000);
  EXPECT_EQ(host_read(), "");
  host_write(bytes({0x06}));
  run_ms(100);
  EXPECT_EQ(host_read(), bytes({0xD4, 0x50, 0x41, 0xD2, 0xD4, 0xB7, 0x8D, 0x0A}));
  EXPECT_EQ(m(3).acks_received(), 1);
}

TEST_F(MachineTest, LynxPromptExchange) {
  m(3).lynx_request("O55");
  run_ms(20);
  EXPECT_EQ(host_read(), bytes({0x21, 0x53}));  // "!S", no end of block
  host_write(std::string("ENTER FILE NAME:") + '\x03');
  run_ms(100);
  EXPECT_EQ(host_read(), bytes({0xCF, 0x35, 0x35, 0x8D, 0x0A}));
  host_write("*");  // the station opens the transfer and waits for ">"
  run_ms(100);
  EXPECT_EQ(host_read(), bytes({0xBE}));
  host_write("G1\r\n");
  run_ms(100);
  EXPECT_EQ(host_read(), bytes({0xBE}));
}

TEST_F(MachineTest, AllenBradleyAcknowledgesTheHeaderBlock) {
  MachineConfig ab;
  ab.ab_ack = true;
  m(3).configure(ab);
  host_write("G1\r\n");
  run_ms(100);
  EXPECT_EQ(host_read(), "");
  host_write("%COP,/TY0,PAT001\r\n");
  run_ms(100);
  EXPECT_EQ(host_read(), bytes({0x06}));
}

TEST_F(MachineTest, ReactionToReceivedText) {
  m(3).on_receive("READY?", "ok", /*once=*/true);
  host_write("READY?READY?");
  run_ms(200);
  EXPECT_EQ(host_read(), "ok");
}

}  // namespace
}  // namespace shoplink::sim
