#pragma once
// View > History...: a program's revisions from the journal, the differences of the one
// chosen against the current file (or the revision before it), and Restore, which asks first.
#include <QDialog>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QTableWidget;

namespace shoplink {

class Journal;
class QtWindow;
class Station;
struct Revision;

class HistoryDialog final : public QDialog {
 public:
  HistoryDialog(Station& s, Journal& journal, QWidget* parent = nullptr);

  // The question before a restore; true restores. A message box unless a test answers it.
  std::function<bool(const QString& question)> confirm;

  // Reads the programs with a history again and shows `program` (or the first).
  void reload(const std::filesystem::path& program = {});

  QComboBox* program_box() const { return programs_; }
  QTableWidget* revision_table() const { return table_; }
  QPlainTextEdit* diff_area() const { return diff_; }
  QPushButton* restore_button() const { return restore_; }
  QRadioButton* against_previous() const { return previous_; }
  QLabel* message() const { return message_; }

 private:
  void show_revisions();
  void show_diff();
  void restore();
  void choose_file();
  std::filesystem::path program() const;
  int chosen_revision() const;

  Station& s_;
  Journal& journal_;
  std::vector<int> numbers_;  // the table's revision numbers, row by row
  QComboBox* programs_;
  QTableWidget* table_;
  QPlainTextEdit* diff_;
  QRadioButton *current_, *previous_;
  QPushButton *restore_, *other_;
  QLabel* message_;
};

// Gives the window's View > History... item its dialog.
void connect_history(QtWindow& window, Station& s, Journal& journal);

}  // namespace shoplink
