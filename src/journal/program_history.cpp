#include "journal/program_history.hpp"

#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

#include "base/text.hpp"

namespace fs = std::filesystem;

namespace shoplink {

namespace {

// FNV-1a, 64 bits: a key to find a content by, never taken as proof of equality.
std::int64_t content_hash(const std::string& bytes) {
  std::uint64_t h = 14695981039346656037ull;
  for (unsigned char c : bytes) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return static_cast<std::int64_t>(h);
}

constexpr const char* kColumns =
    "SELECT id, program, number, time, port, machine, origin, note, size, blob, pending "
    "FROM revisions ";

Revision revision_of(const Statement& st) {
  Revision r;
  r.id = st.integer(0);
  r.program = st.text(1);
  r.number = static_cast<int>(st.integer(2));
  r.time = st.text(3);
  r.port = static_cast<int>(st.integer(4));
  r.machine = st.text(5);
  r.origin = st.text(6);
  r.note = st.text(7);
  r.size = st.integer(8);
  r.blob = st.integer(9);
  r.pending = st.integer(10) != 0;
  return r;
}

// The history's revisions must survive a power cut before the program they save is
// replaced; every other write of the journal may lose its last moments.
class FullSync {
 public:
  explicit FullSync(Db& db) : db_(db) { db_.exec("PRAGMA synchronous = FULL"); }
  ~FullSync() {
    try {
      db_.exec("PRAGMA synchronous = NORMAL");
    } catch (const SqlError&) {
      // Stays FULL: slower, never less safe.
    }
  }
  FullSync(const FullSync&) = delete;
  FullSync& operator=(const FullSync&) = delete;

