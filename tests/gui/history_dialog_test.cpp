// View > History...: the window's dialog lists a program's revisions from the journal, shows
// the chosen one's differences, and restores it only when the question is answered yes.
#include "gui/history_dialog.hpp"

#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <filesystem>

#include "gui/qt_window.hpp"
#include "journal/journal.hpp"
#include "support/station_fixture.hpp"

namespace shoplink {
namespace {

namespace fs = std::filesystem;

struct HistoryWindow : ::testing::Test {
  testing::StationFixture f;
  Journal journal{f.s(), {}};
  fs::path program = f.dir.path() / "O1.NC";

  // Replaces the program as an upload does, through the station's reports.
  void replace(const std::string& text) {
    const fs::path incoming = f.dir.path() / "~O1.NC.upload";
    f.write_file("~O1.NC.upload", text);
    ProgramChange c;
    c.port = 2;
    c.machine = "MILL2";
    c.program = program;
    c.incoming = incoming;
    c.previous = program;
    f.s().events.program_replacing(c);
    fs::rename(incoming, program);
    f.s().events.program_replaced(c, true);
  }
  void SetUp() override {
    f.write_file("O1.NC", "O1\r\nG0 X1\r\nM30\r\n");
    replace("O1\r\nG0 X2\r\nM30\r\n");
    replace("O1\r\nG0 X3\r\nM30\r\n");
  }
  QString cell(HistoryDialog& d, int row, int col) {
    return d.revision_table()->item(row, col)->text();
  }
};

TEST_F(HistoryWindow, ListsTheRevisionsNewestFirstWithTheDifferencesOfTheChosenOne) {
  HistoryDialog d(f.s(), journal);
  d.reload();
  EXPECT_EQ(d.program_box()->currentText().toStdString(), program.string());
  ASSERT_EQ(d.revision_table()->rowCount(), 3);
  EXPECT_EQ(cell(d, 0, 0), "3");
  EXPECT_EQ(cell(d, 0, 3), "MILL2");
  EXPECT_EQ(cell(d, 2, 5), "found");
  // The newest is the current file.
  EXPECT_EQ(d.diff_area()->toPlainText(), "No differences.");
  d.revision_table()->selectRow(2);
  EXPECT_NE(d.diff_area()->toPlainText().indexOf("-G0 X1\n+G0 X3"), -1)
      << d.diff_area()->toPlainText().toStdString();
  d.against_previous()->setChecked(true);
  d.revision_table()->selectRow(0);
  EXPECT_NE(d.diff_area()->toPlainText().indexOf("-G0 X2\n+G0 X3"), -1);
}

TEST_F(HistoryWindow, RestoreAsksFirstAndOnYesPutsTheRevisionBack) {
  HistoryDialog d(f.s(), journal);
  d.reload(program);
  d.revision_table()->selectRow(2);
  QString asked;
  d.confirm = [&](const QString& q) {
    asked = q;
    return false;
  };
  d.restore_button()->click();
  EXPECT_TRUE(
      asked.startsWith("Restore revision 1 of " + QString::fromStdString(program.string())));
  EXPECT_EQ(f.read_file("O1.NC"), "O1\r\nG0 X3\r\nM30\r\n");
  EXPECT_EQ(d.revision_table()->rowCount(), 3);

  d.confirm = [](const QString&) { return true; };
  d.restore_button()->click();
  EXPECT_EQ(f.read_file("O1.NC"), "O1\r\nG0 X1\r\nM30\r\n");
  ASSERT_EQ(d.revision_table()->rowCount(), 4);
  EXPECT_EQ(cell(d, 0, 5), "restore");
  EXPECT_NE(d.message()->text().indexOf("restored from revision 1 (now revision 4)"), -1);
}

TEST(HistoryMenu, ViewHistoryOpensTheDialog) {
  testing::StationFixture f;
  Journal journal(f.s(), {});
  QtWindow w;
  EXPECT_EQ(w.history_action()->text(), "&History...");
  connect_history(w, f.s(), journal);
  w.history_action()->trigger();
  auto* dialog = w.findChild<HistoryDialog*>();
  ASSERT_NE(dialog, nullptr);
  EXPECT_TRUE(dialog->isVisible());
}

}  // namespace
}  // namespace shoplink
