#include "gui/editor_window.hpp"

#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <fstream>
#include <iterator>
#include <sstream>

#include "gui/qt_dialogs.hpp"

namespace shoplink {

std::string editor_filter(const std::string& kind) {
  if (kind == "fromdnc2") return "Text Files (*.txt)|*.txt|All Files (*.*)|*.*";
  if (kind == "fromdnc3")
    return "SHOPLINK Files|DNCDATA*;PROG*.*;LEADER.*;TRAILER.*;XREF*;PROGXREF*;HOSTMAP;Scanrate;"
           "*.LOG|All Files (*.*)|*.*";
  return "All Files (*.*)|*.*";
}

EditorWindow::EditorWindow(EventLoop& loop, std::string dir, std::string kind)
    : loop_(loop), dir_(std::move(dir)), kind_(std::move(kind)) {
  setAttribute(Qt::WA_DeleteOnClose);
  setObjectName("editor");
  text_ = new QPlainTextEdit(this);
  QFont f("Courier");
  f.setStyleHint(QFont::TypeWriter);
  text_->setFont(f);
  text_->setLineWrapMode(QPlainTextEdit::NoWrap);
  setCentralWidget(text_);
  // The title's "*" while edits are unsaved.
  connect(text_->document(), &QTextDocument::modificationChanged, this,
          &QWidget::setWindowModified);
  show_title();
  QMenu* file = menuBar()->addMenu("&File");
  file->addAction("&Open...", this, [this] { choose_and_open(); });
  file->addAction("&Save", QKeySequence::Save, this, [this] { save(); });
  file->addAction("&Close", this, [this] { close(); });
  resize(720, 520);
}

// Window-modal while the station's loop goes on: QMessageBox::warning would hold it.
void EditorWindow::warn(const QString& text) {
  QMessageBox box(QMessageBox::Warning, "SHOPLINK message", text, QMessageBox::Ok, this);
  fit_title(box);
  run_modal(loop_, box);
}

void EditorWindow::show_title() {
  const QString name = path_.empty() ? QString() : " - " + QString::fromLocal8Bit(path_.c_str());
  setWindowTitle("SHOPLINK editor" + name + "[*]");
}

bool EditorWindow::maybe_save() {
  if (!text_->document()->isModified()) return true;
  const QString name = path_.empty() ? "The new text" : QString::fromLocal8Bit(path_.c_str());
  QMessageBox box(QMessageBox::Warning, "SHOPLINK editor",
                  name + " has changes that are not saved.\nSave them?",
                  QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
  box.setDefaultButton(QMessageBox::Save);
  box.setEscapeButton(QMessageBox::Cancel);
  fit_title(box);
  run_modal(loop_, box);
  switch (box.standardButton(box.clickedButton())) {
    case QMessageBox::Save:
      return save();
    case QMessageBox::Discard:
      text_->document()->setModified(false);
      return true;
    default:  // Cancel, Esc, or the station stopping meanwhile: the edits stay
      return false;
  }
}

void EditorWindow::closeEvent(QCloseEvent* e) {
  if (asking_) {
    e->ignore();
    return;
  }
  asking_ = true;
  const bool may_close = maybe_save();
  asking_ = false;
  if (may_close) {
    e->accept();
  } else {
    e->ignore();
  }
}

bool close_editor_windows() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    auto* editor = dynamic_cast<EditorWindow*>(w);
    if (editor != nullptr && editor->isVisible() && !editor->close()) return false;
  }
  return true;
}

void EditorWindow::choose_and_open() {
  if (!maybe_save()) return;
  QFileDialog d(this, "Open", QString::fromLocal8Bit(dir_.c_str()));
  d.setOption(QFileDialog::DontUseNativeDialog);
  d.setFileMode(QFileDialog::ExistingFile);
  d.setNameFilters(qt_name_filters(editor_filter(kind_)));
  if (run_modal(loop_, d) == QDialog::Accepted && !d.selectedFiles().isEmpty())
    open_path(d.selectedFiles().first().toLocal8Bit().toStdString());
}

bool EditorWindow::open_path(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    warn("Cannot open " + QString::fromLocal8Bit(path.c_str()));
    return false;
  }
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  crlf_ = bytes.find("\r\n") != std::string::npos || bytes.empty();
  std::string shown;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
    shown += bytes[i];
  }
  text_->setPlainText(QString::fromLatin1(shown.data(), static_cast<qsizetype>(shown.size())));
  text_->document()->setModified(false);
  path_ = path;
  show_title();
  return true;
}

bool EditorWindow::save() {
  if (path_.empty()) {
    // Text typed into an editor that opened no file: it needs a name first.
    QFileDialog d(this, "Save As", QString::fromLocal8Bit(dir_.c_str()));
    d.setOption(QFileDialog::DontUseNativeDialog);
    d.setAcceptMode(QFileDialog::AcceptSave);
    d.setNameFilters(qt_name_filters(editor_filter(kind_)));
    if (run_modal(loop_, d) != QDialog::Accepted || d.selectedFiles().isEmpty()) return false;
    path_ = d.selectedFiles().first().toLocal8Bit().toStdString();
    show_title();
  }
  const QByteArray latin = text_->toPlainText().toLatin1();
  std::string out;
  for (char c : latin) {
    if (c == '\n' && crlf_) out += '\r';
    out += c;
  }
  // A file ends its last line as the station writes them.
  if (!out.empty() && out.back() != '\n') out += crlf_ ? "\r\n" : "\n";
  std::ofstream f(path_, std::ios::binary | std::ios::trunc);
  f.write(out.data(), static_cast<std::streamsize>(out.size()));
  if (!f.flush()) {
    warn("Cannot save " + QString::fromLocal8Bit(path_.c_str()));
    return false;
  }
  text_->document()->setModified(false);
  return true;
}

}  // namespace shoplink
