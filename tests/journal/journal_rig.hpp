#pragma once
// Reading back what a station's journal holds, through a reader's connection as the
// commands read it.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "journal/journal_file.hpp"
#include "journal/program_history.hpp"
#include "journal/sqlite_db.hpp"

namespace shoplink::testing {

struct TransferRow {
  int port = 0;
  std::string kind, result, reason, program;
  std::int64_t characters = 0;
};

inline std::vector<TransferRow> transfer_rows(const std::filesystem::path& station_dir) {
  std::vector<TransferRow> out;
  auto db = open_journal_reader(station_dir);
  Statement st = db->prepare(
      "SELECT port, kind, result, reason, program, characters FROM transfers ORDER BY id");
  while (st.step())
    out.push_back({static_cast<int>(st.integer(0)), st.text(1), st.text(2), st.text(3), st.text(4),
                   st.integer(5)});
  return out;
}

// "kind|detail" of each row of `table` (station_events, machine_events: "kind|text").
inline std::vector<std::string> event_rows(const std::filesystem::path& station_dir,
                                           const std::string& table) {
  std::vector<std::string> out;
  auto db = open_journal_reader(station_dir);
  const std::string detail = table == "machine_events" ? "text" : "detail";
  Statement st = db->prepare("SELECT kind, " + detail + " FROM " + table + " ORDER BY id");
  while (st.step()) out.push_back(st.text(0) + "|" + st.text(1));
  return out;
}

// "number origin content" of each revision of `program`, newest first.
inline std::vector<std::string> revision_rows(const std::filesystem::path& station_dir,
                                              const std::filesystem::path& program) {
  std::vector<std::string> out;
  auto db = open_journal_reader(station_dir);
  ProgramHistory h(*db);
  for (const Revision& r : h.revisions(program.string()))
    out.push_back(std::to_string(r.number) + " " + r.origin + " " + h.content(r));
  return out;
}

}  // namespace shoplink::testing
