// The desktop window as the operator meets it: the whole station on virtual time drives the
// real window (as in shoplink-gui), keys reach it through whatever holds the focus, and the
// dialogs are Qt's own.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <functional>
#include <memory>

#include "gui/qt_dialogs.hpp"
#include "gui/qt_window.hpp"
#include "gui/window_commands.hpp"
#include "station/startup.hpp"
#include "station/wired_station.hpp"
#include "support/station_fixture.hpp"
#include "support/temp_dir.hpp"
#include "ui/recorder.hpp"

namespace shoplink {
namespace {

struct LiveWindow {
  testing::TempDir dir;
  VirtualClock clock;
  VirtualLoop loop{clock};
  HostPaths paths{dir.path()};
  sim::Shop shop{loop};
  QtWindow w;
  QtDialogs qt_dialogs{loop, &w};  // Qt's own message boxes, for the tests to show
  RecordingDialogs recorded;       // the station's dialogs, answered by the test
  RecordingPlatform platform;
  std::unique_ptr<WiredStation> s;

  LiveWindow() {
    dir.write("DNCDATA", testing::default_dncdata());
    s = std::make_unique<WiredStation>(
        StationServices{loop, shop.line(), w, recorded, platform, paths});
    connect_window(w, *s);
    w.resize(1000, 700);
    w.show();
    w.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&w));
    startup(*s);
    loop.run_until(
        [&] { return s->mode == Mode::Scanning && s->stopscanning == 0 && !s->Timer9.enabled(); },
        millis(10000));
    settle();
  }
  // Lets Qt lay out and deliver what is pending.
  static void settle() {
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
  }
  // A key as the keyboard delivers it: to the window's focus widget, or the window itself.
  void press(int key, const QString& text = {}) {
    QWidget* target = w.focusWidget() != nullptr ? w.focusWidget() : &w;
    QKeyEvent e(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &e);
  }
  void type(const std::string& keys) {
    for (char c : keys) press(c >= '0' && c <= '9' ? Qt::Key_0 + (c - '0') : c, QString(QChar(c)));
  }
};

// Esc follows the keyboard rules whatever holds the focus in the window: nothing, the menu
// bar (where a menu used from the keyboard leaves it), a button, and after a message box.
TEST(EscKey, WorksWhereverTheFocusIs) {
  struct Focus {
    const char* name;
    std::function<void(LiveWindow&)> take;
  };
  const Focus holders[] = {
      {"nothing",
       [](LiveWindow& t) {
         if (QWidget* f = t.w.focusWidget()) f->clearFocus();
       }},
      {"the menu bar", [](LiveWindow& t) { t.w.menuBar()->setFocus(Qt::MenuBarFocusReason); }},
      {"the Stop button", [](LiveWindow& t) { t.w.stop_button()->setFocus(); }},
      {"a message box closed",
       [](LiveWindow& t) {
         t.loop.post_after(millis(50), [] {
           if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
             box->button(QMessageBox::Ok)->click();
         });
         t.qt_dialogs.message_box("SHOPLINK message", "File not found", Icon::Exclamation);
       }},
  };
  struct State {
    const char* name;
    std::function<void(LiveWindow&)> enter;
    std::function<void(LiveWindow&)> after_esc;
  };
  const State states[] = {
      {"a machine typed while scanning",
       [](LiveWindow& t) {
         t.type("12");
         ASSERT_EQ(t.s->MACHSELECT, "12");
       },
       [](LiveWindow& t) {
         EXPECT_EQ(t.s->MACHSELECT, "");
         EXPECT_EQ(t.w.machine_field()->text(), "");
       }},
      // The menu bar keeps the focus a menu used from the keyboard gave it.
      {"a manual receive chosen with Alt+M, R",
       [](LiveWindow& t) {
         t.recorded.file_answers.push_back(t.paths.host_path("NEW.NC").string());
         QTest::keyClick(t.w.windowHandle(), Qt::Key_M, Qt::AltModifier);
         LiveWindow::settle();
         QWidget* menu = QApplication::activePopupWidget();
         ASSERT_NE(menu, nullptr) << "Alt+M opened no menu";
         QTest::keyClick(menu, Qt::Key_R);
         LiveWindow::settle();
         ASSERT_EQ(t.s->mode, Mode::Receiving);
       },
       [](LiveWindow& t) { EXPECT_EQ(t.w.status_field()->text(), "RX aborted..."); }},
      {"a manual send waiting for Xon",
       [](LiveWindow& t) {
         t.dir.write("BIG.NC", "G1 X1\r\n");
         t.recorded.file_answers.push_back(t.paths.host_path("BIG.NC").string());
         t.w.action(Menu::mode_send)->trigger();
         ASSERT_TRUE(t.w.send_now_button()->isVisible());
       },
       [](LiveWindow& t) { EXPECT_EQ(t.w.status_field()->text(), "Send aborted"); }},
  };
  for (const auto& state : states) {
    for (const auto& holder : holders) {
      SCOPED_TRACE(std::string(state.name) + ", focus: " + holder.name);
      LiveWindow t;
      state.enter(t);
      holder.take(t);
      t.press(Qt::Key_Escape, "\x1b");
      LiveWindow::settle();
      state.after_esc(t);
    }
  }
}

