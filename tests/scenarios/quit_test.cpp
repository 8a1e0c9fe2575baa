// Every way out of the program while a transfer runs (a stop signal; Mode > Exit, which the
// close box and the scan failure screen's Exit also take) ends it as Stop does: nothing is
// logged as sent or received, the abort is logged, and an upload never takes the old
// program's place.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "binary_check.hpp"
#include "receive/manual_receive.hpp"
#include "station/operator_commands.hpp"
#include "station/startup.hpp"
#include "support/station_fixture.hpp"
#include "transmit/manual_send.hpp"

namespace shoplink::testing {
namespace {

using Step = std::function<void(StationFixture&, sim::Machine&)>;
using Check = std::function<bool(StationFixture&, sim::Machine&)>;

std::string long_program() {
  std::string p = "%\r\nO1234\r\n";
  for (int i = 0; p.size() < 60000; ++i) p += "N" + std::to_string(i) + " G1 X1. Y2.\r\n";
  return p + "M30\r\n%\r\n";
}

void after(StationFixture& f, std::int64_t ms, std::function<void()> action) {
  f.shop.at(f.loop.now() - f.shop.start() + millis(ms), std::move(action));
}

// `command` from the machine, which gives its Xon 1.5 s later.
Step asks(std::string command, std::string name = "O1234", std::string text = long_program()) {
  return [=](StationFixture& f, sim::Machine& m) {
    f.write_file(name, text);
    m.send_command(command);
    after(f, 1500, [&m] { m.send_xon(); });
  };
}

// The machine uploads a long program in bursts after its store request.
void store(StationFixture& f, sim::Machine& m) {
  f.write_file("O1234", "OLD\r\n");
  m.send_command("RO1234");
  after(f, 1500, [&m] {
    sim::UploadOptions o;
    o.burst_lines = 200;
    o.burst_pause = millis(500);
    m.upload(long_program(), o);
  });
}

const Check sent_some = [](StationFixture&, sim::Machine& m) {
  return m.received_bytes().size() > 3000;
};
const Check uploaded_some = [](StationFixture& f, sim::Machine& m) {
  return f.s().receiving == 1 && m.bytes_sent() > 3000;
};
const Check ack_wait = [](StationFixture& f, sim::Machine&) { return f.s().Timer16.enabled(); };

struct QuitCase {
  const char* name;
  const char* code_line;  // port 2's
  Step start;
  Check under_way;      // the way out comes once this holds
  const char* aborted;  // what the abort's log entry names (in the station directory)
  bool stored = false;  // the upload was stored before the way out (a report waited)
};

void PrintTo(const QuitCase& c, std::ostream* os) {
  *os << c.name;
}

const QuitCase kCases[] = {
    {"request", "0", asks("TO1234"), sent_some, "transmission of %D/O1234"},
    {"binary send", "2 BINARY",
     [](StationFixture& f, sim::Machine& m) {
       m.configure(sim::binary_machine());
       asks("TO1234")(f, m);
     },
     sent_some, "transmission of %D/O1234"},
    {"manual send", "0",
     [](StationFixture& f, sim::Machine& m) {
       f.write_file("BIG.NC", long_program());
       f.dialogs.file_answers.push_back(f.paths.host_path("BIG.NC").string());
       select_port(f.s(), 2);
       mode_send_Click(f.s());
       after(f, 500, [&m] { m.send_xon(); });
     },
     sent_some, "transmission of %D/BIG.NC"},
    {"listing", "0",
     [](StationFixture& f, sim::Machine& m) {
       for (int i = 0; i < 600; ++i) f.write_file("F" + std::to_string(1000 + i) + ".NC", "x");
       asks("P", "F0.NC", "x")(f, m);
     },
     sent_some, "transmission of %D/CONTENTS.DNC"},
    // The Allen-Bradley control acknowledges nothing: the station waits for its ACK.
    {"AB program at its ACK wait", "0 AB",
     asks("TO1234", "O1234", "%\r\nO1234\r\nN1 G1 X1.\r\nWAIT FOR AK\r\nN2 G1 X2.\r\nM30\r\n"),
     ack_wait, "transmission of %D/O1234"},
    // The upload is stored; the report after it waits for the control's AK.
    {"AB activity report at its AK wait", "0 AB REPLY=123",
     [](StationFixture& f, sim::Machine& m) {
       m.send_command("RO55");
       after(f, 1500, [&m] { m.upload("O55\nG1 X1.\n"); });
     },
     ack_wait, nullptr, true},
    {"upload", "0", store, uploaded_some, "reception of %D/O1234"},
    {"upload to a /BAK port", "0 /BAK", store, uploaded_some, "reception of %D/O1234"},
    {"manual receive", "0",
     [](StationFixture& f, sim::Machine& m) {
       f.dialogs.file_answers.push_back(f.paths.host_path("NEW.NC").string());
       select_port(f.s(), 2);
       mode_receive_Click(f.s());
       after(f, 500, [&m] { m.upload(long_program()); });
     },
     uploaded_some, "reception of %D/NEW.NC"},
};

// Checks `under_way` every 100 ms from inside the station's own waits (a transfer runs inside
// a handler, so the test cannot step in between), and takes the way out once it holds.
void quit_when(StationFixture& f, sim::Machine& m, const QuitCase& c, void (*quit)(Station&),
               bool& quit_came) {
  f.loop.post_after(millis(100), [&, quit] {
    if (!c.under_way(f, m)) return quit_when(f, m, c, quit, quit_came);
    quit_came = true;
    quit(f.s());
  });
}

class QuitMidTransfer : public ::testing::TestWithParam<QuitCase> {};

TEST_P(QuitMidTransfer, EndsAsStopDoesAndNothingReadsAsDone) {
  const QuitCase& c = GetParam();
  for (void (*quit)(Station&) : {request_stop, mode_exit_Click}) {
    SCOPED_TRACE(quit == request_stop ? "stop signal" : "Mode > Exit");
    std::vector<std::string> blocks(8, "9600\n0\n\n\n");
    blocks[1] = std::string("9600 (MILL2)\n") + c.code_line + "\n\n\n";
    StationFixture f(make_dncdata("COM1:9600", "", "SYSTEM.LOG", blocks));
    f.start();
    sim::Machine& m = f.shop.machine(2);
    c.start(f, m);
    bool quit_came = false;
    quit_when(f, m, c, quit, quit_came);
    f.advance_ms(120000);
    ASSERT_TRUE(quit_came) << "the transfer never got under way";
    ASSERT_TRUE(f.loop.quit_requested());
    shutdown(f.s());

    const auto log = f.log_messages();
    const std::string dir = f.s().station_dir();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "SHOPLINK stopped (Mode menu / Exit)") << ::testing::PrintToString(log);
    for (const auto& l : log) {
      EXPECT_EQ(l.find("transmitted"), std::string::npos) << l;
      EXPECT_EQ(l.find("AK not received"), std::string::npos) << l;
      const bool received = l.starts_with("File ") && l.ends_with(" received");
      EXPECT_TRUE(c.stored || !received) << l;
    }
    if (c.aborted) {
      std::string what = c.aborted;
      what.replace(what.find("%D"), 2, dir);
      EXPECT_EQ(std::count(log.begin(), log.end(), "SHOPLINK stopping - " + what + " aborted"), 1)
          << ::testing::PrintToString(log);
    }
    // An upload cut short leaves the old program as it was, and no temporary.
    const bool upload = std::string(c.name).starts_with("upload");
    EXPECT_TRUE(!upload || f.read_file("O1234") == "OLD\r\n");
    EXPECT_FALSE(f.dir.exists("~O1234.upload"));
    EXPECT_FALSE(f.dir.exists("NEW.NC"));
  }
}

INSTANTIATE_TEST_SUITE_P(EachTransferKind, QuitMidTransfer, ::testing::ValuesIn(kCases),
                         [](const auto& info) {
                           std::string n = info.param.name;
                           for (char& ch : n)
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return n;
                         });

}  // namespace
}  // namespace shoplink::testing
