// The window's commands on virtual time against the simulated shop: terminal mode, the port
// selector, manual send and stop, manual receive and its abort, the menus' availability.
#include "station/operator_commands.hpp"

#include <gtest/gtest.h>

#include "core/scan_selection.hpp"
#include "receive/manual_receive.hpp"
#include "station/startup.hpp"
#include "support/station_fixture.hpp"
#include "transmit/manual_send.hpp"

namespace shoplink {
namespace {

using testing::StationFixture;

const Menu kTransferMenus[] = {Menu::mode_scan,     Menu::mode_send, Menu::mode_receive,
                               Menu::mode_terminal, Menu::mode_exit, Menu::conf_password};
const Menu kNeverAvailable[] = {Menu::conf_host, Menu::conf_output, Menu::conf_terminal,
                                Menu::conf_password_change};

struct Commands : ::testing::Test {
  StationFixture f;
  Station& s = f.s();
  void SetUp() override { f.start(); }
  bool menus(bool enabled) {
    for (Menu m : kTransferMenus)
      if (f.window.menu_enabled(m) != enabled) return false;
    return true;
  }
  std::string machine_got(int port) { return f.shop.machine(port).received_text(); }
  // The operator selects port n from the keyboard first, as at the station.
  void on_port(int n) {
    select_port(s, n);
    f.advance_ms(300);
  }
};

struct TerminalKey {
  int key;
  std::string shown;
  std::string sent;  // as the ISO machine on port 1 decodes it
};

class TerminalKeys : public Commands, public ::testing::WithParamInterface<TerminalKey> {};

TEST_P(TerminalKeys, SendThroughTheSendTableAndShowAsTheWindowDoes) {
  on_port(2);
  mode_terminal_Click(s);
  EXPECT_EQ(s.mode, Mode::Terminal);
  EXPECT_EQ(f.window.status(), " Terminal mode ");
  EXPECT_FALSE(s.Timer2.enabled());
  term_txt_KeyPress(s, GetParam().key);
  f.advance_ms(500);
  EXPECT_EQ(f.window.text(Field::Terminal), GetParam().shown);
  EXPECT_NE(machine_got(2).find(GetParam().sent), std::string::npos) << machine_got(2);
}

INSTANTIATE_TEST_SUITE_P(Terminal, TerminalKeys,
                         ::testing::Values(TerminalKey{13, "\r\n", "\r\n"},
                                           TerminalKey{26, "^Z", "\x1A"},
                                           TerminalKey{27, "<esc>", "\x1B"},
                                           TerminalKey{30, "<030>", "\x1E"},
                                           TerminalKey{'G', "G", "G"}));

TEST_F(Commands, ClickingTheTerminalEmptiesBothDisplays) {
  mode_terminal_Click(s);
  term_txt_KeyPress(s, 'X');
  s.inputtext = "abc";
  term_txt_Click(s);
  EXPECT_EQ(f.window.text(Field::Terminal), "");
  EXPECT_EQ(s.inputtext, "");
}

TEST_F(Commands, TheSelectorWrapsBothWaysAndSelectsThePort) {
  mode_terminal_Click(s);
  s.port = 1;
  VScroll1_Change(s, +1);  // value up: the port goes down, from 1 to the last
  EXPECT_EQ(s.port, NumPorts);
  EXPECT_EQ(f.window.text(Field::PortDisplay), "8");
  EXPECT_EQ(f.window.text(Field::MachineEntry), "MILL8");
  f.advance_ms(200);
  EXPECT_EQ(f.shop.controller().selected_port(), 8);
  VScroll1_Change(s, -1);
  EXPECT_EQ(s.port, 1);
  f.advance_ms(200);
  EXPECT_EQ(f.shop.controller().selected_port(), 1);
}

TEST_F(Commands, WithTheLineClosedTheSelectorSendsNothing) {
  mode_terminal_Click(s);
  s.line.close();
  s.port = 3;
  VScroll1_Change(s, -1);
  EXPECT_EQ(s.port, 4);
  f.advance_ms(200);
  EXPECT_NE(f.shop.controller().selected_port(), 4);
}

TEST_F(Commands, ManualSendWaitsForXonAndLocksTheMenusUntilTheEnd) {
  std::string program = "%\r\n";
  for (int i = 0; i < 300; ++i) program += "G0 X" + std::to_string(i) + "\r\n";
  f.write_file("O100.NC", program);
  f.dialogs.file_answers.push_back(f.paths.host_path("O100.NC").string());
  const int p = 2;
  on_port(p);
  mode_send_Click(s);
  ASSERT_EQ(f.dialogs.requests.size(), 1u);
  EXPECT_EQ(f.dialogs.requests[0].filter,
            "All Files (*.*)|*.*|Text Files (*.txt)|*.txt|SHOPLINK Files (PROG*.*)|PROG*.*");
  EXPECT_EQ(s.mode, Mode::Sending);
  EXPECT_TRUE(f.window.visible(Element::SendNowButton));
  EXPECT_EQ(f.window.status(), " Sending file... ");
  f.advance_ms(5000);  // no Xon time-out runs while the operator's file waits
  EXPECT_EQ(s.mode, Mode::Sending);
  bool locked_during = false;
  f.loop.post_after(millis(1500), [&] { locked_during = s.sending == 1 && menus(false); });
  f.shop.machine(p).send_xon();
  ASSERT_TRUE(f.run_until([&] { return s.mode == Mode::Scanning; }, 60000));
  EXPECT_TRUE(locked_during);
  EXPECT_TRUE(menus(true));
  for (Menu m : kNeverAvailable) EXPECT_FALSE(f.window.menu_enabled(m));
  EXPECT_NE(machine_got(p).find("G0 X299"), std::string::npos);
}

TEST_F(Commands, SendNowAndStopAbortTheTransferAndWriteTheTrace) {
  std::string big = "%\r\n";
  for (int i = 0; i < 3000; ++i) big += "G1 X" + std::to_string(i) + "\r\n";
  f.write_file("BIG.NC", big);
  f.dialogs.file_answers.push_back(f.paths.host_path("BIG.NC").string());
  on_port(1);
  mode_send_Click(s);
  bool stopped = false;
  f.loop.post_after(millis(2000), [&] {
    EXPECT_TRUE(f.window.visible(Element::StopButton));
    key_press(s, 27);  // Esc presses Stop
    stopped = true;
  });
  key_press(s, 13);  // Enter presses Send now: runs the transmission until the stop
  EXPECT_TRUE(stopped);
  EXPECT_TRUE(f.logged("SEND NOW  button pressed"));
  EXPECT_TRUE(f.logged("STOP  button pressed - transmission aborted"));
  EXPECT_EQ(f.window.status(), "Send aborted");
  EXPECT_EQ(machine_got(1).find("G1 X2999"), std::string::npos);
  const std::string trace = f.read_file("trace");
  EXPECT_EQ(std::count(trace.begin(), trace.end(), '\n'), 13) << trace;
  ASSERT_TRUE(f.run_until([&] { return s.mode == Mode::Scanning; }, 10000));
}

TEST_F(Commands, SendingAMissingOrEmptyFileSaysSoAndScans) {
  f.write_file("EMPTY.NC", "");
  f.dialogs.file_answers.push_back(f.paths.host_path("NONE.NC").string());
  f.dialogs.file_answers.push_back(f.paths.host_path("EMPTY.NC").string());
  f.dialogs.file_answers.push_back(std::nullopt);
  mode_send_Click(s);
  mode_send_Click(s);
  mode_send_Click(s);
  ASSERT_EQ(f.dialogs.boxes.size(), 2u);
  EXPECT_EQ(f.dialogs.boxes[0].text, "File not found");
  EXPECT_EQ(f.dialogs.boxes[1].text, "File size = zero");
  EXPECT_EQ(f.dialogs.boxes[1].title, "SHOPLINK message");
  EXPECT_EQ(s.mode, Mode::Scanning);
  EXPECT_FALSE(f.window.visible(Element::SendNowButton));
}

TEST_F(Commands, ManualReceiveStoresExactlyWhatArrives) {
  const std::string path = f.paths.host_path("GOT.NC").string();
  f.dialogs.file_answers.push_back(path);
  on_port(3);
  mode_receive_Click(s);
  EXPECT_EQ(s.mode, Mode::Receiving);
  EXPECT_EQ(f.window.status(), " Receiving file... ");
  f.shop.machine(3).upload("%\nO200\nG1 X5\nM30\n%\n");
  ASSERT_TRUE(f.run_until([&] { return s.mode == Mode::Scanning; }, 60000));
  EXPECT_NE(f.read_file("GOT.NC").find("G1 X5\r\n"), std::string::npos) << f.read_file("GOT.NC");
}

TEST_F(Commands, EscAbortsAReceiveStillWaitingForData) {
  f.dialogs.file_answers.push_back(f.paths.host_path("NEW.NC").string());
  mode_receive_Click(s);
  key_press(s, 27);
  EXPECT_EQ(f.window.status(), "RX aborted...");
  EXPECT_EQ(f.platform.beeps, 1);
  EXPECT_TRUE(menus(true));
  ASSERT_TRUE(f.run_until([&] { return s.mode == Mode::Scanning; }, 3000));
}

TEST_F(Commands, AnExistingFileIsKeptWhenTheOperatorSaysNo) {
  f.write_file("OLD.NC", "old");
  f.dialogs.file_answers.push_back(f.paths.host_path("OLD.NC").string());
  f.dialogs.yes_no_answers.push_back(false);
  mode_receive_Click(s);
  ASSERT_EQ(f.dialogs.boxes.size(), 1u);
  EXPECT_EQ(f.dialogs.boxes[0].text, "Overwrite existing file?");
  EXPECT_EQ(f.dialogs.boxes[0].title, "SHOPLINK warning");
  EXPECT_EQ(s.mode, Mode::Scanning);
  EXPECT_EQ(f.read_file("OLD.NC"), "old");
}

TEST_F(Commands, ScrollIoDataTogglesTheFlagAndEmptiesTheDisplays) {
  s.inputtext = "x";
  view_show_Click(s);
  EXPECT_EQ(s.showdata, -2);
  EXPECT_EQ(s.inputtext, "");
  view_show_Click(s);
  EXPECT_EQ(s.showdata, 1);
}

TEST_F(Commands, EnterPasswordHidesTheDisplaysAndStopsScanning) {
  conf_password_Click(s);
  EXPECT_EQ(f.window.status(), "Enter Password:");
  EXPECT_FALSE(s.Timer2.enabled());
  EXPECT_FALSE(f.window.visible(Element::TerminalDisplay));
}

TEST_F(Commands, TheEditorGetsItsKindAndForFilesTheProgramDirectory) {
  edit_Click(s, EditCommand::txt_files);
  edit_Click(s, EditCommand::system_log);
  ASSERT_EQ(f.platform.started.size(), 2u);
  EXPECT_EQ(f.platform.started[0].args, (std::vector<std::string>{"fromdnc2"}));
  EXPECT_EQ(f.platform.started[1].args,
            (std::vector<std::string>{"fromdnc1", "[" + s.station_dir() + "]", "SYSTEM.LOG"}));
}

TEST_F(Commands, TheLogViewerLoadsTheLogAndItsCheckMarkFollowsTheWindow) {
  View_Log_Click(s);
  EXPECT_TRUE(f.window.menu_checked(Menu::View_Log));
  log_viewer_closed(s);
  EXPECT_FALSE(f.window.menu_checked(Menu::View_Log));
  View_Log_Click(s);
  EXPECT_TRUE(f.window.menu_checked(Menu::View_Log));
  View_Log_Click(s);
  EXPECT_FALSE(f.window.menu_checked(Menu::View_Log));
}

}  // namespace
}  // namespace shoplink
