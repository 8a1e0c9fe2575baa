#include "transmit/send_file.hpp"

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "base/text.hpp"
#include "core/character_output.hpp"
#include "core/station.hpp"
#include "core/station_reports.hpp"
#include "log/system_log.hpp"
#include "transmit/code_tables.hpp"
#include "transmit/engine.hpp"
#include "transmit/transfer_controls.hpp"

namespace shoplink {

namespace {

constexpr std::size_t kLineEndProbe = 512;
constexpr std::size_t kOkumaLeadIn = 100;

// The line-end test on the file just opened under `Openfile`; any read error means "no
// usable line ends".
bool filter_needed(Station& s) {
  std::FILE* f = s.files.get(s.Openfile);
  if (f == nullptr) return true;
  double n = static_cast<double>(kLineEndProbe);
  if (s.file_size < static_cast<double>(kLineEndProbe)) n = s.file_size - 10;
  if (n < 1) return true;
  std::vector<char> head(static_cast<std::size_t>(n));
  if (std::fread(head.data(), 1, head.size(), f) != head.size()) return true;
  return needs_line_filter(head.data(), head.size());
}

// A numbered (PCNC) program's first line is its quoted header, which is never sent.
void skip_pcnc_header(Station& s) {
  std::FILE* f = s.files.get(s.Openfile);
  const bool numbered_name = contains(s.Filename, "PROG");
  if (!numbered_name && s.filetype != 3) return;
  std::string first;
  const bool quoted = FileTable::read_line(f, first) && starts_with(first, "\"");
  if (quoted) {
    s.filetype = 3;
  } else {
    std::rewind(f);
  }
}

// What precedes the program: the Lynx prompt answer, OKUMA's blank lead-in, or the port's
// leader and opening end of block. Leaves the opening in `string2send`.
void send_opening(Station& s) {
  PortSettings& p = s.cur();
  if (s.Lynx_request) {
    s.string2send = "*";
    return;
  }
  if (contains(p.code_line, "OLD_OKUMA")) {
    sendchar(s, std::string(kOkumaLeadIn, '\0'));
    return;
  }
  if (p.leader.empty() && !contains(p.code_line, "/L")) {
    if (!p.eob.empty()) {
      s.string2send = p.eob;
    } else {
      s.string2send = p.code_type >= 3 ? "\n" : "\r\n";
    }
  }
  if (s.BURNY == 1) {
    // The Burny control reads CR LF as its end of block for the rest of the run.
    std::string crlf = "\r\n";
    p.eob = code_convert(s, crlf);
    s.string2send = "\r\n%\r\n";
  }
  code_convert(s, s.string2send);
  sendchar(s, p.leader);
}

}  // namespace

bool needs_line_filter(const char* bytes, std::size_t n) {
  bool has_cr = false;
  for (std::size_t i = 0; i < n; ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c == 13) has_cr = true;
  }
  if (!has_cr) return true;
  for (std::size_t i = 0; i < n; ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c == 10 || c == 13) continue;
    if (c < 32 || c >= 128) return true;
  }
  return false;
}

void sendfile(Station& s) {
  s.string2send.clear();
  s.Openfile = s.files.freefile();
  const auto path = s.paths.existing(s.Filename);
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  s.file_size = ec ? 0.0 : static_cast<double>(size);
  s.char_count = 0;
  s.Filter_me = !s.files.open(s.Openfile, path, FileMode::Read) || filter_needed(s);
  s.files.close(s.Openfile);

  if (!s.files.open(s.Openfile, path, FileMode::Read)) {
    // Gone between the request and now: nothing was sent; back to scanning.
    log_event(s, 17);
    report_transfer_ended(s, TransferResult::NotFound, "gone before it was sent");
    s.Timer3.stop();
    s.Timer4.start();
    s.send_aborted = 0;
    return;
  }
  if (s.Filter_me) log_event(s, 35);
  skip_pcnc_header(s);
  send_opening(s);

  if (!transfer_stopped(s)) {
    s.window.set_visible(Element::StopButton, true);
    set_transfer_menus(s, false);
    sendchar(s, s.string2send);
    if (s.Lynx_request) s.xoff = 1;  // the first line waits for the Lynx prompt ">"
    if (!transfer_stopped(s)) run_transmission(s);
  }
  s.send_aborted = 0;
}

}  // namespace shoplink
