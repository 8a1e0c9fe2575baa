// Machines of the simulated shop ask, upload, stall and report; the journal keeps one row
// per transfer with how it ended, and the activity events, line states and start beside it.
#include <gtest/gtest.h>

#include "journal/journal.hpp"
#include "journal/journal_rig.hpp"
#include "station/startup.hpp"
#include "support/station_fixture.hpp"
#include "transmit/manual_send.hpp"

namespace shoplink {
namespace {

using testing::StationFixture;

const std::string kProgram = "%\r\nO1234\r\nG0 X0 Y0\r\nG1 X10. F200.\r\nM30\r\n%\r\n";

// Counts the transfers that have ended, so that a scenario runs until its transfer is over.
struct EndCount : StationEvents {
  int ended = 0;
  void transfer_ended(const TransferEnd&) override { ++ended; }
};

struct Shop {
  StationFixture f;
  Journal journal{f.s(), JournalSettings{}};
  EndCount ends;
  Shop() { f.s().events.add(&ends); }
  sim::Machine& mill() { return f.shop.machine(3); }
  Station& s() { return f.s(); }
  void xon_after_commands() {
    sim::MachineConfig c = mill().config();
    c.xon_after_command = millis(1500);
    mill().configure(c);
  }
  bool ended_and_scanning(std::int64_t ms) {
    return f.run_until(
        [&] { return ends.ended > 0 && s().mode == Mode::Scanning && s().Timer2.enabled(); }, ms);
  }
  void upload(const std::string& command) {
    mill().send_command(command);
    ASSERT_TRUE(f.run_until([&] { return s().mode == Mode::Receiving; }, 20000));
    mill().upload("O5001\nG1 X1.\nM30\n");
    ASSERT_TRUE(f.run_until(
        [&] { return mill().uploads_done() == 1 && s().mode == Mode::Scanning; }, 30000));
  }
};

void request_found(Shop& t) {
  t.f.write_file("O1234", kProgram);
  t.xon_after_commands();
  t.mill().send_command("TO1234");
  ASSERT_TRUE(t.f.run_until(
      [&] { return t.mill().programs().size() == 1 && t.s().mode == Mode::Scanning; }, 30000));
}

void request_missing(Shop& t) {
  t.xon_after_commands();
  t.mill().send_command("TO9999");
  ASSERT_TRUE(t.f.run_until(
      [&] { return t.mill().programs().size() == 1 && t.s().mode == Mode::Scanning; }, 30000));
}

void listing(Shop& t) {
  t.xon_after_commands();
  t.mill().send_command("P");
  ASSERT_TRUE(t.f.run_until(
      [&] { return t.mill().programs().size() == 1 && t.s().mode == Mode::Scanning; }, 30000));
}

// The machine takes a character a second and asks for more only when its buffer is empty:
// the station's stall time-out (30 s) ends the transfer while it is held by Xoff.
void held_too_long(Shop& t) {
  std::string big = "%\r\n";
  for (int i = 0; i < 40; ++i) big += "G1 X" + std::to_string(i) + ". Y1.\r\n";
  t.f.write_file("O1234", big);
  sim::MachineConfig c = t.mill().config();
  c.xon_after_command = millis(1500);
  c.xoff_at = 40;
  c.xon_at = 0;
  c.consume_cps = 1;
  t.mill().configure(c);
  t.mill().send_command("TO1234");
  ASSERT_TRUE(t.ended_and_scanning(120000));
}

// The operator sends a file by hand to port 3 and stops it two seconds in.
void stopped(Shop& t) {
  std::string big = "%\r\n";
  for (int i = 0; i < 400; ++i) big += "G1 X" + std::to_string(i) + ". Y1.\r\n";
  t.f.write_file("O1234", big);
  select_port(t.s(), 3);
  t.f.advance_ms(300);
  t.f.dialogs.file_answers.push_back(t.f.paths.host_path("O1234").string());
  mode_send_Click(t.s());
  t.f.loop.post_after(millis(2000), [&] { Command2_Click(t.s()); });
  Command1_Click(t.s());  // Send now: the transmission runs until the stop
  ASSERT_TRUE(t.ended_and_scanning(30000));
}

void uploaded(Shop& t) {
  t.upload("RO5001");
}

// An unmapped drive is outside the station's directories: the upload goes to TRASH.
void uploaded_outside(Shop& t) {
  t.upload("RC:O5001");
}

void announced_without_data(Shop& t) {
  t.mill().send_command("RO5002");
  ASSERT_TRUE(t.f.run_until([&] { return t.s().mode == Mode::Receiving; }, 20000));
  ASSERT_TRUE(t.ended_and_scanning(60000));
}

struct TransferCase {
  const char* name;
  void (*act)(Shop&);
  const char* kind;
  const char* result;
  const char* reason;
  const char* program;  // the row's program, relative to the station directory
  std::int64_t characters;
};
void PrintTo(const TransferCase& c, std::ostream* os) {
  *os << c.name;
}

class JournalTransfers : public ::testing::TestWithParam<TransferCase> {};

TEST_P(JournalTransfers, OneRowTellsHowTheTransferEnded) {
  const TransferCase c = GetParam();
  Shop t;
  t.f.start();
  c.act(t);
  const auto rows = testing::transfer_rows(t.f.dir.path());
  ASSERT_EQ(rows.size(), 1u);
  const testing::TransferRow& r = rows[0];
  EXPECT_EQ(r.port, 3);
  EXPECT_EQ(r.kind, c.kind);
  EXPECT_EQ(r.result, c.result);
  EXPECT_EQ(r.reason, c.reason);
  EXPECT_EQ(r.program, (t.f.dir.path() / c.program).string());
  if (c.characters >= 0) {
    EXPECT_EQ(r.characters, c.characters);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Journal, JournalTransfers,
    ::testing::Values(
        TransferCase{"request", request_found, "request", "transmitted", "", "O1234",
                     static_cast<std::int64_t>(kProgram.size())},
        TransferCase{"missing", request_missing, "request", "not found", "", "O9999", 0},
        TransferCase{"listing", listing, "listing", "transmitted", "", "CONTENTS.DNC", -1},
        TransferCase{"held", held_too_long, "request", "handshake time-out", "Xoff held", "O1234",
                     -1},
        TransferCase{"stopped", stopped, "manual send", "aborted by Stop", "Stop button", "O1234",
                     -1},
        TransferCase{"upload", uploaded, "upload", "received", "", "O5001", 20},
        TransferCase{"trash", uploaded_outside, "upload", "discarded", "stored in TRASH",
                     "C:/O5001", 20},
        TransferCase{"nodata", announced_without_data, "upload", "discarded", "no data", "O5002",
                     0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(JournalEvents, ActivityLineStatesAndTheStationsStartAndStopAreKept) {
  Shop t;
  t.f.start();
  t.mill().send_command("S");
  t.f.advance_ms(3000);
  t.mill().send_command("D12.503");
  t.f.advance_ms(3000);
  shutdown(t.s());
  EXPECT_EQ(testing::event_rows(t.f.dir.path(), "machine_events"),
            (std::vector<std::string>{"cycle start|", "probed dimension|12.503"}));
  EXPECT_EQ(testing::event_rows(t.f.dir.path(), "station_events"),
            (std::vector<std::string>{"started|", "line opened|COM1 9600", "stopping|"}));
}

struct Throwing : StationEvents {
  void activity_recorded(const ActivityRecord&) override { throw std::runtime_error("broken"); }
};

TEST(JournalEvents, AListenerThatThrowsIsTakenOffNamedOnceAndTheOthersGoOn) {
  Shop t;
  Throwing broken;
  t.s().events.add(&broken);
  t.f.start();
  for (int i = 0; i < 2; ++i) {
    t.mill().send_command("S");
    t.f.advance_ms(3000);
  }
  EXPECT_EQ(testing::event_rows(t.f.dir.path(), "machine_events"),
            (std::vector<std::string>{"cycle start|", "cycle start|"}));
  int named = 0;
  for (const auto& m : t.f.log_messages())
    named += m == "A listener of the station's reports failed and was taken off (broken)";
  EXPECT_EQ(named, 1);
  t.s().events.remove(&broken);
}

TEST(JournalEvents, AStopUnderAnUploadDiscardsIt) {
  Shop t;
  t.f.start();
  t.mill().send_command("RO5003");
  ASSERT_TRUE(t.f.run_until([&] { return t.s().mode == Mode::Receiving; }, 20000));
  t.mill().upload("O5003\nG1 X1.\n");
  t.f.advance_ms(200);
  request_stop(t.s());
  shutdown(t.s());
  const auto rows = testing::transfer_rows(t.f.dir.path());
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].result, "discarded");
  EXPECT_EQ(rows[0].reason, "station stopped");
}

}  // namespace
}  // namespace shoplink
