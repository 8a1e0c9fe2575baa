// The desktop window on the offscreen platform: the station's operations reach the widgets,
// and the widgets' keys, clicks and menus reach the station.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>

#include "gui/qt_dialogs.hpp"
#include "gui/qt_window.hpp"
#include "gui/window_commands.hpp"
#include "station/operator_commands.hpp"
#include "station/startup.hpp"
#include "support/station_fixture.hpp"
#include "transmit/manual_send.hpp"

namespace shoplink {
namespace {

void key(QWidget* w, int k, Qt::KeyboardModifiers mods = Qt::NoModifier, const QString& text = {}) {
  QKeyEvent e(QEvent::KeyPress, k, mods, text);
  QApplication::sendEvent(w, &e);
}

TEST(QtWindowTest, MenusCarryTheirCaptionsAndTheConfigureItemsStayUnavailable) {
  QtWindow w;
  EXPECT_EQ(w.action(Menu::mode_scan)->text(), "S&canning");
  EXPECT_EQ(w.action(Menu::mode_exit)->text(), "E&xit");
  EXPECT_EQ(w.action(Menu::View_Log)->text(), "&Display System Log");
  EXPECT_TRUE(w.action(Menu::view_show)->isCheckable());
  w.set_menu_enabled(Menu::mode_send, false);
  EXPECT_FALSE(w.action(Menu::mode_send)->isEnabled());
  w.set_menu_enabled(Menu::mode_send, true);
  EXPECT_TRUE(w.action(Menu::mode_send)->isEnabled());
}

TEST(QtWindowTest, KeysBecomeTheStationsCharacterCodes) {
  struct Case {
    int key;
    Qt::KeyboardModifiers mods;
    QString text;
    int code;
  } cases[] = {{Qt::Key_Return, Qt::NoModifier, "\r", 13},
               {Qt::Key_Escape, Qt::NoModifier, "\x1b", 27},
               {Qt::Key_Z, Qt::ControlModifier, "", 26},
               {Qt::Key_A, Qt::NoModifier, "a", 'a'},
               {Qt::Key_Shift, Qt::ShiftModifier, "", -1}};
  for (const auto& c : cases) {
    QKeyEvent e(QEvent::KeyPress, c.key, c.mods, c.text);
    EXPECT_EQ(station_key_code(e), c.code) << c.key;
  }
}

TEST(QtWindowTest, FiltersTakeQtsFormAndMatchWithoutRegardToCase) {
  const QStringList f = qt_name_filters(transfer_filter(".nc"));
  ASSERT_EQ(f.size(), 4);
  // The caption as given, then the patterns Qt matches with (the dialog hides them).
  EXPECT_EQ(f[0], "All Files (*.*) (*)");
  EXPECT_EQ(f[1], "Text Files (*.txt) (*.txt *.TXT)");
  EXPECT_EQ(f[2], "SHOPLINK Files (PROG*.*) (PROG* prog*)");
  EXPECT_EQ(f[3], "(.NC) Files (*.NC *.nc)");
}

// The whole station on virtual time behind the real window.
struct WindowStation : ::testing::Test {
  testing::StationFixture f;
  QtWindow w;
  void SetUp() override {
    f.start();
    connect_window(w, f.s());
    select_port(f.s(), 1);  // the operator picks port 1 first
    f.advance_ms(300);
  }
};

TEST_F(WindowStation, TerminalKeysGoToTheMachineAndShowInTheArea) {
  mode_terminal_Click(f.s());
  // The model is the recorder's; the widgets are driven as the station drives its window.
  w.set_text(Field::Terminal, "");
  key(w.terminal_area(), Qt::Key_Z, Qt::ControlModifier);
  key(w.terminal_area(), Qt::Key_Escape, Qt::NoModifier, "\x1b");
  key(w.terminal_area(), 30, Qt::NoModifier, QString(QChar(30)));
  EXPECT_EQ(f.window.text(Field::Terminal), "^Z<esc><030>");
  f.advance_ms(500);
  EXPECT_NE(f.shop.machine(1).received_text().find("\x1A\x1B\x1E"), std::string::npos);
}

// A transfer sets the terminal text once a line: the area is redrawn with the latest text
// after a short while, not once per call, and appends when only text was added.
TEST(QtWindowTest, TextAreasShowTheLatestTextOnceTheCallsPause) {
  QtWindow w;
  std::string text;
  for (int i = 0; i < 200; ++i) {
    text += "N" + std::to_string(i) + " G01 X1.\r\n";
    w.set_text(Field::Terminal, text);
  }
  EXPECT_EQ(w.terminal_area()->toPlainText(), "");
  const auto drain = [] {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 200) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  };
  drain();
  EXPECT_TRUE(w.terminal_area()->toPlainText().endsWith("N199 G01 X1.\n"));
  EXPECT_TRUE(w.terminal_area()->toPlainText().startsWith("N0 G01 X1.\n"));
  w.set_text(Field::Input, "<Xoff>");
  w.set_text(Field::Terminal, "cleared");
  drain();
  EXPECT_EQ(w.terminal_area()->toPlainText(), "cleared");
  EXPECT_EQ(w.input_area()->toPlainText(), "<Xoff>");
}

TEST_F(WindowStation, TheSelectorArrowsStepThePortWithWrap) {
  mode_terminal_Click(f.s());
  f.s().port = 1;
  w.selector()->triggerAction(QAbstractSlider::SliderSingleStepAdd);  // down arrow
  EXPECT_EQ(f.s().port, 8);
  w.selector()->triggerAction(QAbstractSlider::SliderSingleStepSub);  // up arrow
  EXPECT_EQ(f.s().port, 1);
  EXPECT_EQ(w.selector()->value(), 1);  // ready for the next step either way
}

TEST_F(WindowStation, TheStopButtonStopsAManualSend) {
  std::string big;
  for (int i = 0; i < 3000; ++i) big += "G1 X" + std::to_string(i) + "\r\n";
  f.write_file("BIG.NC", big);
  f.dialogs.file_answers.push_back(f.paths.host_path("BIG.NC").string());
  w.action(Menu::mode_send)->trigger();
  f.loop.post_after(millis(1500), [&] { w.stop_button()->click(); });
  w.send_now_button()->click();
  EXPECT_TRUE(f.logged("STOP  button pressed - transmission aborted"));
}

// The close box in the middle of a transfer ends it as Stop does: logged as aborted, never
// as sent, and the stop is the last entry.
TEST_F(WindowStation, TheCloseBoxMidTransferEndsItAsStopDoes) {
  std::string big;
  for (int i = 0; i < 3000; ++i) big += "G1 X" + std::to_string(i) + "\r\n";
  f.write_file("BIG.NC", big);
  f.dialogs.file_answers.push_back(f.paths.host_path("BIG.NC").string());
  w.action(Menu::mode_send)->trigger();
  f.loop.post_after(millis(1500), [&] { w.close(); });
  w.send_now_button()->click();
  ASSERT_TRUE(f.loop.quit_requested());
  shutdown(f.s());
  const auto log = f.log_messages();
  EXPECT_EQ(
      std::count(log.begin(), log.end(),
                 "SHOPLINK stopping - transmission of " + f.s().station_dir() + "/BIG.NC aborted"),
      1);
  for (const auto& l : log) EXPECT_EQ(l.find("transmitted"), std::string::npos) << l;
  EXPECT_EQ(log.back(), "SHOPLINK stopped (Mode menu / Exit)");
}

TEST(QtWindowTest, TheLogViewerReloadsAfterATrimAndReportsItsCloseBox) {
  QtWindow w;
  bool closed = false;
  WindowCommands c;
  c.log_viewer_closed = [&] { closed = true; };
  w.set_commands(c);
  w.show_log_viewer(true);
  w.log_viewer_load("one\r\ntwo\r\n");
  w.log_viewer_append("three\r\n");
  auto* text = w.log_viewer()->findChild<QPlainTextEdit*>("Activity_txt");
  EXPECT_EQ(text->toPlainText(), "one\ntwo\nthree\n");
  w.log_viewer_load("two\r\nthree\r\n");  // after a trim
  EXPECT_EQ(text->toPlainText(), "two\nthree\n");
  EXPECT_EQ(text->textCursor().position(), text->toPlainText().size());
  w.show_log_viewer(false);
  EXPECT_FALSE(closed);  // closed by the menu: no report
  w.show_log_viewer(true);
  w.log_viewer()->close();
  EXPECT_TRUE(closed);
}

TEST(QtWindowTest, TheScanFailureWindowShowsTheHelpAndItsButtonsAct) {
  QtWindow w;
  bool terminal = false;
  WindowCommands c;
  c.scan_failure_terminal = [&] { terminal = true; };
  w.set_commands(c);
  w.show_scan_failure("\r\n      Your SHOPLINK system did not scan properly. Some\r\n");
  ASSERT_NE(w.scan_failure_window(), nullptr);
  EXPECT_EQ(w.scan_failure_window()->windowTitle(), "SHOPLINK error message");
  auto* b = w.scan_failure_window()->findChild<QPushButton*>("Terminal_button");
  ASSERT_NE(b, nullptr);
  b->click();
  EXPECT_TRUE(terminal);
  EXPECT_FALSE(w.scan_failure_window()->isVisible());
}

}  // namespace
}  // namespace shoplink
