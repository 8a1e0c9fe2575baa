#include "transmit/binary_send.hpp"

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "base/control_chars.hpp"
#include "core/character_output.hpp"
#include "core/station.hpp"
#include "core/station_reports.hpp"
#include "log/system_log.hpp"
#include "transmit/broken_transfer.hpp"
#include "transmit/progress.hpp"
#include "transmit/transfer_controls.hpp"
#include "transmit/transfer_end.hpp"

namespace shoplink {

namespace {

constexpr long kEventsEvery = 100;
// The transmit buffer never holds more than this, so that a machine's Xoff stops the flow
// within a few bytes.
constexpr int kMostUnsent = 3;
// Holding for an Xoff has no deadline of its own; re-checked this often.
constexpr Duration kHoldRecheck = millis(10);

enum class Gate { Go, Stopped };

// Every handshake character in what has arrived counts, the last one winning: an Xoff that
// shares a read with other characters must still stop the flow.
void read_flow_control(Station& s) {
  while (s.line.in_buffer_count() > 0) {
    const std::string got = s.line.read();
    if (got.empty()) break;
    for (unsigned char ch : got) {
      const int c = ch & 127;
      if (c == ctl::DC1) s.xoff = 0;
      if (c == ctl::DC3) s.xoff = 1;
    }
  }
}

// Waits, yielding, until `n` bytes may go: no Xoff, room for them in the transmit buffer,
// CTS on.
Gate wait_for_room(Station& s, int n) {
  const Duration line_char = char_time(s);
  for (;;) {
    if (transfer_stopped(s)) return Gate::Stopped;
    read_flow_control(s);
    if (s.xoff == 1) {
      s.loop.yield(kHoldRecheck);
    } else if (s.line.out_buffer_count() + n > kMostUnsent || !s.line.cts()) {
      s.loop.yield(line_char);
    } else {
      return Gate::Go;
    }
  }
}

// Stopped (by the operator or the stall time-out, which arranged the return to scanning
// themselves) or the file failed: no completion, but the line and the controller's buffer
// of the port are cleared as after any interrupted transfer.
void end_interrupted(Station& s) {
  s.files.close(s.Openfile);
  s.line.set_option_flag(true);
  close_transfer(s, false);
}

// The bytes of a binary program as they go on the host line: the port controller takes DC4
// as its command character, so a DC4 in the data is doubled and reaches the machine as one.
std::string binary_line_bytes(unsigned char byte) {
  if (byte == ctl::DC4) return std::string(2, static_cast<char>(ctl::DC4));
  return std::string(1, static_cast<char>(byte));
}

bool open_program(Station& s) {
  s.Openfile = s.files.freefile();
  const std::filesystem::path path = s.paths.existing(s.Filename);
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  s.file_size = ec ? 0.0 : static_cast<double>(size);
  return s.files.open(s.Openfile, path, FileMode::Read);
}

}  // namespace

void send_binary_file(Station& s) {
  if (!open_program(s)) {
    // Gone between the request and now: nothing was sent; back to scanning.
    log_event(s, 17);
    report_transfer_ended(s, TransferResult::NotFound, "gone before it was sent");
    s.Timer3.stop();
    s.Timer4.start();
    s.line.set_option_flag(true);
    s.send_aborted = 0;
    return;
  }
  s.window.set_visible(Element::StopButton, true);
  set_transfer_menus(s, false);
  std::FILE* f = s.files.get(s.Openfile);
  TransferProgress progress(s.loop.now());
  const int breaks = s.line_breaks();
  for (long i = 1;; ++i) {
    if (i % kEventsEvery == 0) {
      s.loop.yield(Duration::zero());
      progress.update(s);
    }
    const int byte = std::getc(f);
    if (byte == EOF) {
      if (std::ferror(f) == 0) break;
      s.window.set_status(" " + s.paths.display(s.Filename) + " could not be read ");
      report_transfer_ended(s, TransferResult::Stopped, "program could not be read");
      s.Timer3.stop();
      s.Timer4.start();
      end_interrupted(s);
      return;
    }
    const std::string out = binary_line_bytes(static_cast<unsigned char>(byte));
    if (wait_for_room(s, static_cast<int>(out.size())) == Gate::Stopped) {
      end_interrupted(s);
      return;
    }
    s.line.write(out);
    // The stall time-out counts from the last byte taken, as for text.
    s.Timer3.start();
    char_delay_pause(s);
  }
  if (!drain_output(s) || transfer_broke(s, breaks)) {
    end_interrupted(s);
    return;
  }
  complete_transfer(s);
  s.line.set_option_flag(true);
  close_transfer(s, true);
}

}  // namespace shoplink
