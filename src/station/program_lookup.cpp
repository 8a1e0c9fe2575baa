#include "station/program_lookup.hpp"

#include <algorithm>
#include <system_error>
#include <vector>

#include "core/station.hpp"
#include "journal/program_history.hpp"
#include "requests/command_interpreter.hpp"
#include "requests/program_names.hpp"

namespace fs = std::filesystem;

namespace shoplink {

namespace {

bool is_file(const fs::path& p) {
  std::error_code ec;
  return fs::is_regular_file(p, ec);
}

bool has_history(ProgramHistory& history, const fs::path& p) {
  return !history.revisions(p.string()).empty();
}

// The file a request (or upload) of `name` on the current port names.
std::string resolved(Station& s, const std::string& name, RequestKind kind) {
  s.rx_line = name;
  CommandParse p;
  set_up_command(s, p);
  if (p.plain32) {
    if (lookup_contents_name(s, p, kind, 1) == LookupResult::Matched) return s.Filename;
    return {};
  }
  if (resolve_file_name(s, p, kind, 1) != NameResult::Named) return {};
  return s.Filename;
}

ProgramFound choose(ProgramHistory& history, const std::vector<fs::path>& candidates,
                    const std::string& what) {
  for (const fs::path& c : candidates)
    if (has_history(history, c)) return {c, {}};
  for (const fs::path& c : candidates)
    if (is_file(c)) return {c, {}};
  std::string looked;
  for (const fs::path& c : candidates) looked += (looked.empty() ? "" : ", ") + c.string();
  return {{}, "no program " + what + (looked.empty() ? "" : " (looked for " + looked + ")")};
}

}  // namespace

ProgramFound find_program(Station& s, ProgramHistory& history, const std::string& text, int port) {
  if (text.find_first_not_of(" \t") == std::string::npos) return {{}, "no program named"};
  if (port != 0) {
    if (port < 1 || port > NumPorts) return {{}, "no port " + std::to_string(port)};
    s.port = static_cast<std::int16_t>(port);
    std::vector<fs::path> candidates;
    for (RequestKind kind : {RequestKind::Store, RequestKind::File}) {
      const std::string filename = resolved(s, text, kind);
      if (filename.empty()) continue;
      const fs::path p = history_key(s.paths.existing(filename));
      if (std::find(candidates.begin(), candidates.end(), p) == candidates.end())
        candidates.push_back(p);
    }
    return choose(history, candidates, text + " on port " + std::to_string(port));
  }

  const fs::path given(text);
  std::vector<fs::path> candidates;
  if (given.is_absolute()) {
    candidates.push_back(history_key(given));
  } else {
    candidates.push_back(history_key(fs::current_path() / given));
    candidates.push_back(history_key(s.paths.station_dir() / given));
  }
  for (const fs::path& c : candidates)
    if (has_history(history, c) || is_file(c)) return {c, {}};

  const std::vector<std::string> named = history.programs_named(given.filename().string());
  if (named.size() == 1) return {named.front(), {}};
  if (named.size() > 1) {
    std::string list;
    for (const auto& n : named) list += (list.empty() ? "" : ", ") + n;
    return {{},
            text + " names " + std::to_string(named.size()) + " programs (" + list +
                "): give its path, or --port N"};
  }
  return {{}, "no program " + text + " (give a host path, or a name with --port N)"};
}

}  // namespace shoplink
