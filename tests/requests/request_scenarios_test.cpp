// Machines on the simulated shop send real command blocks; the station must pick the right
// program, log the request and settle for the transmission.
#include <gtest/gtest.h>

#include <memory>

#include "base/text.hpp"
#include "support/station_fixture.hpp"
#include "support/temp_dir.hpp"

namespace shoplink::testing {
namespace {

struct RequestScenario : ::testing::Test {
  std::unique_ptr<StationFixture> f;

  // Port 3 gets `code_line`, send directories NC1..NC3 and `options` on its fifth line.
  void make(const std::string& code_line, const std::string& options = ",+.NC,DIR=RUN",
            const std::string& line2 = "") {
    std::vector<std::string> blocks;
    for (int k = 1; k <= 8; ++k) blocks.push_back("9600 (MILL" + std::to_string(k) + ")\n0\n\n\n");
    blocks[2] = "9600 (MILL3)\n" + code_line + "\n\nNC1,NC2,NC3\n" + options;
    f = std::make_unique<StationFixture>(make_dncdata("COM1:9600", line2, "SYSTEM.LOG", blocks));
    for (const char* d : {"NC1", "NC2", "NC3"}) f->write_file(std::string(d) + "/keep", "x");
  }
  sim::Machine& mill() { return f->shop.machine(3); }
  Station& s() { return f->s(); }
  void configure(sim::MachineCode code, const std::string& line_end = "\r\n") {
    sim::MachineConfig c = mill().config();
    c.code = code;
    c.line_end = line_end;
    mill().configure(c);
  }
  // Runs until the station has accepted a request and is settling for the transmission.
  bool settled(std::int64_t limit_ms = 3000) {
    return f->run_until([&] { return s().mode == Mode::Settling && s().Timer10.enabled(); },
                        limit_ms);
  }
  bool scanning_again(std::int64_t limit_ms) {
    return f->run_until(
        [&] { return s().mode == Mode::Scanning && s().Timer2.enabled() && s().receiving == 0; },
        limit_ms);
  }
};

TEST_F(RequestScenario, TheProgramIsFoundInTheThirdSendDirectory) {
  make("0");
  f->write_file("NC3/O1234.NC", "%\r\nO1234\r\nG0X0\r\nM30\r\n%\r\n");
  f->start();
  mill().send_command("TO1234");
  ASSERT_TRUE(settled());
  EXPECT_EQ(s().Filename, "NC3\\O1234.NC");
  EXPECT_EQ(f->window.status(), "NC3/O1234.NC");
  EXPECT_TRUE(s().rx_string.empty());
  EXPECT_TRUE(s().rx_line.empty());
  EXPECT_EQ(s().port, 3);
  EXPECT_EQ(s().mode_after_purge, 1);
  EXPECT_EQ(s().send_inhibit, 1);
  const auto& log = f->log_messages();
  const std::vector<std::string> expected{
      "Port 3 - ASCII command received: <TO1234>", "Port 3 Request for file NC1/O1234.NC",
      "Port 3 Request for file NC2/O1234.NC", "Port 3 Request for file NC3/O1234.NC"};
  ASSERT_GE(log.size(), expected.size());
  EXPECT_EQ(std::vector<std::string>(log.end() - 4, log.end()), expected);
}

TEST_F(RequestScenario, AMissingProgramIsAnsweredWithTheNotFoundReply) {
  make("0");
  f->start();
  mill().send_command("TO999");
  ASSERT_TRUE(settled());
  EXPECT_EQ(s().Filename, s().station_file("notfound.alm"));
  EXPECT_EQ(f->read_file("notfound.alm"), "RUN\r\n(FILE O999.NC NOT FOUND)\r\n");
  EXPECT_EQ(f->log_messages().back(), "File not found");
}

TEST_F(RequestScenario, OddParityWithAComment) {
  make("1");
  configure(sim::MachineCode::IsoOdd);
  f->write_file("NC1/O1234.NC", "O1234\r\n");
  f->start();
  mill().send_command("T O1234 (PART A)");
  ASSERT_TRUE(settled());
  EXPECT_EQ(s().Filename, "NC1\\O1234.NC");
  EXPECT_TRUE(f->logged("Port 3 - ASCII command received: <T O1234 (PART A)>"));
}

TEST_F(RequestScenario, AnEiaCommand) {
  make("3");
  configure(sim::MachineCode::Eia);
  f->write_file("NC2/O77.NC", "O77\r\n");
  f->start();
  mill().send_command("TO77");
  ASSERT_TRUE(settled());
  EXPECT_EQ(s().rx_code, 1);
  EXPECT_EQ(s().Filename, "NC2\\O77.NC");
  EXPECT_TRUE(f->logged("Port 3 - EIA command received: <TO77>"));
}

TEST_F(RequestScenario, AProgramOnAMappedDrive) {
  make("0");
  TempDir drive;
  drive.write("NC/O55.NC", "O55\r\n");
  f->paths.map("C:", drive.path().string());
  f->start();
  mill().send_command("TC:\\NC\\O55");
  ASSERT_TRUE(settled());
  EXPECT_EQ(s().Filename, "C:\\NC\\O55.NC");
  EXPECT_TRUE(f->logged("Port 3 Request for file " + drive.path().string() + "/NC/O55.NC"));
}

TEST_F(RequestScenario, NumberedProgramsUnderAPcncDefault) {
  make("0", "", "PCNC");
  f->write_file("NC1/PROG0012", "\"O12\"\r\n");
  f->start();
  mill().send_command("T12");
  ASSERT_TRUE(settled());
  EXPECT_EQ(s().Filename, "NC1\\PROG0012");
  EXPECT_EQ(s().filetype, 3);
}

TEST_F(RequestScenario, HaasDropsTheLetterOfTheProgramNumber) {
  make("0 HAAS", "", "PCNC");
  f->write_file("NC2/PROG1234", "\"O1234\"\r\n");
  f->start();
  mill().send_command("TO1234");
  ASSERT_TRUE(settled());
  EXPECT_EQ(s().Filename, "NC2\\PROG1234");
}

TEST_F(RequestScenario, ThirtyTwoCharacterNamesThroughTheContentsIndex) {
  make("0 /32", ",DIR=RUN");
  f->write_file("NC1/CONTENTS", "\"0007\",\"BRACKET\", 2201\r\n");
  f->write_file("NC1/PROG0007", "\"O7\"\r\n");
  f->start();
  mill().send_command("TBRACK");
  ASSERT_TRUE(settled());
  EXPECT_EQ(s().Filename, "NC1\\PROG0007");
  EXPECT_EQ(s().pcnc_file_name, "BRACK");
}

TEST_F(RequestScenario, WithFTheWholeNameIsNeeded) {
  make("0 /32 /F", ",DIR=RUN");
  f->write_file("NC1/CONTENTS", "\"0007\",\"BRACKET\", 2201\r\n");
  f->write_file("NC1/PROG0007", "\"O7\"\r\n");
  f->start();
  mill().send_command("TBRACK");
  ASSERT_TRUE(settled());
  EXPECT_EQ(f->read_file("notfound.alm"), "RUN\r\n(FILE BRACK NOT FOUND)\r\n");
}

TEST_F(RequestScenario, IgnoredCommandsEndingInCrAloneStillReturnToScanning) {
  make("0", ",+.NC,IGNORE=%");
  configure(sim::MachineCode::IsoEven, "\r");
  f->write_file("NC1/O1.NC", "O1\r\n");
  f->start();
  mill().send_command("%TO1");
  ASSERT_TRUE(f->run_until([&] { return f->logged("Command ignored"); }, 3000));
  EXPECT_EQ(s().mode, Mode::Scanning);
  EXPECT_FALSE(s().Timer2.enabled());  // held on the port for the receive time-out
  ASSERT_TRUE(scanning_again(8000));
  mill().send_command("TO1");
  ASSERT_TRUE(settled());
  EXPECT_EQ(s().Filename, "NC1\\O1.NC");
}

TEST_F(RequestScenario, ATInsideParenthesesIsNoRequest) {
  make("0");
  f->write_file("NC1/1234.NC", "O1234\r\n");
  f->start();
  mill().send_command("(T1234)");
  ASSERT_TRUE(f->run_until([&] { return f->logged("Command ignored"); }, 3000));
  EXPECT_FALSE(f->logged("Port 3 Request for file NC1\\1234.NC"));
  EXPECT_EQ(s().Filename, "");
  ASSERT_TRUE(scanning_again(8000));
}

TEST_F(RequestScenario, ACommandSplitOverSeveralPolls) {
  make("0");
  f->write_file("NC1/O1234.NC", "O1234\r\n");
  f->start();
  mill().send_text("TO1");
  f->advance_ms(400);
  mill().send_text("23");
  f->advance_ms(400);
  EXPECT_NE(s().mode, Mode::Settling);
  mill().send_command("4");
  ASSERT_TRUE(settled());
  EXPECT_EQ(s().Filename, "NC1\\O1234.NC");
  EXPECT_TRUE(f->logged("Port 3 - ASCII command received: <TO1234>"));
}

TEST_F(RequestScenario, TwoCommandsInOneBurst) {
  make("0");
  f->write_file("NC1/O1234.NC", "O1234\r\n");
  f->start();
  mill().send_command("Q1");
  mill().send_command("TO1234");
  ASSERT_TRUE(settled());
  EXPECT_EQ(s().Filename, "NC1\\O1234.NC");
  EXPECT_TRUE(f->logged("Command ignored"));
  EXPECT_TRUE(f->logged("Port 3 - ASCII command received: <TO1234>"));
}

// A request without a name, even while the return to scanning of a cycle start is still
// pending, is answered with the not-found reply, and the station serves every port after it.
TEST_F(RequestScenario, ABareRequestIsAnsweredAndTheStationServesOn) {
  for (const std::string& bare : {std::string("T"), std::string("T "), std::string("T\x01\x02")}) {
    SCOPED_TRACE(::testing::PrintToString(bare));
    make("0");
    f->write_file("NC1/O1.NC", "O1\r\n");
    f->write_file("O5", "O5\r\n");
    for (int k : {3, 5}) {
      sim::MachineConfig c = f->shop.machine(k).config();
      c.xon_after_command = millis(300);
      f->shop.machine(k).configure(c);
    }
    f->start();
    mill().send_command("S");
    f->advance_ms(2000);
    mill().send_command(bare);
    ASSERT_TRUE(
        f->run_until([&] { return contains(mill().received_text(), "(FILE NOT FOUND)"); }, 30000));
    ASSERT_TRUE(scanning_again(10000));
    EXPECT_EQ(f->shop.machine(5).received_text(), "");
    f->shop.machine(5).send_command("TO5");
    ASSERT_TRUE(
        f->run_until([&] { return contains(f->shop.machine(5).received_text(), "O5"); }, 30000));
    ASSERT_TRUE(scanning_again(10000));
    mill().send_command("TO1");
    ASSERT_TRUE(f->run_until([&] { return contains(mill().received_text(), "O1"); }, 30000));
  }
}

}  // namespace
}  // namespace shoplink::testing
