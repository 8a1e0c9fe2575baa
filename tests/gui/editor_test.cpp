// The station's own editor keeps unsaved edits until the operator says what becomes of them,
// as every desktop editor does; the question runs while the station's loop goes on.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include "base/clock.hpp"
#include "gui/editor_window.hpp"
#include "gui/qt_loop.hpp"
#include "support/temp_dir.hpp"

namespace shoplink {
namespace {

struct Answer {
  const char* name;
  QMessageBox::StandardButton button;  // NoButton: no question may come
  bool edit;                           // the operator typed something before closing
  const char* file_after;
  bool stays_open;
};

void PrintTo(const Answer& a, std::ostream* os) {
  *os << a.name;
}

class EditorClose : public ::testing::TestWithParam<Answer> {};

void type_at_end(EditorWindow* w, const QString& text) {
  w->text_area()->moveCursor(QTextCursor::End);
  w->text_area()->insertPlainText(text);
}

// Clicks `button` in the question once it is up; counts the questions seen.
void answer_when_asked(QMessageBox::StandardButton button, int& asked) {
  QTimer::singleShot(20, [button, &asked] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return answer_when_asked(button, asked);
    ++asked;
    box->button(button)->click();
  });
}

TEST_P(EditorClose, AsksAboutUnsavedEditsAndDoesWhatTheOperatorSays) {
  const Answer& a = GetParam();
  testing::TempDir dir;
  dir.write("DNCDATA", "COM1:9600\r\n");
  RealClock clock;
  QtLoop loop(clock);
  QPointer<EditorWindow> w = new EditorWindow(loop, dir.path().string(), "fromdnc1");
  ASSERT_TRUE(w->open_path((dir.path() / "DNCDATA").string()));
  w->show();
  if (a.edit) type_at_end(w, "' edited\n");
  EXPECT_EQ(w->isWindowModified(), a.edit);
  int asked = 0;
  if (a.button != QMessageBox::NoButton) answer_when_asked(a.button, asked);
  const bool closed = w->close();
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(asked, a.button != QMessageBox::NoButton ? 1 : 0);
  EXPECT_EQ(!closed, a.stays_open);
  EXPECT_EQ(w.isNull(), !a.stays_open);
  EXPECT_EQ(dir.read("DNCDATA"), a.file_after);
  if (w) {
    EXPECT_TRUE(w->text_area()->toPlainText().endsWith("' edited\n"));
    w->text_area()->document()->setModified(false);
    delete w;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, EditorClose,
    ::testing::Values(Answer{"NothingChanged", QMessageBox::NoButton, false, "COM1:9600\r\n",
                             false},
                      Answer{"Save", QMessageBox::Save, true, "COM1:9600\r\n' edited\r\n", false},
                      Answer{"Discard", QMessageBox::Discard, true, "COM1:9600\r\n", false},
                      Answer{"Cancel", QMessageBox::Cancel, true, "COM1:9600\r\n", true}),
    [](const auto& info) { return info.param.name; });

// Leaving the station asks each editor first; keeping one open keeps the station running.
TEST(EditorClose, LeavingTheStationAsksEveryEditorAndCancelKeepsIt) {
  testing::TempDir dir;
  dir.write("A.NC", "A\r\n");
  RealClock clock;
  QtLoop loop(clock);
  QPointer<EditorWindow> w = new EditorWindow(loop, dir.path().string(), "fromdnc1");
  ASSERT_TRUE(w->open_path((dir.path() / "A.NC").string()));
  w->show();
  type_at_end(w, "B\n");
  int asked = 0;
  answer_when_asked(QMessageBox::Cancel, asked);
  EXPECT_FALSE(close_editor_windows());
  EXPECT_EQ(asked, 1);
  answer_when_asked(QMessageBox::Save, asked);
  EXPECT_TRUE(close_editor_windows());
  EXPECT_EQ(asked, 2);
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(w.isNull());
  EXPECT_EQ(dir.read("A.NC"), "A\r\nB\r\n");
}

}  // namespace
}  // namespace shoplink
