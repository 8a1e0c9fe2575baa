// Every way out of the program while a transfer runs (a stop signal; Mode > Exit, which the
// close box and the scan failure screen's Exit also take) ends it as Stop does: nothing is
// logged as sent or received, the abort is logged, and an upload never takes the old
// program's place.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <functional>

#include "binary_check.hpp"
#include "receive/manual_receive.hpp"
#include "station/operator_commands.hpp"
#include "station/startup.hpp"
#include "support/station_fixture.hpp"
#include "transmit/manual_send.hpp"

namespace shoplink::testing {
namespace {

struct QuitCase {
  const char* name;
  const char* code_line;  // port 2's
  // Starts the transfer on port 2.
  std::function<void(StationFixture&, sim::Machine&)> start;
  // The transfer is under way: the way out comes now.
  std::function<bool(StationFixture&, sim::Machine&)> under_way;
  const char* aborted;  // the abort's log entry with %D for the station directory, or nullptr
  std::vector<const char*> never;  // no log entry may contain these (%D as above)
};

void PrintTo(const QuitCase& c, std::ostream* os) {
  *os << c.name;
}

std::string long_program() {
  std::string p = "%\r\nO1234\r\n";
  for (int i = 0; p.size() < 60000; ++i) p += "N" + std::to_string(i) + " G1 X1. Y2.\r\n";
  return p + "M30\r\n%\r\n";
}

void after(StationFixture& f, std::int64_t ms, std::function<void()> action) {
  f.shop.at(f.loop.now() - f.shop.start() + millis(ms), std::move(action));
}

// A request for O1234 that the machine starts with its Xon.
void request(StationFixture& f, sim::Machine& m) {
  f.write_file("O1234", long_program());
  m.send_command("TO1234");
  after(f, 1500, [&m] { m.send_xon(); });
}

bool sent_some(StationFixture&, sim::Machine& m) {
  return m.received_bytes().size() > 3000;
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

bool uploaded_some(StationFixture& f, sim::Machine& m) {
  return f.s().receiving == 1 && m.bytes_sent() > 3000;
}

std::vector<QuitCase> cases() {
  return {
      {"request", "0", request, sent_some, "transmission of %D/O1234 aborted", {"transmitted"}},
      {"binary send",
       "2 BINARY",
       [](StationFixture& f, sim::Machine& m) {
         m.configure(sim::binary_machine());
         request(f, m);
       },
       sent_some,
       "transmission of %D/O1234 aborted",
       {"transmitted"}},
      {"manual send",
       "0",
       [](StationFixture& f, sim::Machine& m) {
         f.write_file("BIG.NC", long_program());
         f.dialogs.file_answers.push_back(f.paths.host_path("BIG.NC").string());
         select_port(f.s(), 2);
         mode_send_Click(f.s());
         after(f, 500, [&m] { m.send_xon(); });
       },
       sent_some,
       "transmission of %D/BIG.NC aborted",
       {"transmitted"}},
      {"listing",
       "0",
       [](StationFixture& f, sim::Machine& m) {
         for (int i = 0; i < 600; ++i) f.write_file("F" + std::to_string(1000 + i) + ".NC", "x");
         m.send_command("P");
         after(f, 1500, [&m] { m.send_xon(); });
       },
       sent_some,
       "transmission of %D/CONTENTS.DNC aborted",
       {"transmitted"}},
      // The Allen-Bradley control acknowledges nothing: the station waits for its ACK.
      {"AB program at its ACK wait",
       "0 AB",
       [](StationFixture& f, sim::Machine& m) {
         f.write_file("O1234", "%\r\nO1234\r\nN1 G1 X1.\r\nWAIT FOR AK\r\nN2 G1 X2.\r\nM30\r\n");
         m.send_command("TO1234");
         after(f, 1500, [&m] { m.send_xon(); });
       },
       [](StationFixture& f, sim::Machine&) { return f.s().Timer16.enabled(); },
       "transmission of %D/O1234 aborted",
       {"transmitted", "AK not received"}},
      // The upload is stored; the report after it waits for the control's AK.
      {"AB activity report at its AK wait",
       "0 AB REPLY=123",
       [](StationFixture& f, sim::Machine& m) {
         m.send_command("RO55");
         after(f, 1500, [&m] { m.upload("O55\nG1 X1.\n"); });
       },
       [](StationFixture& f, sim::Machine&) {
         return f.s().Timer16.enabled() && f.s().mode == Mode::Settling;
       },
       nullptr,
       {"AK not received"}},
      {"upload",
       "0",
       store,
       uploaded_some,
       "reception of %D/O1234 aborted",
       {"File %D/O1234 received"}},
      {"upload to a /BAK port",
       "0 /BAK",
       store,
       uploaded_some,
       "reception of %D/O1234 aborted",
       {"File %D/O1234 received"}},
      {"manual receive",
       "0",
       [](StationFixture& f, sim::Machine& m) {
         f.dialogs.file_answers.push_back(f.paths.host_path("NEW.NC").string());
         select_port(f.s(), 2);
         mode_receive_Click(f.s());
         after(f, 500, [&m] { m.upload(long_program()); });
       },
       uploaded_some,
       "reception of %D/NEW.NC aborted",
       {"File %D/NEW.NC received"}},
  };
}

struct WayOut {
  const char* name;
  void (*quit)(Station&);
};
const WayOut kWaysOut[] = {{"stop signal", request_stop}, {"Mode > Exit", mode_exit_Click}};

// Checks `under_way` every 100 ms from inside the station's own waits (a transfer runs
// inside a handler, so the test cannot step in between), and takes the way out once it holds.
void quit_when_under_way(StationFixture& f, sim::Machine& m, const QuitCase& c, const WayOut& w,
                         bool& quit) {
  f.loop.post_after(millis(100), [&] {
    if (!c.under_way(f, m)) return quit_when_under_way(f, m, c, w, quit);
    quit = true;
    w.quit(f.s());
  });
}

std::string with_dir(std::string text, const std::string& dir) {
  const auto at = text.find("%D");
  if (at != std::string::npos) text.replace(at, 2, dir);
  return text;
}

class QuitMidTransfer : public ::testing::TestWithParam<QuitCase> {};

TEST_P(QuitMidTransfer, EndsAsStopDoesAndNothingReadsAsDone) {
  const QuitCase& c = GetParam();
  for (const WayOut& w : kWaysOut) {
    SCOPED_TRACE(w.name);
    std::vector<std::string> blocks;
    for (int k = 1; k <= 8; ++k) blocks.push_back("9600 (MILL" + std::to_string(k) + ")\n0\n\n\n");
    blocks[1] = std::string("9600 (MILL2)\n") + c.code_line + "\n\n\n";
    StationFixture f(make_dncdata("COM1:9600", "", "SYSTEM.LOG", blocks));
    f.start();
    sim::Machine& m = f.shop.machine(2);
    c.start(f, m);
    bool quit = false;
    quit_when_under_way(f, m, c, w, quit);
    f.advance_ms(120000);
    ASSERT_TRUE(quit) << "the transfer never got under way";
    ASSERT_TRUE(f.loop.quit_requested());
    shutdown(f.s());

    const auto log = f.log_messages();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "SHOPLINK stopped (Mode menu / Exit)") << ::testing::PrintToString(log);
    for (const auto& l : log)
      for (const char* bad : c.never)
        EXPECT_EQ(l.find(with_dir(bad, f.s().station_dir())), std::string::npos) << l;
    if (c.aborted) {
      const std::string aborted = "SHOPLINK stopping - " + with_dir(c.aborted, f.s().station_dir());
      EXPECT_EQ(std::count(log.begin(), log.end(), aborted), 1) << ::testing::PrintToString(log);
    }
    // An upload cut short leaves the old program as it was, and no temporary.
    if (std::string(c.name).starts_with("upload")) {
      EXPECT_EQ(f.read_file("O1234"), "OLD\r\n");
    }
    EXPECT_FALSE(f.dir.exists("~O1234.upload"));
    EXPECT_FALSE(f.dir.exists("NEW.NC"));
  }
}

INSTANTIATE_TEST_SUITE_P(EachTransferKind, QuitMidTransfer, ::testing::ValuesIn(cases()),
                         [](const auto& info) {
                           std::string n = info.param.name;
                           std::replace_if(
                               n.begin(), n.end(), [](char ch) { return !std::isalnum(ch); }, '_');
                           return n;
                         });

}  // namespace
}  // namespace shoplink::testing
