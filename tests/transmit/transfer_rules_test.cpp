// Controller openings and skips, the Xon wait's poll, the settling rules and the handshake
// time-out, on a line double that takes every byte at once.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "base/virtual_loop.hpp"
#include "core/station.hpp"
#include "support/fake_line.hpp"
#include "support/line_station.hpp"
#include "support/temp_dir.hpp"
#include "transmit/code_tables.hpp"
#include "transmit/send_file.hpp"
#include "transmit/sending_poll.hpp"
#include "transmit/transfer_timers.hpp"
#include "ui/recorder.hpp"

namespace shoplink {
namespace {

using testing::FakeLine;
using testing::TempDir;

// Takes every byte at once; counts discards of unsent output; as a Lynx control it prompts
// ">" for each block it has taken.
class PromptingLine final : public SerialPort {
 public:
  bool is_open() const override { return true; }
  bool cts() override { return true; }
  int in_buffer_count() override { return static_cast<int>(input.size()); }
  void clear_in_buffer() override { input.clear(); }
  int out_buffer_count() override { return unsent; }
  void clear_out_buffer() override {
    ++discards;
    unsent = 0;
  }
  std::string read() override {
    std::string out = input.substr(0, input_len() == 1 ? 1 : input.size());
    input.erase(0, out.size());
    return out;
  }
  void write(std::string_view b) override {
    written.append(b);
    if (lynx && (b == "\n" || b == "*")) input += '>';
    if (after_write) after_write();
  }
  std::function<void()> after_write;
  bool lynx = true;
  int discards = 0;
  int unsent = 0;  // what the device reports it has not sent yet
  std::string input, written;

 protected:
  bool do_open() override { return true; }
  void do_close() override {}
};

template <class Line>
struct Bench : testing::LineStation<Line> {
  using testing::LineStation<Line>::s;
  using testing::LineStation<Line>::dir;

