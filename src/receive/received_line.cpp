#include "receive/received_line.hpp"

#include "base/control_chars.hpp"
#include "base/text.hpp"
#include "core/station.hpp"
#include "receive/reception.hpp"
#include "receive/site_names.hpp"
#include "receive/upload_file.hpp"
#include "requests/controller_forms.hpp"
#include "transmit/prepare.hpp"

namespace shoplink {

using namespace ctl;

namespace {
constexpr int kHadleyTimeoutMs = 1500;

bool okuma_port(const Station& s) {
  return contains(ucase(s.cur().code_line), "OKUMA");
}

void show_line(Station& s, std::string_view line) {
  if (s.showdata > 0) {
    s.inputtext += line;
    s.inputtext += "\r\n";
  }
}

// HADLEY TOOL sends a program in bursts; after the first pause the rest is a second
// program block, rewritten for the control and preceded once by "O2".
// Returns false when the line is dropped.
bool hadley_rules(Station& s, std::string& line) {
  if (contains(line, "$1")) return false;
  if (s.Hadley_pause) {
    if (s.G10R == 0) {
      s.G10R = 1;
      write_upload_line(s, "O2");
      s.char_count += 4;
      s.Timer6.set_interval(kHadleyTimeoutMs);
    }
    line = convert4Hadley(s, line);
    if (contains(line, "%")) line.clear();
  }
  return true;
}

}  // namespace

void store_program_line(Station& s, std::string_view line) {
  // A line of the program is here: from now on the upload replaces the old program. Lines
  // that are dropped or only shown never do.
  upload_data_arrived(s);
  write_upload_line(s, line);
  s.char_count += static_cast<double>(line.size()) + 2;
  if (!line.empty()) s.Last_RX_line = std::string(line);
}

LineOutcome complete_received_line(Station& s, std::string line) {
  if (line.empty()) return LineOutcome::Dropped;
  if (contains(line, "&HE:")) return LineOutcome::Dropped;
  if (site::hadley_tool(s) && !hadley_rules(s, line)) return LineOutcome::Dropped;
  if (s.BURNY == 1 &&
      (contains(line, std::string_view(&SUB, 1)) || (!s.BQQ.empty() && contains(line, s.BQQ)))) {
    timer6_Timer(s);
    return LineOutcome::UploadEnded;
  }
  // An OKUMA control's "$" line names the program for the control; it is not part of the
  // stored program unless the port uses "$" in its commands.
  if (okuma_port(s) && starts_with(line, "$") && !contains(s.cur().name_chars, "$")) {
    show_line(s, line);
    return LineOutcome::Shown;
  }
  if (tosnuc_port(s.cur())) tosnuc_first_line(line);
  if (site::maplegate_technologies(s) && contains(line, "%")) {
    show_line(s, line);
    return LineOutcome::Shown;
  }
  store_program_line(s, line);
  show_line(s, line);
  return LineOutcome::Stored;
}

}  // namespace shoplink
