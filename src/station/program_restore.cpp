#include "station/program_restore.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "base/text.hpp"
#include "core/station.hpp"
#include "journal/journal.hpp"
#include "journal/program_history.hpp"
#include "log/system_log.hpp"
#include "receive/contents_index.hpp"
#include "receive/upload_file.hpp"

namespace fs = std::filesystem;

namespace shoplink {

namespace {

// Written and synced before it takes the program's place, so that a power cut never leaves
// a restored program empty. Returns the error text, empty when written.
std::string write_synced(const fs::path& file, const std::string& bytes) {
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return std::strerror(errno);
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int err = n < 0 ? errno : EIO;
      ::close(fd);
      return std::strerror(err);
    }
    done += static_cast<std::size_t>(n);
  }
  const int synced = ::fsync(fd) == 0 ? 0 : errno;
  const int closed = ::close(fd) == 0 ? 0 : errno;
  if (synced || closed) return std::strerror(synced ? synced : closed);
  return {};
}

// PROG and digits: a program of the numbered form.
std::string program_number(const fs::path& program) {
  const std::string name = ucase(program.filename().string());
  if (name.size() <= 4 || !starts_with(name, "PROG")) return {};
  const std::string digits = name.substr(4);
  for (char c : digits)
    if (c < '0' || c > '9') return {};
  return digits;
}

fs::path file_named(const fs::path& dir, const std::string& upper) {
  std::error_code ec;
  for (auto it = fs::directory_iterator(dir, ec); !ec && it != fs::directory_iterator();
       it.increment(ec))
    if (ucase(it->path().filename().string()) == upper) return it->path();
  return {};
}

std::string unquoted(std::string line) {
  if (line.size() >= 2 && line.front() == '"' && line.back() == '"')
    line = line.substr(1, line.size() - 2);
  return line;
}

// The index entry of a numbered program: its name from the header line ":number (name)",
// its size counted as the reception counts it (each stored line and 2, quotes not counted,
// the header not at all).
void update_index(const fs::path& program, const std::string& number, const std::string& bytes) {
  const fs::path index = file_named(program.parent_path(), kContentsFile);
  if (index.empty()) return;
  std::vector<std::string> lines;
  std::string line;
  for (char c : bytes) {
    if (c == '\n') {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(unquoted(line));
      line.clear();
    } else {
      line += c;
    }
  }
  if (!line.empty()) lines.push_back(unquoted(line));
  std::string name = kDncLinkComment;  // keeps the name the index has
  double size = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i == 0 && starts_with(lines[0], ":")) {
      const std::size_t open = lines[0].find(" (");
      const std::size_t close = lines[0].rfind(')');
      if (open != std::string::npos && close != std::string::npos && close > open + 2)
        name = lines[0].substr(open + 2, close - open - 2);
      continue;
    }
    size += static_cast<double>(lines[i].size()) + 2;
  }
  rewrite_contents(index, index.parent_path() / kContentsTempFile, number, name, size);
}

}  // namespace

RestoreOutcome restore_revision(Station& s, Journal& journal, const fs::path& program_path,
                                int number) {
  const fs::path program = history_key(program_path);
  ProgramHistory* history = journal.history();
  if (!history) return {false, 0, "the journal cannot be used: " + journal.failure()};
  std::string bytes;
  try {
    const auto rev = history->revision(program.string(), number);
    if (!rev)
      return {false, 0, "no revision " + std::to_string(number) + " of " + program.string()};
    bytes = history->content(*rev);
  } catch (const std::exception& e) {
    return {false, 0, std::string("the journal cannot be read: ") + e.what()};
  }

  const fs::path temp = upload_temporary_for(program);
  if (const std::string error = write_synced(temp, bytes); !error.empty()) {
    std::error_code ec;
    fs::remove(temp, ec);
    return {false, 0, "cannot write " + temp.string() + ": " + error};
  }
  ProgramChange change;
  change.program = program;
  change.incoming = temp;
  change.previous = program;
  change.origin = ProgramOrigin::Restore;
  change.time = s.loop.clock().local_now();
  s.events.program_replacing(change);
  std::error_code ec;
  if (!journal.kept_before_replace(program)) {
    fs::remove(temp, ec);
    return {false, 0,
            "the history could not keep the current program (" + journal.failure() +
                "); nothing restored"};
  }
  fs::rename(temp, program, ec);
  s.events.program_replaced(change, !ec);
  if (ec) {
    std::error_code rm;
    fs::remove(temp, rm);
    return {false, 0, "cannot replace " + program.string() + ": " + ec.message()};
  }
  if (const std::string n = program_number(program); !n.empty()) update_index(program, n, bytes);

  int now = 0;
  if (ProgramHistory* h = journal.history()) {
    try {
      const auto revs = h->revisions(program.string());
      if (!revs.empty()) now = revs.front().number;
    } catch (const std::exception&) {
      // Restored all the same; only the number is not known.
    }
  }
  const std::string text = "Program " + program.string() + " restored from revision " +
                           std::to_string(number) +
                           (now ? " (now revision " + std::to_string(now) + ")" : "");
  log_text(s, text);
  return {true, now, text};
}

}  // namespace shoplink
