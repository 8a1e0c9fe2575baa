// Each kind of control on the simulated shop: what it sends, what the station answers byte for
// byte, and what it stores.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "controller_machines.hpp"
#include "scenario.hpp"
#include "support/station_fixture.hpp"

namespace shoplink::testing {
namespace {

constexpr char ESC = 27, SUB = 26, ETX = 3, ACK = 6;

struct ControllerScenario : ::testing::Test {
  std::unique_ptr<StationFixture> f;

  // Ports 3 and 4 get `code_line` and `fifth` (name characters, then options); programs are
  // sent from NC and stored in UP.
  void make(const std::string& code_line, const std::string& fifth = ",+.NC",
            const std::string& line2 = "") {
    std::vector<std::string> blocks;
    for (int k = 1; k <= 8; ++k) blocks.push_back("9600 (MILL" + std::to_string(k) + ")\n0\n\n\n");
    for (int k : {2, 3})
      blocks[static_cast<std::size_t>(k)] = "9600 (MILL)\n" + code_line + "\nUP\nNC\n" + fifth;
    f = std::make_unique<StationFixture>(make_dncdata("COM1:9600", line2, "SYSTEM.LOG", blocks));
    f->write_file("NC/keep", "x");
    f->write_file("UP/keep", "x");
    f->start();
  }
  sim::Machine& mill(int port = 3) { return f->shop.machine(port); }
  Station& s() { return f->s(); }
  bool scanning_again(std::int64_t limit_ms = 60000) {
    return f->run_until([&] { return s().mode == Mode::Scanning && s().receiving == 0; }, limit_ms);
  }
  // The log lines written after the first `from`, station directory paths made relative.
  std::vector<std::string> log_since(std::size_t from) {
    const auto all = f->log_messages();
    std::vector<std::string> out;
    const std::string dir = f->dir.path().string() + "/";
    for (std::size_t i = from; i < all.size(); ++i) {
      std::string line = all[i];
      if (const auto at = line.find(dir); at != std::string::npos) line.erase(at, dir.size());
      out.push_back(line);
    }
    return out;
  }
};

// Commands that are not requests: the machine gets nothing back; the log says "Command
// ignored" except for MAZAK's own O1 programs; EMCO, CIN850 and G200 keep their header line.
struct NotServed {
  const char* code_line;
  const char* fifth;
  const char* command;
  bool logged;
  const char* held;
};

TEST_F(ControllerScenario, CommandsThatAreNotServed) {
  const NotServed cases[] = {
      {"0 MAZAK", ",+.NC", "O0001", true, ""},
      {"0 MAZAK", ",+.NC", "TO1234", false, ""},
      {"0 OKUMA", "$,+.NC", "$Z.MIN%", true, ""},
      {"0 OKUMA", "O,+.NC", "$O1234.MIN%", true, ""},
      {"0 EMCO", ",+.NC", "%MPF1", true, "%MPF1"},
      {"0 CIN850", ",+.NC", ":1234", true, ":1234"},
      {"0 G200", ",+.NC", "%MPF22", true, "%MPF22"},
      {"0", ",+.NC", "ANILAM ELECTRONICS 3000M", true, ""},
      {"0", ",+.NC", "TO1&HE:", true, ""},
      {"0 EZTRAK", ",+.NC", "T9999", true, ""},
      {"0 MHP", ",+.NC", "TO1234", true, ""},
      {"0 MHP", ",+.NC", "((O1234))", true, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.code_line) + " " + c.command);
    make(c.code_line, c.fifth);
    const std::size_t before = f->log_messages().size();
    mill().send_command(c.command);
    f->advance_ms(1500);
    EXPECT_EQ(s().Stack, c.held);
    ASSERT_TRUE(scanning_again());
    f->advance_ms(3000);
    const auto log = log_since(before);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front(), std::string("Port 3 - ASCII command received: <") + c.command + ">");
    EXPECT_EQ(log.size() == 2 && log[1] == "Command ignored", c.logged);
    if (!c.logged) {
      EXPECT_EQ(log.size(), 1U);
    }
    EXPECT_EQ(mill().received_bytes(), "");
    EXPECT_TRUE(s().Stack.empty());  // the scan moved on: nothing stays held
  }
}