  Bench() {
    build_code_tables(s.codes);
    s.port = 1;
    s.config.log_path = s.station_file("SYSTEM.LOG");
    s.config.response_timeout_ms = 20000;
    code("2");
    s.filetype = 1;
    s.Timer13.start();
  }
  void code(const std::string& code_line) {
    s.ports[1].code_line = code_line;
    s.ports[1].code_type = code_type_of(code_line);
  }
  // The machine has given its Xon for `name`, which holds `text`.
  void send(const std::string& name, const std::string& text) {
    dir.write(name, text);
    s.Filename = s.station_file(name);
    s.mode = Mode::Sending;
    s.sending = 1;
    s.xoff = 0;
    sendfile(s);
  }
  bool logged(const std::string& message) const {
    return dir.read("SYSTEM.LOG").find(message) != std::string::npos;
  }
};

const std::string kClose = "\x14Q";
const std::string kPlainTrailer = std::string(10, '\0') + "%\r\n\x04\x14\x14";

TEST(Openings, LynxAnswersTheFileNamePromptAndWaitsForEachPrompt) {
  Bench<PromptingLine> b;
  b.s.Lynx_request = true;
  b.send("O1", "O1\r\nG1\r\n");
  EXPECT_EQ(b.line.written, "*O1\r\nG1\r\n\x1A" + kClose);
  EXPECT_TRUE(b.logged("File " + b.s.station_dir() + "/O1 transmitted"));
}

TEST(Closing, OutputStillUnderwayIsDiscardedOnlyAfterAStop) {
  // A device that cannot report its unsent characters (a pseudo-terminal) may still hold
  // the end of a program that went out completely.
  Bench<PromptingLine> done;
  done.line.lynx = false;
  done.send("O1", "O1\r\n");
  EXPECT_EQ(done.line.discards, 0);
  EXPECT_EQ(done.line.written, "\r\nO1\r\n" + kPlainTrailer + kClose);

  Bench<PromptingLine> stopped;
  stopped.line.lynx = false;
  stopped.line.after_write = [&] {
    if (stopped.line.written == "\r\nO") stopped.s.send_aborted = 1;  // Stop during line 1
  };
  stopped.send("O1", "O1\r\nG1\r\n");
  EXPECT_GE(stopped.line.discards, 1);
  EXPECT_EQ(stopped.line.written.find('%'), std::string::npos);
  EXPECT_EQ(stopped.line.written.substr(stopped.line.written.size() - 2), kClose);
}

// The station stops (any way out ends its loop) while the end of a program is still on its
// way out: that end never reaches the machine, so the program is not called sent.
TEST(Closing, AStopBeforeTheLineHasTakenTheEndIsNoCompletion) {
  Bench<PromptingLine> b;
  b.line.lynx = false;
  b.line.after_write = [&] {
    if (b.line.unsent > 0 || !b.line.written.ends_with(kPlainTrailer)) return;
    b.line.unsent = 3;
    b.loop.post_after(millis(100), [&] { b.loop.quit(); });
  };
  b.send("O1", "O1\r\nG1\r\n");
  EXPECT_FALSE(b.logged("transmitted"));
  EXPECT_GE(b.line.discards, 1);
  EXPECT_TRUE(b.line.written.ends_with(kClose));
}

TEST(Openings, OldOkumaLeadsAndEndsWithBlankTape) {
  Bench<FakeLine> b;
  b.code("2 OLD_OKUMA");
  b.send("O1", "$O1.MIN%\r\nG1\r\n%\r\n");
  const std::string nuls(100, '\0');
  EXPECT_EQ(b.line.written,
            nuls + "$O1.MIN" + std::string(30, '\0') + "%\r\nG1\r\n%\r\n" + nuls + kClose);
}

TEST(Openings, BurnyUsesCrLfPercentAndItsOwnEnd) {
  Bench<FakeLine> b;
  b.code("0");
  b.s.BURNY = 1;
  b.send("P7", "%\r\nG1\r\n");
  const std::string crlf = "\x8D\x0A";  // even parity
  // A "%" line goes out as it stands, without conversion or end of block.
  EXPECT_EQ(b.line.written,
            crlf + "\xA5" + crlf + "%" + "\x47\xB1" + crlf + "\x9A" + crlf + kClose);
  EXPECT_EQ(b.s.ports[1].eob, crlf);
}

TEST(Openings, SlashLSendsNoOpeningEndOfBlock) {
  Bench<FakeLine> b;
  b.code("2 /L");
  b.send("O1", "G1\r\n");
  EXPECT_EQ(b.line.written, "G1\r\n" + kPlainTrailer + kClose);
}

TEST(Skips, NumberedProgramHeaderAndQuotesAreNeverSent) {
  Bench<FakeLine> b;
  b.send("PROG0012", "\"0012\",\"BRACKET\"\r\n\"O12\"\r\n\"G1\"\r\n");
  EXPECT_EQ(b.s.filetype, 3);
  EXPECT_EQ(b.line.written, "\r\nO12\r\nG1\r\n" + kPlainTrailer + kClose);
  // A "PROG" file without the quoted header is sent as it stands.
  Bench<FakeLine> c;
  c.send("PROG0013", "O13\r\n\"Q\"\r\n");
  EXPECT_EQ(c.s.filetype, 1);
  EXPECT_EQ(c.line.written, "\r\nO13\r\n\"Q\"\r\n" + kPlainTrailer + kClose);
}

TEST(Skips, PercentSwitchAndSiteRulesDropLines) {
  Bench<FakeLine> b;
  b.code("2 /%");
  b.send("O1", "%\r\nO1\r\nM30\r\n%\r\n");
  EXPECT_EQ(b.line.written, "\r\nO1\r\nM30\r\n" + kPlainTrailer + kClose);

  Bench<FakeLine> c;
  c.s.Customer_name = "Corbin Hitch Co.";
  c.send("O2", "%\r\n(SETUP)\r\nO2\r\nG1\r\n(END)\r\n");
  EXPECT_EQ(c.line.written, "\r\nO2\r\nG1\r\n(END)\r\n" + kPlainTrailer + kClose);

  Bench<FakeLine> d;
  d.s.Customer_name = "MAPLEGATE TECHNOLOGIES";
  d.send("O3", "%\r\nO3\r\n%\r\n");
  EXPECT_EQ(d.line.written, "\r\nO3\r\n" + kPlainTrailer + kClose);
}

TEST(XonWaitPoll, XonStartsOnlyAPendingTransmission) {
  Bench<FakeLine> b;
  b.s.mode = Mode::Sending;
  b.s.xoff = 1;
  receive_poll_sending(b.s, "\x91");  // Xon with its top bit set; no file yet
  EXPECT_EQ(b.s.xoff, 0);
  EXPECT_EQ(b.platform.beeps, 1);
  EXPECT_EQ(b.s.sending, 0);
  EXPECT_EQ(b.line.written, "");
  receive_poll_sending(b.s, "\x12");  // DC2 is answered with Xon
  EXPECT_EQ(b.line.written, "\x11");
  receive_poll_sending(b.s, "\x13");
  EXPECT_EQ(b.s.xoff, 1);
  receive_poll_sending(b.s, "\x06");
  EXPECT_EQ(b.s.gotAK, 0);  // ACK counts on AB ports only
  b.code("2 AB");
  receive_poll_sending(b.s, "\x06");
  EXPECT_EQ(b.s.gotAK, 1);
}

TEST(Settling, ArrivalsKeepTheStationSettling) {
  Bench<FakeLine> b;
  b.s.mode = Mode::Settling;
  b.s.mode_after_purge = 1;
  b.s.rx_string = "old";
  b.s.Timer10.start();
  b.loop.advance_ms(900);
  receive_poll_settling(b.s, "x\x14y");  // DC4 matters only before a reception
  EXPECT_TRUE(b.s.rx_string.empty());
  b.loop.advance_ms(900);  // restarted by the arrival: still settling
  EXPECT_EQ(b.s.mode, Mode::Settling);
  b.loop.advance_ms(100);
  EXPECT_EQ(b.s.mode, Mode::Sending);
}

TEST(Settling, Dc4BeforeAPendingReceptionStartsItWithTheKeptText) {
  Bench<FakeLine> b;
  b.s.mode = Mode::Settling;
  b.s.mode_after_purge = Mode::Receiving;
  b.s.Timer10.start();
  receive_poll_settling(b.s, "ab\x14O1\r\n");
  EXPECT_FALSE(b.s.Timer10.enabled());
  EXPECT_EQ(b.s.rx_string, "O1\r\n");  // the DC4 is the start signal, not the program's
  EXPECT_EQ(b.s.mode, Mode::Receiving);
  EXPECT_EQ(b.s.receiving, 1);
  EXPECT_TRUE(b.s.Timer6.enabled());  // never settling without a timer to end it
}

TEST(SettlingTimer, EntersTheModeAfterPurge) {
  Bench<FakeLine> b;
  b.s.mode = Mode::Settling;
  b.s.mode_after_purge = Mode::Sending;
  b.s.send_inhibit = 1;
  b.code("2 AB");
  Timer10_Timer(b.s);
  EXPECT_EQ(b.s.mode, Mode::Sending);
  EXPECT_EQ(b.s.xoff, 1);
  EXPECT_EQ(b.s.send_inhibit, 0);
  EXPECT_TRUE(b.s.Timer3.enabled());
  EXPECT_EQ(b.s.Timer3.interval(), 3000);
  b.code("2");
  b.s.mode = Mode::Settling;
  Timer10_Timer(b.s);
  EXPECT_EQ(b.s.Timer3.interval(), 20000);

  b.s.Timer3.stop();
  b.s.mode = Mode::Settling;
  b.s.mode_after_purge = 0;
  Timer10_Timer(b.s);
  EXPECT_EQ(b.s.mode, Mode::Scanning);
  EXPECT_TRUE(b.s.Timer4.enabled());
  EXPECT_FALSE(b.s.Timer3.enabled());
}

TEST(HandshakeTimeout, OutsideTheXonWaitNothingIsSent) {
  Bench<FakeLine> b;
  b.s.mode = Mode::Scanning;
  b.s.Filename = b.s.station_file("STALE");
  b.s.Timer3.start();
  Timer3_Timer(b.s);
  EXPECT_FALSE(b.s.Timer3.enabled());
  EXPECT_FALSE(b.s.Timer20.enabled());
  EXPECT_EQ(b.s.sending, 0);
  EXPECT_FALSE(b.logged("Xon not received"));
}

TEST(HandshakeTimeout, StallIsLoggedByItsCause) {
  const struct {
    bool cts;
    std::int16_t xoff;
    const char* message;
  } cases[] = {{false, 1, "CTS Handshake timeout .. File not sent"},
               {true, 1, "Xoff Handshake timeout ... File not sent"},
               {true, 0, "No Xon received ... File not sent"}};
  for (const auto& c : cases) {
    Bench<FakeLine> b;
    b.line.cts_on = c.cts;
    b.s.sending = 1;
    b.s.xoff = c.xoff;
    b.s.Timer3.start();
    Timer3_Timer(b.s);
    EXPECT_TRUE(b.logged(c.message)) << c.message;
    EXPECT_EQ(b.s.send_aborted, 1);
    EXPECT_EQ(b.s.xoff, 0);
    EXPECT_TRUE(b.s.Timer4.enabled());
    EXPECT_EQ(b.window.status(), "CNC won't accept");
  }
  Bench<FakeLine> drip;
  drip.s.sending = 1;
  drip.s.Drip = 1;
  drip.s.Timer3.start();
  Timer3_Timer(drip.s);
  EXPECT_EQ(drip.s.send_aborted, 0);
  EXPECT_TRUE(drip.s.Timer3.enabled());
}

}  // namespace
}  // namespace shoplink
