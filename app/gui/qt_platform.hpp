#pragma once
// Beep and program starts for the desktop station. The station's own editor ("editor" in the
// station directory) opens the built-in editor window, unless an editor of the operator's
// choice is set: HOSTMAP's EDITOR entry wins, then the VISUAL, then the EDITOR environment
// variable; that program is started with the file to edit.
#include <string>
#include <vector>

#include "ui/main_window.hpp"

namespace shoplink {

class EventLoop;
class HostPaths;

// The operator's own editor, or empty for the built-in one.
std::string preferred_editor(const HostPaths& paths);

class QtPlatform final : public Platform {
 public:
  QtPlatform(EventLoop& loop, HostPaths& paths) : loop_(loop), paths_(paths) {}
  void beep() override;
  bool start_detached(const std::string& program, const std::vector<std::string>& args,
                      bool minimized) override;

 private:
  bool open_editor(const std::vector<std::string>& args);
  EventLoop& loop_;
  HostPaths& paths_;
};

}  // namespace shoplink
