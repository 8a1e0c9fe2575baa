#include "journal_commands.hpp"

#include <fmt/format.h>

#include <optional>
#include <ostream>
#include <regex>
#include <stdexcept>

#include "base/host_paths.hpp"
#include "journal/journal.hpp"
#include "journal/journal_file.hpp"
#include "journal/program_history.hpp"
#include "journal/sqlite_db.hpp"
#include "journal/text_diff.hpp"
#include "station/offline_station.hpp"
#include "station/program_lookup.hpp"
#include "station/program_restore.hpp"

namespace fs = std::filesystem;

namespace shoplink {

namespace {

// A failure that ends the command with its one line.
struct CommandError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The station directory with its HOSTMAP and --map entries, as `run` reads it.
HostPaths station_paths(const JournalCommand& c) {
  std::error_code ec;
  if (!fs::is_directory(c.station_dir, ec))
    throw CommandError("station directory " + c.station_dir + " does not exist");
  HostPaths paths(fs::absolute(c.station_dir));
  paths.load_hostmap_file();
  for (const auto& m : c.maps)
    if (!paths.map_assignment(m)) throw CommandError("--map " + m + ": expected NAME=VALUE");
  return paths;
}

std::string port_text(int port) {
  return port > 0 ? std::to_string(port) : "-";
}

// The program the command names, found with the station's configuration when a port is
// given.
fs::path named_program(HostPaths& paths, ProgramHistory& history, const JournalCommand& c) {
  OfflineStation offline(paths);
  if (c.port != 0 && !offline.read_configuration())
    throw CommandError("no usable DNCDATA in " + paths.station_dir_text() + " to read port " +
                       std::to_string(c.port) + "'s directories from");
  const ProgramFound found = find_program(offline.station(), history, c.program, c.port);
  if (found.path.empty()) throw CommandError(found.error);
  return found.path;
}

int failed(std::ostream& err, const char* command, const std::string& why) {
  err << "shoplink " << command << ": " << why << '\n';
  return 1;
}

template <class Body>
int guarded(const char* command, std::ostream& err, const Body& body) {
  try {
    return body();
  } catch (const std::exception& e) {
    return failed(err, command, e.what());
  }
}

void print_revisions(std::ostream& out, const std::vector<Revision>& revs) {
  out << fmt::format("{:>4}  {:19}  {:>4}  {:12}  {:>9}  {}\n", "REV", "TIME", "PORT", "MACHINE",
                     "SIZE", "HOW");
  for (const Revision& r : revs) {
    std::string how = r.origin;
    if (!r.note.empty()) how += " (" + r.note + ")";
    out << fmt::format("{:>4}  {:19}  {:>4}  {:12}  {:>9}  {}\n", r.number, r.time,
                       port_text(r.port), r.machine.empty() ? "-" : r.machine, r.size, how);
  }
}

constexpr int kRecentChanges = 20;

std::string label(const Revision& r) {
  return r.program + " revision " + std::to_string(r.number) + " (" + r.time + ", " + r.origin +
         ")";
}

// YYYY-MM-DD, optionally with HH:MM or HH:MM:SS, as the journal's times begin.
std::string since_text(const std::string& since) {
  static const std::regex form(R"(\d{4}-\d{2}-\d{2}( \d{2}:\d{2}(:\d{2})?)?)");
  if (!std::regex_match(since, form))
    throw CommandError("--since " + since + ": expected YYYY-MM-DD or \"YYYY-MM-DD HH:MM\"");
  return since;
}

std::string csv_field(const std::string& v) {
  if (v.find_first_of(",\"\r\n") == std::string::npos) return v;
  std::string q = "\"";
  for (char c : v) {
    if (c == '"') q += '"';
    q += c;
  }
  return q + "\"";
}

}  // namespace

int history_command(const JournalCommand& c, std::ostream& out, std::ostream& err) {
  return guarded("history", err, [&] {
    HostPaths paths = station_paths(c);
    auto db = open_journal_reader(paths.station_dir());
    ProgramHistory history(*db);
    if (c.program.empty()) {
      const auto revs = history.recent(kRecentChanges);
      if (revs.empty()) {
        out << "No program has a history yet.\n";
        return 0;
      }
      out << fmt::format("{:19}  {:>4}  {:>4}  {:12}  {:>9}  {:14}  {}\n", "TIME", "REV", "PORT",
                         "MACHINE", "SIZE", "HOW", "PROGRAM");
      for (const Revision& r : revs)
        out << fmt::format("{:19}  {:>4}  {:>4}  {:12}  {:>9}  {:14}  {}\n", r.time, r.number,
                           port_text(r.port), r.machine.empty() ? "-" : r.machine, r.size, r.origin,
                           r.program);
      return 0;
    }
    const fs::path program = named_program(paths, history, c);
    const auto revs = history.revisions(program.string());
    out << program.string() << '\n';
    if (revs.empty()) {
      out << "No revisions kept yet: the station keeps one when it replaces the program.\n";
      return 0;
    }
    print_revisions(out, revs);
    return 0;
  });
}

int diff_command(const JournalCommand& c, std::ostream& out, std::ostream& err) {
  return guarded("diff", err, [&] {
    HostPaths paths = station_paths(c);
    auto db = open_journal_reader(paths.station_dir());
    ProgramHistory history(*db);
    const fs::path program = named_program(paths, history, c);
    const auto revs = history.revisions(program.string());
    auto numbered = [&](int n) {
      const auto r = history.revision(program.string(), n);
      if (!r) throw CommandError("no revision " + std::to_string(n) + " of " + program.string());
      return *r;
    };
    std::string old_text, new_text, old_label, new_label;
    auto current = [&] {
      const auto bytes = read_program_file(program);
      if (!bytes) throw CommandError(program.string() + " cannot be read");
      new_text = *bytes;
      new_label = program.string() + " (current file)";
    };
    if (c.revisions.size() >= 2) {
      const Revision a = numbered(c.revisions[0]), b = numbered(c.revisions[1]);
      old_text = history.content(a);
      old_label = label(a);
      new_text = history.content(b);
      new_label = label(b);
    } else if (c.revisions.size() == 1) {
      const Revision a = numbered(c.revisions[0]);
      old_text = history.content(a);
      old_label = label(a);
      current();
    } else {
      if (revs.empty()) throw CommandError("no revisions of " + program.string() + " kept yet");
      current();
      // The revision before the current content: the newest one when the file has changed
      // since, else the one before it.
      const Revision* before = &revs.front();
      if (history.content(revs.front()) == new_text) {
        if (revs.size() < 2) {
          out << program.string() << " has one revision, the current content.\n";
          return 0;
        }
        before = &revs[1];
      }
      old_text = history.content(*before);
      old_label = label(*before);
    }
    const std::string diff = unified_diff(old_text, new_text, old_label, new_label);
    if (diff.empty()) {
      out << "No differences between " << old_label << " and " << new_label << ".\n";
    } else {
      out << diff;
    }
    return 0;
  });
}

int restore_command(const JournalCommand& c, std::ostream& out, std::ostream& err) {
  return guarded("restore", err, [&] {
    if (c.revisions.size() != 1) throw CommandError("give one revision number to restore");
    HostPaths paths = station_paths(c);
    std::vector<std::string> problems;
    const JournalSettings settings = journal_settings(paths, &problems);
    if (!problems.empty()) throw CommandError("HOSTMAP: " + problems.front());
    OfflineStation offline(paths);
    // The log named in DNCDATA records the restore as the station would.
    if (!offline.read_configuration() && c.port != 0)
      throw CommandError("no usable DNCDATA in " + paths.station_dir_text());
    Station& s = offline.station();
    Journal journal(s, settings);
    ProgramHistory* history = journal.history();
    if (!history) throw CommandError("the journal cannot be used: " + journal.failure());
    const ProgramFound found = find_program(s, *history, c.program, c.port);
    if (found.path.empty()) throw CommandError(found.error);
    const RestoreOutcome r = restore_revision(s, journal, found.path, c.revisions[0]);
    if (!r.ok) throw CommandError(r.message);
    out << r.message << '\n';
    return 0;
  });
}

int transfers_command(const JournalCommand& c, std::ostream& out, std::ostream& err) {
  return guarded("transfers", err, [&] {
    HostPaths paths = station_paths(c);
    auto db = open_journal_reader(paths.station_dir());
    std::string sql =
        "SELECT started, ended, port, machine, kind, program, characters, result, reason "
        "FROM transfers WHERE started >= ?1";
    if (c.port != 0) sql += " AND port = ?2";
    sql += " ORDER BY started, id";
    Statement st = db->prepare(sql);
    st.bind(1, c.since.empty() ? std::string() : since_text(c.since));
    if (c.port != 0) st.bind(2, c.port);
    if (c.csv) {
      out << "started,ended,port,machine,kind,program,characters,result,reason\n";
    } else {
      out << fmt::format("{:19}  {:8}  {:>4}  {:12}  {:14}  {:>9}  {:18}  {}\n", "STARTED", "ENDED",
                         "PORT", "MACHINE", "KIND", "CHARS", "RESULT", "PROGRAM");
    }
    while (st.step()) {
      const std::string started = st.text(0), ended = st.text(1);
      const std::string machine = st.text(3), program = st.text(5), result = st.text(7),
                        reason = st.text(8);
      if (c.csv) {
        out << csv_field(started) << ',' << csv_field(ended) << ',' << st.integer(2) << ','
            << csv_field(machine) << ',' << csv_field(st.text(4)) << ',' << csv_field(program)
            << ',' << st.integer(6) << ',' << csv_field(result) << ',' << csv_field(reason) << '\n';
        continue;
      }
      // The end's time of day; its date only when it is another day.
      const std::string end_shown =
          ended.substr(0, 10) == started.substr(0, 10) ? ended.substr(11) : ended;
      out << fmt::format("{:19}  {:8}  {:>4}  {:12}  {:14}  {:>9}  {:18}  {}\n", started, end_shown,
                         port_text(static_cast<int>(st.integer(2))),
                         machine.empty() ? "-" : machine, st.text(4), st.integer(6),
                         reason.empty() ? result : result + " (" + reason + ")",
                         program.empty() ? "-" : program);
    }
    return 0;
  });
}

}  // namespace shoplink
