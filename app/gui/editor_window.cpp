#include "gui/editor_window.hpp"

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
  setWindowTitle("SHOPLINK editor");
  text_ = new QPlainTextEdit(this);
  QFont f("Courier");
  f.setStyleHint(QFont::TypeWriter);
  text_->setFont(f);
  text_->setLineWrapMode(QPlainTextEdit::NoWrap);
  setCentralWidget(text_);
  QMenu* file = menuBar()->addMenu("&File");
  file->addAction("&Open...", this, [this] { choose_and_open(); });
  file->addAction("&Save", QKeySequence::Save, this, [this] { save(); });
  file->addAction("&Close", this, [this] { close(); });
  resize(720, 520);
}

void EditorWindow::choose_and_open() {
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
    QMessageBox::warning(this, "SHOPLINK message",
                         "Cannot open " + QString::fromLocal8Bit(path.c_str()));
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
  path_ = path;
  setWindowTitle("SHOPLINK editor - " + QString::fromLocal8Bit(path.c_str()));
  return true;
}

bool EditorWindow::save() {
  if (path_.empty()) return false;
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
    QMessageBox::warning(this, "SHOPLINK message",
                         "Cannot save " + QString::fromLocal8Bit(path_.c_str()));
    return false;
  }
  return true;
}

}  // namespace shoplink