// The top row keeps its place in every state: the selector does not move sideways as the
// machine field comes and goes, and with the text areas hidden (Enter Password) the row
// stays at the top and the lamp stays a lamp.
TEST(TopRow, KeepsItsPlaceInEveryState) {
  LiveWindow t;
  const auto place = [&] {
    LiveWindow::settle();
    return std::make_pair(t.w.selector()->mapTo(&t.w, QPoint(0, 0)),
                          t.w.status_field()->mapTo(&t.w, QPoint(0, 0)));
  };
  const auto scanning = place();
  const struct {
    const char* name;
    std::function<void()> enter;
  } states[] = {
      {"a machine typed", [&] { t.type("3"); }},
      {"Mode > Terminal", [&] { t.w.action(Menu::mode_terminal)->trigger(); }},
      {"Enter Password", [&] { t.w.action(Menu::conf_password)->trigger(); }},
      {"Mode > Scanning", [&] { t.w.action(Menu::mode_scan)->trigger(); }},
  };
  for (const auto& st : states) {
    SCOPED_TRACE(st.name);
    st.enter();
    EXPECT_EQ(place(), scanning);
    EXPECT_LE(t.w.line_lamp_label()->height(), 40);
  }
}

// The lamp never shows a line that is down as a lit CTS.
TEST(LineLamp, SaysWhenTheLineIsDown) {
  QtWindow w;
  w.set_line_lamp(LineLamp::CtsOn);
  const QString lit = w.line_lamp_label()->styleSheet();
  for (auto [lamp, word] : {std::pair{LineLamp::Dead, "DEAD"},
                            {LineLamp::Reconnecting, "LOST"},
                            {LineLamp::CtsOff, "CTS"}}) {
    w.set_line_lamp(lamp);
    EXPECT_EQ(w.line_lamp_label()->text(), word);
    EXPECT_NE(w.line_lamp_label()->styleSheet(), lit);
  }
}

// Message boxes are wide enough for their whole title ("SHO...age" was cut).
TEST(Readable, MessageBoxesShowTheirWholeTitle) {
  LiveWindow t;
  for (const char* title : {"SHOPLINK message", "SHOPLINK error message", "SHOPLINK warning"}) {
    SCOPED_TRACE(title);
    int width = 0, need = 0;
    t.loop.post_after(millis(50), [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr);
      LiveWindow::settle();
      width = box->width();
      need = box->fontMetrics().horizontalAdvance(box->windowTitle()) + kTitleBarRoom;
      box->button(QMessageBox::Ok)->click();
    });
    t.qt_dialogs.message_box(title, "File not found", Icon::Exclamation);
    EXPECT_GE(width, need);
  }
}

// The log viewer keeps each entry on one line and leaves the keyboard with the main window.
TEST(Readable, TheLogViewerNeitherWrapsNorTakesTheKeyboard) {
  LiveWindow t;
  t.w.action(Menu::View_Log)->trigger();
  LiveWindow::settle();
  auto* text = t.w.log_viewer()->findChild<QPlainTextEdit*>("Activity_txt");
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->lineWrapMode(), QPlainTextEdit::NoWrap);
  EXPECT_TRUE(t.w.log_viewer()->isVisible());
  EXPECT_EQ(QApplication::activeWindow(), &t.w);
  t.type("4");
  EXPECT_EQ(t.s->MACHSELECT, "4");
}

// The file dialogs say what they are for and show the filters' own captions.
TEST(Readable, FileDialogsNameTheirPortAndShowTheFilterCaptions) {
  LiveWindow t;
  QString title;
  QStringList captions;
  t.loop.post_after(millis(50), [&] {
    auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(d, nullptr);
    title = d->windowTitle();
    if (auto* combo = d->findChild<QComboBox*>("fileTypeCombo"))
      for (int i = 0; i < combo->count(); ++i) captions << combo->itemText(i);
    d->reject();
  });
  t.s->port = 1;
  t.qt_dialogs.open_file({t.dir.path().string(), "",
                          "All Files (*.*)|*.*|Text Files (*.txt)|*.txt|(.NC) Files |*.NC", 1,
                          "Send a program to port 1 - MILL1"});
  EXPECT_EQ(title, "Send a program to port 1 - MILL1");
  EXPECT_EQ(captions, QStringList({"All Files (*.*)", "Text Files (*.txt)", "(.NC) Files"}));
}

}  // namespace
}  // namespace shoplink
