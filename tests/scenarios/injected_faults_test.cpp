// Faults injected into the simulated shop while the station serves it: a noisy line, CTS
// lost and back, the port controller losing power, a machine falling silent, directories
// that cannot be written or are missing, the disk full. After each the station is back to
// scanning, nothing stored before is lost or cut short, the log says what happened, and the
// next request of the same machine is served whole.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>

#include "faults.hpp"
#include "machine_codes.hpp"
#include "support/file_size_limit.hpp"
#include "support/station_fixture.hpp"
#include "support/unprivileged.hpp"
#include "text_lines.hpp"

namespace shoplink::testing {
namespace {

namespace fs = std::filesystem;

std::string program_of(int lines) {
  std::string out = "O3100\n";
  for (int i = 1; i <= lines; ++i)
    out += "N" + std::to_string(i * 10) + " G01 X" + std::to_string(i) + ".5 Y-2.25\n";
  return out + "M30\n";
}

std::string crlf(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return out;
}

struct FaultRig {
  // Port 3 stores into UP3 and sends from NC3 (or `send_dir`); one program waits in each.
  explicit FaultRig(const std::string& send_dir = "NC3",
                    const std::string& log_line = "SYSTEM.LOG") {
    std::vector<std::string> blocks;
    for (int k = 1; k <= 8; ++k) blocks.push_back("9600 (MILL" + std::to_string(k) + ")\n0\n\n\n");
    blocks[2] = "9600 (MILL3)\n0\nUP3\n" + send_dir + "\n";
    f = std::make_unique<StationFixture>(make_dncdata("COM1:9600", "", log_line, blocks));
    f->write_file("UP3/O3001", crlf(program_of(20)));
    f->write_file("NC3/O3100", crlf(program_of(300)));
    // A program ends after 20 s of silence, so a held line does not split one in two.
    sim::MachineConfig c = mill().config();
    c.program_gap = millis(20000);
    mill().configure(c);
  }
  sim::Machine& mill() { return f->shop.machine(3); }
  Station& s() { return f->s(); }
  bool scanning(std::int64_t limit_ms = 120000) {
    return f->run_until(
        [&] { return s().mode == Mode::Scanning && s().Timer2.enabled() && s().receiving == 0; },
        limit_ms);
  }
  // Every file under UP3 and NC3 with its content.
  std::map<std::string, std::string> stored() const {
    std::map<std::string, std::string> out;
    for (const char* d : {"UP3", "NC3"}) {
      std::error_code ec;
      for (fs::directory_iterator it(f->dir.path() / d, ec), end; !ec && it != end;
           it.increment(ec))
        out[std::string(d) + "/" + it->path().filename().string()] =
            f->read_file(std::string(d) + "/" + it->path().filename().string());
    }
    return out;
  }
  // T<name>, cycle start once the station waits for it; true when the machine received the
  // program whole.
  bool request(const std::string& name, const std::string& expect_text) {
    const auto before = mill().programs().size();
    mill().send_command("T" + name);
    if (!f->run_until([&] { return s().mode == Mode::Sending && s().port == 3; }, 60000))
      return false;
    mill().send_xon();
    if (!f->run_until(
            [&] { return mill().programs().size() > before && mill().programs().back().complete; },
            120000))
      return false;
    return mill().programs().back().lines() == sim::significant_lines(expect_text);
  }
  // R<name>, then `send` once the station receives.
  bool store(const std::string& name, const std::function<void()>& send) {
    mill().send_command("R" + name);
    if (!f->run_until([&] { return s().mode == Mode::Receiving && s().port == 3; }, 60000))
      return false;
    send();
    return true;
  }
  bool log_has(const std::string& part) const {
    for (const auto& m : f->log_messages())
      if (m.find(part) != std::string::npos) return true;
    return false;
  }
  std::unique_ptr<StationFixture> f;
};

struct Fault {
  const char* name;
  std::function<void(FaultRig&)> inject;  // runs the story up to and through the fault
  std::vector<std::string> logged;        // parts of log messages that must be there
  std::vector<std::string> changed;       // stored files the story itself replaces
};

const std::string kUpload = program_of(60);

std::vector<Fault> faults() {
  return {
      {"noise before a command",
       [](FaultRig& r) {
         r.mill().send_raw(sim::line_noise(7, 12));
         r.mill().send_command("TO3100");
         r.f->advance_ms(60000);
       },
       {"command received"},
       {}},
      {"parity errors in a command",
       [](FaultRig& r) {
         const std::string cmd = sim::encode_text(sim::MachineCode::IsoEven, "TO3100\r\n");
         r.mill().send_raw(sim::spoil_parity(cmd, {1, 3}));
         r.f->run_until([&] { return r.s().mode == Mode::Sending; }, 20000);
         r.mill().send_xon();
         r.f->advance_ms(60000);
       },
       {"Port 3 - ASCII command received: <TO3100>", "O3100 transmitted"},
       {}},
      {"parity errors during an upload",
       [](FaultRig& r) {
         ASSERT_TRUE(r.store("O3002", [&] {
           r.mill().send_raw(
               sim::punched_with_parity_errors(sim::MachineCode::IsoEven, kUpload, "\r\n", 7));
         }));
         ASSERT_TRUE(r.scanning());
         EXPECT_EQ(sim::significant_lines(r.f->read_file("UP3/O3002")).size(),
                   sim::significant_lines(kUpload).size());
       },
       {"UP3/O3002 received"},
       {"UP3/O3002"}},
      {"line noise during an upload",
       [](FaultRig& r) {
         ASSERT_TRUE(r.store("O3002", [&] {
           const std::string bytes = sim::encode_text(sim::MachineCode::IsoEven, crlf(kUpload));
           r.mill().send_raw(bytes.substr(0, 300) + sim::line_noise(3, 40) + bytes.substr(300));
         }));
         ASSERT_TRUE(r.scanning());
         const auto lines = sim::significant_lines(r.f->read_file("UP3/O3002"));
         EXPECT_EQ(lines.front(), "O3100");
         EXPECT_EQ(lines.back(), "M30");
       },
       {"UP3/O3002 received"},
       {"UP3/O3002"}},
      {"CTS drops mid-program and comes back",
       [](FaultRig& r) {
         const Duration t = r.f->loop.now() - r.f->shop.start();
         r.f->shop.at(t + millis(5000), [&] { r.f->shop.line().set_cts_forced_off(true); });
         r.f->shop.at(t + millis(9000), [&] { r.f->shop.line().set_cts_forced_off(false); });
         EXPECT_TRUE(r.request("O3100", program_of(300)));
       },
       {"O3100 transmitted"},
       {}},
      {"CTS drops mid-program for good",
       [](FaultRig& r) {
         const Duration t = r.f->loop.now() - r.f->shop.start();
         r.f->shop.at(t + millis(5000), [&] { r.f->shop.line().set_cts_forced_off(true); });
         r.f->shop.at(t + millis(120000), [&] { r.f->shop.line().set_cts_forced_off(false); });
         r.mill().send_command("TO3100");
         r.f->run_until([&] { return r.s().mode == Mode::Sending; }, 20000);
         r.mill().send_xon();
         r.f->advance_ms(130000);
       },
       {"CTS Handshake timeout"},
       {}},
      // Longer than the handshake time-out: the station gives the transfer up, and once the
      // controller is back the machine is served again.
      {"the controller loses power mid-transfer and returns",
       [](FaultRig& r) {
         const Duration t = r.f->loop.now() - r.f->shop.start();
         r.f->shop.at(t + millis(5000), [&] { r.f->shop.controller().set_powered(false); });
         r.f->shop.at(t + millis(60000), [&] { r.f->shop.controller().set_powered(true); });
         r.mill().send_command("TO3100");
         r.f->run_until([&] { return r.s().mode == Mode::Sending; }, 20000);
         r.mill().send_xon();
         r.f->advance_ms(120000);
       },
       {"CTS Handshake timeout .. File not sent"},
       {}},
      {"a machine falls silent mid-upload",
       [](FaultRig& r) {
         ASSERT_TRUE(r.store("O3002", [&] { r.mill().upload(program_of(60).substr(0, 400)); }));
         ASSERT_TRUE(r.scanning());
         EXPECT_EQ(r.f->read_file("UP3/O3002"), crlf(program_of(60).substr(0, 400)) + "\r\n");
       },
       {"UP3/O3002 received"},
       {"UP3/O3002"}},
      {"the receive directory is unwritable",
       [](FaultRig& r) {
         UnprivilegedFor ro(r.f->dir.path(), r.f->dir.path() / "UP3");
         ASSERT_TRUE(r.store("O3002", [&] { r.mill().upload(kUpload); }));
         ASSERT_TRUE(r.scanning());
         EXPECT_FALSE(r.f->dir.exists("UP3/O3002"));
       },
       {"Storing data as file"},
       {}},
      {"the disk fills during an upload",
       [](FaultRig& r) {
         r.f->write_file("UP3/O3002", "OLD PROGRAM\r\n");
         {
           FileSizeLimit full(1024);
           ASSERT_TRUE(r.store("O3002", [&] { r.mill().upload(program_of(200)); }));
           ASSERT_TRUE(r.scanning());
         }
         EXPECT_EQ(r.f->read_file("UP3/O3002"), "OLD PROGRAM\r\n");
       },
       {"Error number 27 occurred"},
       {}},
  };
}

void PrintTo(const Fault& f, std::ostream* os) {
  *os << f.name;
}

class InjectedFault : public ::testing::TestWithParam<Fault> {};

TEST_P(InjectedFault, StationRecoversLosesNothingAndLogsIt) {
  const Fault& c = GetParam();
  FaultRig r;
  r.f->start();
  auto before = r.stored();
  c.inject(r);
  ASSERT_TRUE(r.scanning()) << "the station did not return to scanning";
  auto after = r.stored();
  for (const auto& name : c.changed) {
    before.erase(name);
    after.erase(name);
  }
  for (const auto& [name, content] : before) {
    ASSERT_TRUE(after.count(name)) << name << " is gone";
    EXPECT_EQ(after[name], content) << name << " changed";
  }
  for (const auto& part : c.logged)
    EXPECT_TRUE(r.log_has(part)) << "the log does not say " << part << "; it says:\n"
                                 << ::testing::PrintToString(r.f->log_messages());
  // The machine is served again, whole.
  EXPECT_TRUE(r.request("O3100", program_of(300))) << "the next request was not served whole";
}

INSTANTIATE_TEST_SUITE_P(Shop, InjectedFault, ::testing::ValuesIn(faults()), [](const auto& info) {
  std::string n;
  for (char ch : std::string(info.param.name))
    if (std::isalnum(static_cast<unsigned char>(ch))) n += ch;
  return n;
});

// The send directory is missing: the request is answered as not found, the listing too.
TEST(InjectedFault, TheSendDirectoryIsMissing) {
  FaultRig r("NC9");
  r.f->start();
  const auto before = r.stored();
  EXPECT_TRUE(r.request("O3100", "(FILE O3100 NOT FOUND)\n"));
  EXPECT_TRUE(r.log_has("File not found"));
  ASSERT_TRUE(r.scanning());
  EXPECT_EQ(r.stored(), before);
}

// The disk fills while the log is being trimmed: the log stays as it was (never cut short or
// replaced by a partial copy), the station goes on, and the trim succeeds once there is room.
TEST(InjectedFault, TheDiskFillsDuringALogTrim) {
  FaultRig r("NC3", "SYSTEM.LOG,20000");
  r.f->start();
  std::string filler;
  while (filler.size() < 19950)
    filler += "Old entry                                              12-01-2026 @ 10:00:00\r\n";
  filler.resize(filler.rfind("\r\n", 19950) + 2);
  r.f->write_file("SYSTEM.LOG", filler);
  {
    FileSizeLimit full(8000);  // below the trimmed copy's size
    r.mill().send_command("S");
    ASSERT_TRUE(r.scanning());
    r.f->advance_ms(3000);
    const std::string log = r.f->read_file("SYSTEM.LOG");
    EXPECT_EQ(log.substr(0, filler.size()), filler) << "the log was cut short";
    EXPECT_FALSE(r.f->dir.exists("tempfile.log")) << "a partial copy was left behind";
  }
  r.f->advance_ms(61000);
  r.mill().send_command("F");
  ASSERT_TRUE(r.scanning());
  r.f->advance_ms(3000);
  const auto size = fs::file_size(r.f->dir.path() / "SYSTEM.LOG");
  EXPECT_LE(size, 20000u);
  EXPECT_TRUE(r.log_has("Finish of cycle"));
}

}  // namespace
}  // namespace shoplink::testing
