#include "core/station_reports.hpp"

#include <cstdio>

#include "core/station.hpp"

namespace shoplink {

namespace {

bool is_upload(TransferKind k) {
  return k == TransferKind::Upload || k == TransferKind::ManualReceive;
}

std::string host_path_of(const Station& s, const std::string& filename) {
  return filename.empty() ? std::string() : s.paths.existing(filename).lexically_normal().string();
}

// Characters of the program file: an upload counts what it stored, a completed send the
// whole file, an interrupted one as far as it was read.
double characters_at_end(Station& s, TransferKind kind, TransferResult result) {
  if (is_upload(kind)) return s.char_count;
  if (result == TransferResult::Transmitted) return s.file_size;
  if (std::FILE* f = s.files.get(s.Openfile)) {
    const long at = std::ftell(f);
    if (at > 0) return static_cast<double>(at);
  }
  return 0;
}

TransferStart start_of(Station& s, TransferKind kind, const std::string& filename) {
  TransferStart t;
  t.port = s.port;
  t.machine = s.cur().machine_name;
  t.program = host_path_of(s, filename);
  t.kind = kind;
  t.started = s.loop.clock().local_now();
  return t;
}

}  // namespace

bool transfer_under_way(const Station& s) {
  return s.transfer.has_value();
}

void report_transfer_began(Station& s, TransferKind kind, const std::string& filename) {
  if (s.transfer) report_transfer_ended(s, TransferResult::Stopped, "no end was reported");
  s.transfer = Station::OpenTransfer{start_of(s, kind, filename), s.line_breaks()};
  s.events.transfer_began(s.transfer->start);
}

void report_transfer_ended(Station& s, TransferResult result, std::string reason) {
  if (!s.transfer) return;
  const Station::OpenTransfer open = std::move(*s.transfer);
  s.transfer.reset();
  TransferEnd end;
  end.start = open.start;
  end.ended = s.loop.clock().local_now();
  end.characters = characters_at_end(s, open.start.kind, result);
  end.result = result;
  end.reason = std::move(reason);
  if (s.line_breaks() != open.line_breaks && result != TransferResult::NotFound) {
    // Whatever the station saw at its end, the machine did not get (or send) it whole.
    end.reason = std::string(name_of(result)) + (end.reason.empty() ? "" : ", " + end.reason) +
                 (s.host_line_lost.empty() ? "" : " (" + s.host_line_lost + ")");
    end.result = TransferResult::LineLost;
  }
  s.events.transfer_ended(end);
}

void report_transfer(Station& s, TransferKind kind, const std::string& filename,
                     TransferResult result, double characters, std::string reason) {
  TransferEnd end;
  end.start = start_of(s, kind, filename);
  end.ended = end.start.started;
  end.characters = characters;
  end.result = result;
  end.reason = std::move(reason);
  s.events.transfer_began(end.start);
  s.events.transfer_ended(end);
}

void report_transfer_progress(Station& s, double characters) {
  if (s.transfer) s.events.transfer_progressed(s.transfer->start.port, characters);
}

ProgramChange upload_change(Station& s, const std::filesystem::path& program,
                            const std::filesystem::path& incoming,
                            const std::filesystem::path& previous) {
  ProgramChange c;
  c.port = s.transfer ? s.transfer->start.port : s.port;
  c.machine = s.transfer ? s.transfer->start.machine : s.cur().machine_name;
  c.program = program;
  c.incoming = incoming;
  c.previous = previous;
  c.origin = s.transfer && s.transfer->start.kind == TransferKind::ManualReceive
                 ? ProgramOrigin::ManualReceive
                 : ProgramOrigin::Upload;
  c.time = s.loop.clock().local_now();
  return c;
}

void report_activity(Station& s, ActivityKind kind, std::string text) {
  ActivityRecord a;
  a.port = s.port;
  a.machine = s.cur().machine_name;
  a.kind = kind;
  a.text = std::move(text);
  a.time = s.loop.clock().local_now();
  s.events.activity_recorded(a);
}

void report_line_state(Station& s, LineState state, std::string detail) {
  s.events.line_state_changed(state, detail, s.loop.clock().local_now());
}

void report_station_started(Station& s) {
  s.events.station_started(s.loop.clock().local_now());
}

void report_station_stopping(Station& s) {
  if (s.transfer) {
    const bool upload = is_upload(s.transfer->start.kind);
    report_transfer_ended(s, upload ? TransferResult::Discarded : TransferResult::Stopped,
                          "station stopped");
  }
  s.events.station_stopping(s.loop.clock().local_now());
}

}  // namespace shoplink
