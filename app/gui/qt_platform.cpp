#include "gui/qt_platform.hpp"

#include <QApplication>
#include <QFileDialog>
#include <QProcess>
#include <cstdlib>
#include <filesystem>

#include "base/host_paths.hpp"
#include "gui/editor_window.hpp"
#include "gui/qt_dialogs.hpp"

namespace shoplink {

std::string preferred_editor(const HostPaths& paths) {
  if (auto e = paths.lookup("EDITOR"); e && !e->empty()) return *e;
  for (const char* var : {"VISUAL", "EDITOR"})
    if (const char* v = std::getenv(var); v != nullptr && *v != '\0') return v;
  return {};
}

void QtPlatform::beep() {
  QApplication::beep();
}

bool QtPlatform::start_detached(const std::string& program, const std::vector<std::string>& args,
                                bool) {
  if (std::filesystem::path(program).filename() == "editor" &&
      std::filesystem::path(program).parent_path() == paths_.station_dir())
    return open_editor(args);
  QStringList list;
  for (const auto& a : args) list << QString::fromLocal8Bit(a.c_str());
  return QProcess::startDetached(QString::fromLocal8Bit(program.c_str()), list);
}

bool QtPlatform::open_editor(const std::vector<std::string>& args) {
  const std::string kind = args.empty() ? "fromdnc1" : args[0];
  // "[dir] name": that file directly. The name is a station name: found without regard to case.
  std::string file;
  if (args.size() >= 3 && args[1].size() >= 2 && args[1].front() == '[') {
    const std::string dir = args[1].substr(1, args[1].size() - 2);
    file = paths_.existing(dir + "\\" + args[2]).string();
  }
  const std::string external = preferred_editor(paths_);
  if (!external.empty()) {
    if (file.empty()) {
      QFileDialog d(nullptr, "Open", QString::fromLocal8Bit(paths_.station_dir().c_str()));
      d.setOption(QFileDialog::DontUseNativeDialog);
      d.setFileMode(QFileDialog::ExistingFile);
      d.setNameFilters(qt_name_filters(editor_filter(kind)));
      if (run_modal(loop_, d) != QDialog::Accepted || d.selectedFiles().isEmpty()) return false;
      file = d.selectedFiles().first().toLocal8Bit().toStdString();
    }
    return QProcess::startDetached(QString::fromLocal8Bit(external.c_str()),
                                   {QString::fromLocal8Bit(file.c_str())});
  }
  auto* w = new EditorWindow(loop_, paths_.station_dir().string(), kind);
  w->show();
  if (!file.empty()) return w->open_path(file);
  w->choose_and_open();
  return true;
}

}  // namespace shoplink
