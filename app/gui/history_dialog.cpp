#include "gui/history_dialog.hpp"

#include <QComboBox>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "core/station.hpp"
#include "gui/qt_window.hpp"
#include "journal/journal.hpp"
#include "journal/program_history.hpp"
#include "journal/text_diff.hpp"
#include "station/program_restore.hpp"

namespace fs = std::filesystem;

namespace shoplink {

namespace {

QString latin1(const std::string& s) {
  return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}

std::string label(const Revision& r) {
  return "revision " + std::to_string(r.number) + " (" + r.time + ", " + r.origin + ")";
}

}  // namespace

HistoryDialog::HistoryDialog(Station& s, Journal& journal, QWidget* parent)
    : QDialog(parent), s_(s), journal_(journal) {
  setWindowTitle("SHOPLINK program history");
  programs_ = new QComboBox;
  programs_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  programs_->setMinimumContentsLength(40);
  other_ = new QPushButton("Other &file...");
  table_ = new QTableWidget(0, 6);
  table_->setHorizontalHeaderLabels({"Rev", "Time", "Port", "Machine", "Size", "How"});
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->verticalHeader()->hide();
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  current_ = new QRadioButton("against the &current file");
  previous_ = new QRadioButton("against the &previous revision");
  current_->setChecked(true);
  diff_ = new QPlainTextEdit;
  diff_->setReadOnly(true);
  diff_->setLineWrapMode(QPlainTextEdit::NoWrap);
  diff_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  restore_ = new QPushButton("&Restore...");
  message_ = new QLabel;
  message_->setWordWrap(true);
  auto* close = new QPushButton("Close");

  auto* top = new QHBoxLayout;
  top->addWidget(new QLabel("Program:"));
  top->addWidget(programs_, 1);
  top->addWidget(other_);
  auto* compare = new QHBoxLayout;
  compare->addWidget(new QLabel("Differences of the chosen revision"));
  compare->addWidget(current_);
  compare->addWidget(previous_);
  compare->addStretch(1);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(message_, 1);
  buttons->addWidget(restore_);
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(table_, 1);
  layout->addLayout(compare);
  layout->addWidget(diff_, 2);
  layout->addLayout(buttons);
  resize(900, 640);

  confirm = [this](const QString& question) {
    return QMessageBox::question(this, "SHOPLINK warning", question,
                                 QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
  };
  connect(programs_, &QComboBox::currentIndexChanged, this, [this] { show_revisions(); });
  connect(table_, &QTableWidget::itemSelectionChanged, this, [this] { show_diff(); });
  connect(previous_, &QRadioButton::toggled, this, [this] { show_diff(); });
  connect(restore_, &QPushButton::clicked, this, [this] { restore(); });
  connect(other_, &QPushButton::clicked, this, [this] { choose_file(); });
  connect(close, &QPushButton::clicked, this, &QDialog::hide);
}

fs::path HistoryDialog::program() const {
  return fs::path(programs_->currentData().toString().toStdString());
}

int HistoryDialog::chosen_revision() const {
  const int row = table_->currentRow();
  return row >= 0 && row < static_cast<int>(numbers_.size())
             ? numbers_[static_cast<std::size_t>(row)]
             : 0;
}

void HistoryDialog::reload(const fs::path& program) {
  const fs::path keep = program.empty() ? this->program() : program;
  ProgramHistory* history = journal_.history();
  std::vector<std::string> names;
  if (history) {
    try {
      names = history->programs();
    } catch (const std::exception& e) {
      message_->setText(QString("The journal cannot be read: ") + e.what());
    }
  } else {
    message_->setText(latin1("The journal cannot be used: " + journal_.failure()));
  }
  if (!keep.empty() && std::find(names.begin(), names.end(), keep.string()) == names.end())
    names.insert(names.begin(), keep.string());
  {
    const QSignalBlocker block(programs_);
    programs_->clear();
    for (const auto& n : names) programs_->addItem(latin1(n), latin1(n));
    const int at = programs_->findData(latin1(keep.string()));
    programs_->setCurrentIndex(at >= 0 ? at : 0);
  }
  show_revisions();
}

void HistoryDialog::show_revisions() {
  const QSignalBlocker block(table_);
  table_->setRowCount(0);
  numbers_.clear();
  diff_->clear();
  ProgramHistory* history = journal_.history();
  restore_->setEnabled(false);
  if (!history || program().empty()) return;
  std::vector<Revision> revs;
  try {
    revs = history->revisions(program().string());
  } catch (const std::exception& e) {
    message_->setText(QString("The journal cannot be read: ") + e.what());
    return;
  }
  table_->setRowCount(static_cast<int>(revs.size()));
  for (int row = 0; row < static_cast<int>(revs.size()); ++row) {
    const Revision& r = revs[static_cast<std::size_t>(row)];
    numbers_.push_back(r.number);
    const QStringList cells = {QString::number(r.number),
                               latin1(r.time),
                               r.port > 0 ? QString::number(r.port) : "-",
                               latin1(r.machine),
                               QString::number(r.size),
                               latin1(r.note.empty() ? r.origin : r.origin + " (" + r.note + ")")};
    for (int col = 0; col < cells.size(); ++col)
      table_->setItem(row, col, new QTableWidgetItem(cells[col]));
  }
  table_->resizeColumnsToContents();
  if (revs.empty()) {
    message_->setText("No revisions kept yet: the station keeps one when it replaces the program.");
    return;
  }
  message_->clear();
  table_->selectRow(0);
  show_diff();
}

void HistoryDialog::show_diff() {
  diff_->clear();
  const int number = chosen_revision();
  restore_->setEnabled(number > 0);
  ProgramHistory* history = journal_.history();
  if (!history || number == 0) return;
  try {
    const auto chosen = history->revision(program().string(), number);
    if (!chosen) return;
    const std::string text = history->content(*chosen);
    std::string diff;
    if (previous_->isChecked()) {
      const int row = table_->currentRow();
      if (row + 1 >= static_cast<int>(numbers_.size())) {
        diff_->setPlainText("No revision before this one.");
        return;
      }
      const auto before =
          history->revision(program().string(), numbers_[static_cast<std::size_t>(row + 1)]);
      if (!before) return;
      diff = unified_diff(history->content(*before), text, label(*before), label(*chosen));
    } else {
      const auto now = read_program_file(program());
      if (!now) {
        diff_->setPlainText("The program file cannot be read.");
        return;
      }
      diff = unified_diff(text, *now, label(*chosen), "the current file");
    }
    diff_->setPlainText(diff.empty() ? QString("No differences.") : latin1(diff));
  } catch (const std::exception& e) {
    diff_->setPlainText(QString("The journal cannot be read: ") + e.what());
  }
}

void HistoryDialog::restore() {
  const int number = chosen_revision();
  if (number == 0) return;
  const fs::path p = program();
  const QString question =
      latin1("Restore revision " + std::to_string(number) + " of " + p.string() +
             "?\nThe program as it is now is kept in the history first.");
  if (!confirm || !confirm(question)) return;
  const RestoreOutcome r = restore_revision(s_, journal_, p, number);
  reload(p);
  message_->setText(latin1(r.message));
}

void HistoryDialog::choose_file() {
  const QString chosen = QFileDialog::getOpenFileName(this, "Program", latin1(s_.station_dir()));
  if (chosen.isEmpty()) return;
  reload(fs::path(chosen.toStdString()).lexically_normal());
}

void connect_history(QtWindow& window, Station& s, Journal& journal) {
  auto* dialog = new HistoryDialog(s, journal, &window);
  window.set_history_command([dialog] {
    dialog->reload();
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
  });
}

}  // namespace shoplink