// Uploads: the file stored, exactly.
struct Stored {
  const char* code_line;
  const char* fifth;
  std::function<void(sim::Machine&)> upload;
  const char* file;
  const char* content;
};

TEST_F(ControllerScenario, UploadsAreStoredExactly) {
  const std::string program = "G0X0\nM30\n";
  const Stored cases[] = {
      {"0 OKUMA", "$", [&](sim::Machine& m) { sim::okuma_upload(m, "O1234.MIN", program); },
       "UP/O1234.MIN", "$O1234.MIN%\r\nG0X0\r\nM30\r\n"},
      {"0 TOSNUC", "$,+.NC", [&](sim::Machine& m) { m.upload("$1234\n$5\n" + program); },
       "UP/1234.NC", "O1234\r\nO5\r\nG0X0\r\nM30\r\n"},
      {"0 EMCO", "O,+.NC", [&](sim::Machine& m) { sim::emco_upload(m, "O77\n" + program); },
       "UP/77.NC", "%MPF1\r\nO77\r\nG0X0\r\nM30\r\n"},
      {"0 CIN850", "O,+.NC",
       [&](sim::Machine& m) {
         m.send_command(":77");
         m.upload("O77\n" + program);
       },
       "UP/77.NC", ":77\r\nO77\r\nG0X0\r\nM30\r\n"},
      {"0", ",+.NC", [&](sim::Machine& m) { sim::burny_upload(m, "PART2", program); },
       "UP/PART2.NC", "G0X0\r\nM30\r\n"},
      {"0 EZTRAK", ",+.NC", [&](sim::Machine& m) { m.upload("O55\x04O55 (BRACKET)\n" + program); },
       "UP/O55.NC", "O55 (BRACKET)\r\nG0X0\r\nM30\r\n"},
      {"0 MHP", ",+.NC", [&](sim::Machine& m) { m.upload("((O88,O88))\n" + program); }, "UP/O88.NC",
       "((O88,O88))\r\nG0X0\r\nM30\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code_line);
    make(c.code_line, c.fifth);
    c.upload(mill());
    f->advance_ms(2000);
    ASSERT_TRUE(scanning_again());
    EXPECT_EQ(f->read_file(c.file), c.content);
    EXPECT_TRUE(s().Stack.empty());
  }
}

// The EMCO header goes into the next program stored on its port only, and only once.
TEST_F(ControllerScenario, TheHeldLineGoesToTheNextUploadOnItsPortOnly) {
  make("0 EMCO", "O,+.NC");
  mill(3).send_command("%MPF1");
  f->advance_ms(500);
  mill(4).upload("O41\nM30\n");
  f->advance_ms(20000);
  mill(3).upload("O42\nM30\n");
  f->advance_ms(20000);
  sim::emco_upload(mill(3), "O43\nM30\n");
  f->advance_ms(20000);
  mill(3).upload("O44\nM30\n");
  f->advance_ms(20000);
  EXPECT_EQ(f->read_file("UP/41.NC"), "O41\r\nM30\r\n");
  EXPECT_EQ(f->read_file("UP/42.NC"), "O42\r\nM30\r\n");
  EXPECT_EQ(f->read_file("UP/43.NC"), "%MPF1\r\nO43\r\nM30\r\n");
  EXPECT_EQ(f->read_file("UP/44.NC"), "O44\r\nM30\r\n");
}

// Downloads: the exact bytes the control receives.
struct Sent {
  const char* code_line;
  std::function<void(sim::Machine&)> ask;
  std::string received;
  std::vector<std::string> log;
};

TEST_F(ControllerScenario, DownloadsReachTheControlExactly) {
  const std::string lynx_prompt = std::string("ENTER FILE NAME:") + ETX;
  const Sent cases[] = {
      {"0 LYNX",
       [](sim::Machine& m) { m.lynx_request("O55"); },
       lynx_prompt + "*O55\r\nG0X0\r\nM30\r\n" + SUB,
       {"Port 3 - ASCII command received: <O55>", "Lynx controller request for file NC/O55.NC",
        "Xon not received - sending after timeout", "File NC/O55.NC transmitted"}},
      {"0 LYNX",
       [](sim::Machine& m) { m.lynx_request("O56"); },
       lynx_prompt + "*(FILE O56.NC NOT FOUND)\r\n" + SUB,
       {"Port 3 - ASCII command received: <O56>", "Lynx controller request for file NC/O56.NC",
        "File not found", "Xon not received - sending after timeout",
        "No CRs found in file - using auto filter function", "File notfound.alm transmitted"}},
      {"0",
       [](sim::Machine& m) { sim::burny_download(m, "PART1"); },
       std::string{ACK, ESC} + "!FDPART1\r\n\r\n%\r\nO55\r\nG0X0\r\nM30\r\n" + SUB + "\r\n",
       {"Port 3 - ASCII command received: <<1B><05>!FGPART1>",
        "Port 3 Request for file NC/PART1.NC", "File NC/PART1.NC transmitted"}},
      {"0",
       [](sim::Machine& m) { sim::burny_download(m, "PART9"); },
       std::string{ACK, ESC} + "!FDPART9\r\n" + SUB,
       {"Port 3 - ASCII command received: <<1B><05>!FGPART9>",
        "Port 3 Request for file NC/PART9.NC", "File not found"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.received);
    make(c.code_line);
    f->write_file("NC/O55.NC", "O55\r\nG0X0\r\nM30\r\n");
    f->write_file("NC/PART1.NC", "O55\r\nG0X0\r\nM30\r\n");
    const std::size_t before = f->log_messages().size();
    c.ask(mill());
    f->advance_ms(3000);
    ASSERT_TRUE(scanning_again());
    f->advance_ms(3000);
    EXPECT_EQ(mill().received_text(), c.received);
    EXPECT_EQ(log_since(before), c.log);
    EXPECT_FALSE(f->dir.exists("NC/CONTENTS.DNC"));  // "!FGPART1" is no directory request
  }
}

TEST_F(ControllerScenario, TheBurnyEnquiryIsAnsweredOnce) {
  make("0");
  mill().send_raw("\x1b\x05\x05");
  f->advance_ms(2000);
  EXPECT_EQ(mill().acks_received(), 1);
}

TEST_F(ControllerScenario, TheLynxRequestWaitsOneSecondForItsPrompt) {
  make("0 LYNX");
  f->write_file("NC/O55.NC", "O55\r\n");
  mill().lynx_request("O55");
  ASSERT_TRUE(f->run_until([&] { return s().mode == Mode::Sending; }, 5000));
  EXPECT_EQ(s().Timer3.interval(), 1000);
}

// An activity event holds output only while the station settles; back to scanning, the next
// request on that port is answered (a Lynx control's prompt is the station's own output).
TEST_F(ControllerScenario, AfterAnActivityEventTheNextRequestIsAnswered) {
  make("0 LYNX");
  f->write_file("NC/O55.NC", "O55\r\nM30\r\n");
  mill().send_command("D12.503");
  ASSERT_TRUE(f->run_until([&] { return s().mode == Mode::Settling; }, 3000));
  ASSERT_TRUE(scanning_again());
  ASSERT_EQ(s().send_inhibit, 0);  // else the prompt below would wait for ever
  mill().lynx_request("O55");
  f->advance_ms(3000);
  ASSERT_TRUE(scanning_again());
  EXPECT_EQ(mill().received_text(),
            std::string("ENTER FILE NAME:") + ETX + "*O55\r\nM30\r\n" + SUB);
  EXPECT_TRUE(f->logged("File NC/O55.NC transmitted"));
}

// Without its ">" prompt the Lynx control gets nothing after the "*": the hold ends as a stall.
TEST_F(ControllerScenario, WithoutTheLynxPromptNothingFollowsTheOpening) {
  make("0 LYNX");
  f->write_file("NC/O55.NC", "O55\r\nM30\r\n");
  mill().on_receive(std::string("ENTER FILE NAME:") + ETX, "O55\r\n", true);
  mill().send_text("!S");
  f->advance_ms(40000);
  EXPECT_EQ(mill().received_text(), std::string("ENTER FILE NAME:") + ETX + "*");
  EXPECT_TRUE(f->logged("Xoff Handshake timeout ... File not sent"));
  EXPECT_FALSE(f->logged("File NC/O55.NC transmitted"));
}

// Names that follow the control's rules.
TEST_F(ControllerScenario, HaasAndGeNames) {
  const struct {
    const char* code_line;
    const char* line2;
    const char* command;
    const char* filename;
  } cases[] = {
      {"0 HAAS", "PCNC", "TO1234", "NC\\PROG1234"},
      {"0 HAAS", "PCNC", "T12", "NC\\PROG0012"},
      {"0 GE", "", "T12", "NC\\1200.NC"},
      {"0 ge", "", "TO5", "NC\\O500.NC"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    make(c.code_line, ",+.NC", c.line2);
    mill().send_command(c.command);
    ASSERT_TRUE(f->run_until([&] { return s().mode == Mode::Settling; }, 3000));
    EXPECT_EQ(s().Filename, s().station_file("notfound.alm"));
    EXPECT_TRUE(f->logged(std::string("Port 3 Request for file ") + f->paths.display(c.filename)));
  }
}

TEST_F(ControllerScenario, FagorListingsNumberTheirLines) {
  make("0 FAGOR");
  f->write_file("NC/A1.NC", "x");
  mill().send_command("P");
  f->advance_ms(1500);
  ASSERT_TRUE(scanning_again());
  EXPECT_EQ(f->read_file("NC/CONTENTS.DNC"), "N1 (SHOPLINK DIRECTORY - NC)\r\nN2 (A1.NC)\r\n");
}

}  // namespace
}  // namespace shoplink::testing

namespace shoplink::testing {
namespace {

// The shipped example scenarios of these controls, run against the station they describe.
struct Example {
  const char* scenario;
  int port;
  const char* code_line;
  const char* fifth;
  std::vector<std::pair<std::string, std::string>> stored;
};

TEST(ControllerExamples, PassAgainstTheStation) {
  const std::filesystem::path dir =
      std::filesystem::path(__FILE__).parent_path() / ".." / ".." / "sim" / "examples";
  const Example cases[] = {
      {"lynx.scn", 1, "0 LYNX", ",+.NC", {}},
      {"burny.scn", 2, "0", ",+.NC", {{"PART2.NC", "O72 (FLANGE)\r\nG0X10.Y10.\r\nM30\r\n"}}},
      {"ab.scn", 3, "0 AB", ",+.NC", {}},
      {"emco.scn",
       4,
       "0 EMCO",
       "O,+.NC",
       {{"55.NC", "%MPF1\r\nO55 (BRACKET)\r\nG1X1.\r\nM30\r\n"}}},
      {"okuma.scn",
       5,
       "0 OKUMA",
       "$",
       {{"O1234.MIN", "$O1234.MIN%\r\nO55 (BRACKET)\r\nG1X1.\r\nM30\r\n"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.scenario);
    std::vector<std::string> blocks(8, "9600 (MILL)\n0\n\n\n");
    blocks[static_cast<std::size_t>(c.port - 1)] =
        std::string("9600 (MILL)\n") + c.code_line + "\n\n\n" + c.fifth;
    StationFixture f(make_dncdata("COM1:9600", "", "SYSTEM.LOG", blocks));
    for (const char* file : {"O55.NC", "PART1.NC", "AB1.NC"}) {
      std::ifstream in(dir / file, std::ios::binary);
      f.write_file(file, std::string(std::istreambuf_iterator<char>(in), {}));
    }
    const sim::Scenario sc = sim::Scenario::load((dir / c.scenario).string());
    for (int k = 1; k <= 8; ++k) f.shop.machine(k).configure(sc.options().machines[k]);
    sc.apply(f.shop);
    f.start();
    f.loop.advance(f.shop.start() + sc.end_time() - f.loop.now());
    for (const auto& r : sc.check(f.shop)) EXPECT_TRUE(r.passed) << r.what << ": " << r.detail;
    for (const auto& [file, content] : c.stored) EXPECT_EQ(f.read_file(file), content) << file;
  }
}

}  // namespace
}  // namespace shoplink::testing