 private:
  Db& db_;
};

}  // namespace

std::string history_key(const fs::path& program) {
  std::error_code ec;
  const fs::path abs = fs::absolute(program, ec);
  return (ec ? program : abs).lexically_normal().string();
}

std::optional<std::string> read_program_file(const fs::path& file) {
  std::error_code ec;
  if (file.empty() || !fs::is_regular_file(file, ec)) return std::nullopt;
  const auto size = fs::file_size(file, ec);
  if (ec) return std::nullopt;
  if (static_cast<std::int64_t>(size) > kMaxRevisionBytes)
    throw TooLargeForHistory(file.string() + " is larger than the history keeps (" +
                             std::to_string(kMaxRevisionBytes >> 20) + " MB)");
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return bytes;
}

std::int64_t ProgramHistory::put_blob(const std::string& bytes) {
  const std::int64_t hash = content_hash(bytes);
  const auto size = static_cast<std::int64_t>(bytes.size());
  Statement find = db_.prepare("SELECT id, data FROM blobs WHERE hash = ?1 AND size = ?2");
  find.bind(1, hash).bind(2, size);
  while (find.step())
    if (find.blob(1) == bytes) return find.integer(0);
  db_.prepare("INSERT INTO blobs(hash, size, data) VALUES(?1, ?2, ?3)")
      .bind(1, hash)
      .bind(2, size)
      .bind_blob(3, bytes)
      .run();
  return db_.last_insert_id();
}

bool ProgramHistory::blob_holds(std::int64_t blob, const std::string& bytes) {
  Statement st = db_.prepare("SELECT size, hash FROM blobs WHERE id = ?1");
  st.bind(1, blob);
  if (!st.step()) return false;
  if (st.integer(0) != static_cast<std::int64_t>(bytes.size()) ||
      st.integer(1) != content_hash(bytes))
    return false;
  Statement data = db_.prepare("SELECT data FROM blobs WHERE id = ?1");
  data.bind(1, blob);
  return data.step() && data.blob(0) == bytes;
}

std::int64_t ProgramHistory::insert(const ProgramChange& c, const std::string& program, int number,
                                    const std::string& time, const std::string& origin,
                                    const std::string& note, const std::string& bytes,
                                    bool pending) {
  const std::int64_t blob = put_blob(bytes);
  db_.prepare(
         "INSERT INTO revisions(program, number, time, port, machine, origin, note, size, blob, "
         "pending) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)")
      .bind(1, program)
      .bind(2, number)
      .bind(3, time)
      .bind(4, c.port)
      .bind(5, c.machine)
      .bind(6, origin)
      .bind(7, note)
      .bind(8, static_cast<std::int64_t>(bytes.size()))
      .bind(9, blob)
      .bind(10, pending ? 1 : 0)
      .run();
  return db_.last_insert_id();
}

void ProgramHistory::drop_revisions(const std::vector<std::int64_t>& ids) {
  Statement blob_of = db_.prepare("SELECT blob FROM revisions WHERE id = ?1");
  Statement drop = db_.prepare("DELETE FROM revisions WHERE id = ?1");
  Statement drop_blob = db_.prepare(
      "DELETE FROM blobs WHERE id = ?1 AND NOT EXISTS (SELECT 1 FROM revisions WHERE blob = ?1)");
  for (std::int64_t id : ids) {
    blob_of.reset();
    blob_of.bind(1, id);
    if (!blob_of.step()) continue;
    const std::int64_t blob = blob_of.integer(0);
    blob_of.reset();
    drop.reset();
    drop.bind(1, id).run();
    drop_blob.reset();
    drop_blob.bind(1, blob).run();
  }
}

std::int64_t ProgramHistory::keep_before_replace(const ProgramChange& c, const std::string& time) {
  const std::optional<std::string> old = read_program_file(c.previous);
  const std::optional<std::string> incoming = read_program_file(c.incoming);
  if (!incoming) throw std::runtime_error("cannot read " + c.incoming.string());
  const std::string program = history_key(c.program);
  // A pending row a kill left for this program is settled first: it may be the content the
  // program holds now.
  settle_pending();

  FullSync full(db_);
  Transaction tx(db_);
  Statement latest = db_.prepare(
      "SELECT blob FROM revisions WHERE program = ?1 AND pending = 0 ORDER BY number DESC "
      "LIMIT 1");
  latest.bind(1, program);
  const bool has_latest = latest.step();
  const std::int64_t latest_blob = has_latest ? latest.integer(0) : 0;
  Statement last = db_.prepare("SELECT coalesce(max(number), 0) FROM revisions WHERE program = ?1");
  last.bind(1, program);
  int number = last.step() ? static_cast<int>(last.integer(0)) + 1 : 1;

  if (old && !(has_latest && blob_holds(latest_blob, *old))) {
    // The old content was never kept, or was changed since (an editor, a copy): it is kept
    // now, as found, from no port.
    ProgramChange found;
    found.program = c.program;
    insert(found, program, number++, time, has_latest ? "changed outside" : "found", "", *old,
           false);
  }
  const std::int64_t id = insert(c, program, number, time, name_of(c.origin), "", *incoming, true);
  tx.commit();
  return id;
}

void ProgramHistory::replace_done(std::int64_t pending, bool replaced) {
  Transaction tx(db_);
  if (replaced) {
    db_.prepare("UPDATE revisions SET pending = 0 WHERE id = ?1").bind(1, pending).run();
  } else {
    drop_revisions({pending});
  }
  tx.commit();
}

void ProgramHistory::keep_discarded(const ProgramChange& c, const fs::path& trash,
                                    const std::string& time) {
  const std::optional<std::string> incoming = read_program_file(c.incoming);
  if (!incoming) return;
  const std::string program = history_key(trash);
  Transaction tx(db_);
  Statement last = db_.prepare("SELECT coalesce(max(number), 0) FROM revisions WHERE program = ?1");
  last.bind(1, program);
  const int number = last.step() ? static_cast<int>(last.integer(0)) + 1 : 1;
  insert(c, program, number, time, "discarded " + std::string(name_of(c.origin)),
         "meant for " + history_key(c.program), *incoming, false);
  tx.commit();
}

int ProgramHistory::settle_pending() {
  std::vector<Revision> pending;
  {
    Statement st = db_.prepare(std::string(kColumns) + "WHERE pending = 1");
    while (st.step()) pending.push_back(revision_of(st));
  }
  if (pending.empty()) return 0;
  Transaction tx(db_);
  for (const Revision& r : pending) {
    if (visible(r)) {
      db_.prepare("UPDATE revisions SET pending = 0 WHERE id = ?1").bind(1, r.id).run();
    } else {
      drop_revisions({r.id});
    }
  }
  tx.commit();
  return static_cast<int>(pending.size());
}

int ProgramHistory::prune_program(const std::string& program, int keep) {
  std::vector<std::int64_t> ids;
  {
    Statement st = db_.prepare(
        "SELECT id FROM revisions WHERE program = ?1 AND pending = 0 ORDER BY number DESC "
        "LIMIT -1 OFFSET ?2");
    st.bind(1, history_key(program)).bind(2, keep < 1 ? 1 : keep);
    while (st.step()) ids.push_back(st.integer(0));
  }
  if (ids.empty()) return 0;
  Transaction tx(db_);
  drop_revisions(ids);
  tx.commit();
  return static_cast<int>(ids.size());
}

std::int64_t ProgramHistory::content_bytes() {
  Statement st = db_.prepare("SELECT total(size) FROM blobs");
  return st.step() ? static_cast<std::int64_t>(st.real(0)) : 0;
}

int ProgramHistory::prune_to_size(std::int64_t bytes) {
  if (content_bytes() <= bytes) return 0;
  int removed = 0;
  Transaction tx(db_);
  // One at a time, oldest first: a revision whose content another one shares frees nothing.
  Statement oldest = db_.prepare(
      "SELECT r.id FROM revisions r WHERE r.pending = 0 AND r.number < "
      "(SELECT max(number) FROM revisions x WHERE x.program = r.program) ORDER BY r.id LIMIT 1");
  while (content_bytes() > bytes) {
    oldest.reset();
    if (!oldest.step()) break;  // only each program's newest revision is left
    const std::int64_t id = oldest.integer(0);
    oldest.reset();
    drop_revisions({id});
    ++removed;
  }
  tx.commit();
  return removed;
}

bool ProgramHistory::visible(const Revision& r) {
  if (!r.pending) return true;
  try {
    const std::optional<std::string> now = read_program_file(r.program);
    return now && blob_holds(r.blob, *now);
  } catch (const std::runtime_error&) {
    return false;
  }
}

std::vector<Revision> ProgramHistory::revisions(const std::string& program) {
  std::vector<Revision> out;
  Statement st = db_.prepare(std::string(kColumns) + "WHERE program = ?1 ORDER BY number DESC");
  st.bind(1, history_key(program));
  while (st.step()) out.push_back(revision_of(st));
  std::erase_if(out, [&](const Revision& r) { return !visible(r); });
  return out;
}

std::vector<Revision> ProgramHistory::recent(int limit) {
  std::vector<Revision> out;
  Statement st = db_.prepare(std::string(kColumns) + "ORDER BY id DESC LIMIT ?1");
  st.bind(1, limit);
  while (st.step()) out.push_back(revision_of(st));
  std::erase_if(out, [&](const Revision& r) { return !visible(r); });
  return out;
}

std::optional<Revision> ProgramHistory::revision(const std::string& program, int number) {
  Statement st = db_.prepare(std::string(kColumns) + "WHERE program = ?1 AND number = ?2");
  st.bind(1, history_key(program)).bind(2, number);
  if (!st.step()) return std::nullopt;
  Revision r = revision_of(st);
  if (!visible(r)) return std::nullopt;
  return r;
}

std::string ProgramHistory::content(const Revision& r) {
  Statement st = db_.prepare("SELECT data FROM blobs WHERE id = ?1");
  st.bind(1, r.blob);
  if (!st.step()) throw SqlError("revision " + std::to_string(r.number) + " has no content", 0);
  return st.blob(0);
}

std::vector<std::string> ProgramHistory::programs() {
  std::vector<std::string> out;
  Statement st =
      db_.prepare("SELECT program FROM revisions GROUP BY program ORDER BY max(id) DESC");
  while (st.step()) out.push_back(st.text(0));
  return out;
}

std::vector<std::string> ProgramHistory::programs_named(const std::string& name) {
  std::vector<std::string> out;
  const std::string wanted = ucase(name);
  Statement st = db_.prepare("SELECT DISTINCT program FROM revisions ORDER BY program");
  while (st.step()) {
    const std::string program = st.text(0);
    if (ucase(fs::path(program).filename().string()) == wanted) out.push_back(program);
  }
  return out;
}

}  // namespace shoplink
