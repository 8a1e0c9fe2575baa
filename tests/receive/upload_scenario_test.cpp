// Machines of the simulated shop upload real programs: the station stores exactly what the
// control sent, answers its DC2, and reports back on its next Xon.
#include <gtest/gtest.h>

#include "support/station_fixture.hpp"

namespace shoplink {
namespace {

using testing::make_dncdata;
using testing::StationFixture;

const std::string kProgram =
    "O1234 (BRACKET)\n"
    "N10 G90 G54 G00 X0. Y0.\n"
    "\n"
    "N20 S1200 M03\n"
    "N30 G01 Z-5. F150.\n"
    "N40 M30\n"
    "%\n";

std::string with_crlf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') {
      if (!out.empty() && out.back() != '\n') out += "\r\n";
    } else {
      out += c;
    }
  }
  return out;
}

TEST(UploadScenario, MachineStoresAProgramAfterItsRCommandAndDc2) {
  StationFixture f;
  f.start();
  sim::Machine& m = f.shop.machine(3);
  m.send_command("RO1234");
  ASSERT_TRUE(f.run_until([&] { return f.s().mode == Mode::Receiving; }, 20000));
  sim::UploadOptions opts;
  opts.dc2_first = true;
  opts.line_end = "\r";
  m.upload(kProgram, opts);
  ASSERT_TRUE(
      f.run_until([&] { return m.uploads_done() == 1 && f.s().mode == Mode::Scanning; }, 60000));
  EXPECT_EQ(f.read_file("O1234"), with_crlf(kProgram));
  EXPECT_GE(m.dc1_received(), 1);
  EXPECT_EQ(m.dc2_unanswered(), 0);
  EXPECT_TRUE(
      f.logged("Port 3 Request to store file " + f.s().station_dir() + "/O1234 with R-command"));
  EXPECT_TRUE(f.logged("File " + f.s().station_dir() + "/O1234 received"));
}

TEST(UploadScenario, ActivityReportGoesOutOnTheMachinesNextXon) {
  std::vector<std::string> blocks;
  for (int k = 1; k <= 8; ++k) blocks.push_back("9600 (MILL" + std::to_string(k) + ")\n0\n\n\n");
  blocks[1] = "9600 (MILL2)\n0 REPLY=O9999\n\n\n";
  StationFixture f(make_dncdata("COM1:9600", "", "SYSTEM.LOG", blocks));
  f.start();
  sim::Machine& m = f.shop.machine(2);
  m.send_command("RO55");
  ASSERT_TRUE(f.run_until([&] { return f.s().mode == Mode::Receiving; }, 20000));
  m.upload("O55\nG1 X1.\n");
  ASSERT_TRUE(
      f.run_until([&] { return m.uploads_done() == 1 && f.s().mode == Mode::Scanning; }, 60000));
  EXPECT_FALSE(f.s().reply_buffer[2].empty());
  EXPECT_EQ(m.received_text().find("ACTIVITY REPORT"), std::string::npos);
  m.send_xon();
  ASSERT_TRUE(f.run_until(
      [&] { return m.received_text().find("(LAST LINE RECEIVED: G1 X1.)") != std::string::npos; },
      20000));
  EXPECT_NE(m.received_text().find("O9999"), std::string::npos);
  EXPECT_NE(m.received_text().find("(SHOPLINK ACTIVITY REPORT)"), std::string::npos);
}

// Machines of every code upload through the port controller; the file holds the program
// exactly, whatever parity or tape code and blank feed it came in.
struct CodedUpload {
  sim::MachineCode code;
  const char* code_line;
  int blank_feed;
};
void PrintTo(const CodedUpload& c, std::ostream* os) {
  *os << "code type " << c.code_line << ", " << c.blank_feed << " blank feed";
}

class CodedUploads : public ::testing::TestWithParam<CodedUpload> {};

TEST_P(CodedUploads, StoredFileIsExactlyTheProgram) {
  const CodedUpload c = GetParam();
  std::vector<std::string> blocks;
  for (int k = 1; k <= 8; ++k)
    blocks.push_back("9600 (MILL" + std::to_string(k) + ")\n" + c.code_line + "\n\n\n");
  StationFixture f(make_dncdata("COM1:9600", "", "SYSTEM.LOG", blocks));
  sim::Machine& m = f.shop.machine(4);
  sim::MachineConfig config = m.config();
  config.code = c.code;
  m.configure(config);
  f.start();
  m.send_command("RO1234");
  ASSERT_TRUE(f.run_until([&] { return f.s().mode == Mode::Receiving; }, 20000));
  sim::UploadOptions opts;
  opts.leader_nuls = c.blank_feed;
  opts.trailer_nuls = c.blank_feed;
  m.upload(kProgram, opts);
  ASSERT_TRUE(
      f.run_until([&] { return m.uploads_done() == 1 && f.s().mode == Mode::Scanning; }, 60000));
  EXPECT_EQ(f.read_file("O1234"), with_crlf(kProgram));
  EXPECT_TRUE(f.logged("File " + f.s().station_dir() + "/O1234 received"));
}

INSTANTIATE_TEST_SUITE_P(Reception, CodedUploads,
                         ::testing::Values(CodedUpload{sim::MachineCode::IsoEven, "0", 0},
                                           CodedUpload{sim::MachineCode::IsoOdd, "1", 0},
                                           CodedUpload{sim::MachineCode::IsoNone, "2", 0},
                                           CodedUpload{sim::MachineCode::Eia, "3", 0},
                                           CodedUpload{sim::MachineCode::Eia, "3", 30}));

}  // namespace
}  // namespace shoplink
