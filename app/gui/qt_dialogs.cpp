#include "gui/qt_dialogs.hpp"

#include <QFileDialog>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QHeaderView>
#include <QMessageBox>
#include <QSpacerItem>
#include <QTreeView>

#include "base/event_loop.hpp"

namespace shoplink {

int run_modal(EventLoop& loop, QDialog& d) {
  bool done = false;
  QObject::connect(&d, &QDialog::finished, &d, [&done] { done = true; });
  d.setWindowModality(Qt::ApplicationModal);
  d.open();
  while (!done && !loop.quit_requested()) loop.yield(kForever);
  if (!done) d.reject();  // the station is stopping: the dialog is cancelled
  // The keyboard goes back to the window the dialog was for, so its keys work at once.
  if (QWidget* parent = d.parentWidget(); parent != nullptr && parent->isVisible())
    parent->window()->activateWindow();
  return d.result();
}

void fit_title(QMessageBox& box) {
  // Qt sizes a message box by its text; its title bar (with the window manager's icon and
  // buttons) would cut a longer title to "SHO...age".
  const int need = box.fontMetrics().horizontalAdvance(box.windowTitle()) + kTitleBarRoom;
  if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
    grid->addItem(new QSpacerItem(need, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                  grid->rowCount(), 0, 1, grid->columnCount());
}

QStringList qt_name_filters(const std::string& filter) {
  QStringList out;
  const QStringList parts = QString::fromLatin1(filter.c_str()).split('|');
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    // Qt reads the patterns from the last parenthesis, which follows the caption as given;
    // with the filter details hidden the dialog shows the caption alone ("All Files (*.*)").
    const QString caption = parts[i].trimmed();
    QStringList patterns;
    for (QString p : parts[i + 1].split(';', Qt::SkipEmptyParts)) {
      p = p.trimmed();
      if (p.endsWith("*.*")) p.chop(2);  // "*.*": with or without a dot
      for (const QString& v : {p, p.toUpper(), p.toLower()})
        if (!patterns.contains(v)) patterns << v;
    }
    out << caption + " (" + patterns.join(' ') + ")";
  }
  return out;
}

void fit_columns(QFileDialog& d) {
  d.resize(kFileDialogWidth, kFileDialogHeight);
  auto* view = d.findChild<QTreeView*>("treeView");
  auto* model = d.findChild<QFileSystemModel*>();
  if (view == nullptr || model == nullptr) return;
  // The names as long as they are, the other columns as wide as what they show, each time
  // a directory has been read.
  QObject::connect(model, &QFileSystemModel::directoryLoaded, view, [view] {
    for (int c = 0; c < view->header()->count(); ++c) view->resizeColumnToContents(c);
  });
}

void QtDialogs::message_box(const std::string& title, const std::string& text, Icon icon) {
  QMessageBox::Icon i = QMessageBox::NoIcon;
  switch (icon) {
    case Icon::Exclamation:
    case Icon::Warning:
      i = QMessageBox::Warning;
      break;
    case Icon::Information:
      i = QMessageBox::Information;
      break;
    case Icon::Question:
      i = QMessageBox::Question;
      break;
    case Icon::None:
      break;
  }
  QMessageBox box(i, QString::fromLatin1(title.c_str()), QString::fromLatin1(text.c_str()),
                  QMessageBox::Ok, parent_);
  fit_title(box);
  run_modal(loop_, box);
}

bool QtDialogs::ask_yes_no(const std::string& title, const std::string& text) {
  QMessageBox box(QMessageBox::Warning, QString::fromLatin1(title.c_str()),
                  QString::fromLatin1(text.c_str()), QMessageBox::Yes | QMessageBox::No, parent_);
  box.setDefaultButton(QMessageBox::No);
  fit_title(box);
  run_modal(loop_, box);
  return box.clickedButton() == box.button(QMessageBox::Yes);
}

std::optional<std::string> QtDialogs::file_dialog(const FileDialogRequest& r, bool save) {
  const QString title = r.title.empty() ? (save ? "Save As" : "Open") : r.title.c_str();
  QFileDialog d(parent_, title, QString::fromLatin1(r.dir.c_str()));
  d.setOption(QFileDialog::DontUseNativeDialog);   // a native one would block the station
  d.setOption(QFileDialog::DontConfirmOverwrite);  // the station asks itself
  d.setOption(QFileDialog::HideNameFilterDetails);
  d.setViewMode(QFileDialog::Detail);
  fit_columns(d);
  d.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  d.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  const QStringList filters = qt_name_filters(r.filter);
  d.setNameFilters(filters);
  if (r.filter_index >= 1 && r.filter_index <= filters.size())
    d.selectNameFilter(filters[r.filter_index - 1]);
  if (!r.name.empty()) d.selectFile(QString::fromLatin1(r.name.c_str()));
  if (run_modal(loop_, d) != QDialog::Accepted || d.selectedFiles().isEmpty()) return std::nullopt;
  const QByteArray path = d.selectedFiles().first().toLocal8Bit();
  return std::string(path.constData(), static_cast<std::size_t>(path.size()));
}

std::optional<std::string> QtDialogs::open_file(const FileDialogRequest& r) {
  return file_dialog(r, false);
}

std::optional<std::string> QtDialogs::save_file(const FileDialogRequest& r) {
  return file_dialog(r, true);
}

}  // namespace shoplink
