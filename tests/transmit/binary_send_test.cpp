// A "BINARY" port: the machine gets its program byte for byte, every value 0-255, under its
// Xon/Xoff and CTS, with at most three bytes running ahead of a hold.
#include <gtest/gtest.h>

#include "binary_check.hpp"
#include "transmit/transmit_story.hpp"

namespace shoplink {
namespace {

using testing::make_dncdata;
using testing::port1_dncdata;
using testing::TransmitStory;

std::string every_byte_value() {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  return all;
}

// `n` bytes without handshake or controller characters, so counts are plain.
std::string plain_bytes(std::size_t n) {
  std::string out;
  for (std::size_t i = 0; i < n; ++i) out.push_back(static_cast<char>(0x40 + i % 26));
  return out;
}

struct BinaryStory : TransmitStory {
  explicit BinaryStory(const std::string& dncdata = port1_dncdata("2 BINARY"))
      : TransmitStory(dncdata) {
    machine().configure(sim::binary_machine());
  }
  void expect_exact(const std::string& want) {
    const auto v = sim::check_binary_transfer(machine(), want);
    EXPECT_TRUE(v.exact) << v.detail;
    EXPECT_EQ(machine().received_bytes(), want);
  }
  bool transmitted() { return logged("File " + s().station_dir() + "/B1 transmitted"); }
};

struct ByteCase {
  const char* name;
  std::string program;
};

class BinaryBytes : public ::testing::TestWithParam<ByteCase> {};

TEST_P(BinaryBytes, ArriveExactlyAndTheTransferCompletes) {
  BinaryStory t;
  t.f.write_file("B1", GetParam().program);
  t.request("TB1");
  t.xon_and_finish();
  t.expect_exact(GetParam().program);
  EXPECT_TRUE(t.logged("Xon received - sending file "));
  EXPECT_TRUE(t.transmitted());
  EXPECT_TRUE(t.status_shown("File sent..."));
  EXPECT_TRUE(t.s().Filename.empty());
  EXPECT_TRUE(t.s().TX_binary);
  EXPECT_TRUE(t.s().line.option_flag());  // text traffic again
  // Closing: the controller's buffer of the port is cleared after the program.
  const std::string host = t.from_host();
  EXPECT_EQ(host.substr(host.size() - 2), "\x14Q");
}

INSTANTIATE_TEST_SUITE_P(
    Programs, BinaryBytes,
    ::testing::Values(
        ByteCase{"EveryValue", every_byte_value()},
        // Lookalikes of the controller's commands and of the station's trailer.
        ByteCase{"ControllerCommandsInData", std::string("\x14Q\x14"
                                                         "3\x14Q\x14J\x14K\x14\x14\xFF\xFF\0%\x04",
                                                         17)},
        ByteCase{"NulsAndHighBytes", std::string(300, '\0') + std::string(300, '\xFF')}),
    [](const auto& info) { return info.param.name; });

TEST(BinarySend, AnXoffAfter100BytesLetsAtMostThreeMoreThroughUntilXon) {
  BinaryStory t;
  const std::string program = plain_bytes(400);
  t.f.write_file("B1", program);
  std::size_t at_xoff = 0;
  t.when([&] { return t.machine().received_bytes().size() >= 100; },
         [&] {
           at_xoff = t.machine().received_bytes().size();
           t.machine().send_xoff();
           t.f.loop.post_after(millis(3000), [&] { t.machine().send_xon(); });
         });
  std::size_t before_xon = 0;
  t.when([&] { return t.machine().xons_sent() == 2; },  // the request's Xon, then the release
         [&] { before_xon = t.machine().received_bytes().size(); });
  t.request("TB1");
  t.xon_and_finish();
  EXPECT_EQ(at_xoff, 100u);
  // Once the Xoff is in the station's hands only the transmit buffer's three bytes go; the
  // machine also gets what was on the wires both ways meanwhile.
  const Duration ct = sim::byte_time(9600);
  const TimePoint xoff_at = t.to_host_time(19, t.f.shop.start() + millis(1));
  const TimePoint xon_at = t.to_host_time(17, xoff_at);
  ASSERT_NE(xon_at, TimePoint::max());
  EXPECT_LE(t.bytes_from_host_between(xoff_at + ct, xon_at), 3);
  EXPECT_LE(before_xon - at_xoff, 8u);
  t.expect_exact(program);
  EXPECT_TRUE(t.transmitted());
}

TEST(BinarySend, CtsOffHoldsTheBytesAndTheyAllArriveWhenItReturns) {
  BinaryStory t;
  const std::string program = every_byte_value() + every_byte_value();
  t.f.write_file("B1", program);
  TimePoint off_at{};
  t.when([&] { return t.machine().received_bytes().size() >= 50; },
         [&] {
           t.f.shop.line().set_cts_forced_off(true);
           off_at = t.f.loop.now();
           t.f.loop.post_after(millis(2000), [&] { t.f.shop.line().set_cts_forced_off(false); });
         });
  t.request("TB1");
  t.xon_and_finish();
  EXPECT_LE(t.bytes_from_host_between(off_at + sim::byte_time(9600) * 4, off_at + millis(2000)), 0);
  t.expect_exact(program);
  EXPECT_TRUE(t.transmitted());
}

TEST(BinarySend, CtsOffPastTheTimeOutEndsTheTransferAsACtsStall) {
  BinaryStory t;
  t.f.write_file("B1", plain_bytes(400));
  t.when([&] { return t.machine().received_bytes().size() >= 50; },
         [&] { t.f.shop.line().set_cts_forced_off(true); });
  t.request("TB1");
  t.xon_and_finish();
  EXPECT_TRUE(t.logged("CTS Handshake timeout .. File not sent"));
  EXPECT_TRUE(t.status_shown("CNC won't accept"));
  EXPECT_FALSE(t.status_shown("File sent..."));
  EXPECT_FALSE(t.transmitted());
  EXPECT_LT(t.machine().received_bytes().size(), 60u);
  EXPECT_TRUE(t.s().line.option_flag());
}

TEST(BinarySend, AStopEndsWithoutCompletionAndTheNextTransmissionRunsWhole) {
  BinaryStory t;
  const std::string program = every_byte_value() + every_byte_value();
  t.f.write_file("B1", program);
  std::size_t host_before = 0;
  bool stopped = false;
  t.when([&] { return t.machine().received_bytes().size() >= 200; },
         [&] {
           t.s().send_aborted = 1;  // the operator's Stop
           t.s().Timer4.start();
           host_before = t.from_host().size();
           stopped = true;
         });
  t.request("TB1");
  t.xon_and_finish();
  ASSERT_TRUE(stopped);
  EXPECT_FALSE(t.status_shown("File sent..."));
  EXPECT_FALSE(t.transmitted());
  EXPECT_LT(t.machine().received_bytes().size(), program.size());
  EXPECT_EQ(t.from_host().substr(host_before, 2), "\x14Q");
  EXPECT_EQ(t.s().send_aborted, 0);
  EXPECT_TRUE(t.s().line.option_flag());

  const std::size_t first = t.machine().received_bytes().size();
  t.machine().send_command("TB1");
  ASSERT_TRUE(t.f.run_until([&] { return t.s().mode == Mode::Sending; }, 10000));
  t.xon_and_finish();
  EXPECT_EQ(t.machine().received_bytes().substr(first), program);
  EXPECT_TRUE(t.transmitted());
}

// CD=n holds about n ms after every byte: the transfer's length grows with it.
class BinaryCharDelay : public ::testing::TestWithParam<int> {};

TEST_P(BinaryCharDelay, PausesAfterEveryByte) {
  const int cd = GetParam();
  std::vector<std::string> blocks{"9600 CD=" + std::to_string(cd) + " (MILL1)\n2 BINARY\n\n\n"};
  for (int k = 2; k <= 8; ++k) blocks.push_back("9600 (MILL" + std::to_string(k) + ")\n0\n\n\n");
  BinaryStory t(make_dncdata("COM1:9600", "=5", "SYSTEM.LOG", blocks));
  const std::string program = plain_bytes(200);
  t.f.write_file("B1", program);
  t.request("TB1");
  t.xon_and_finish();
  t.expect_exact(program);
  const auto programs = t.machine().programs();
  ASSERT_EQ(programs.size(), 1u);
  // The pause runs while the byte is on the line: each byte takes the longer of the two.
  const Duration took = programs[0].ended - programs[0].started;
  const Duration per_byte = std::max<Duration>(sim::byte_time(9600), millis(cd));
  EXPECT_GE(took, per_byte * 199);
  EXPECT_LE(took, per_byte * 199 * 21 / 20 + millis(5));
}

INSTANTIATE_TEST_SUITE_P(Delays, BinaryCharDelay, ::testing::Values(0, 5, 20));

TEST(BinarySend, WithoutTheXonABinaryPortIsSentAsTextAfterTheTimeOut) {
  BinaryStory t;
  t.f.write_file("B1", "O1\r\nM30\r\n");
  t.request("TB1");
  t.finish();
  EXPECT_TRUE(t.logged("Xon not received - sending after timeout"));
  EXPECT_FALSE(t.s().TX_binary);
  EXPECT_NE(t.machine().received_text().find("O1\r\nM30\r\n"), std::string::npos);
  EXPECT_NE(t.machine().received_bytes().find('%'), std::string::npos);  // the text trailer
}

}  // namespace
}  // namespace shoplink
