#include "journal/sqlite_db.hpp"

#include <sqlite3.h>

namespace shoplink {

bool SqlError::busy() const {
  const int primary = code_ & 0xff;
  return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

Db::Db(const std::filesystem::path& file, Access access) {
  const int flags = access == Access::ReadOnly ? SQLITE_OPEN_READONLY
                    : access == Access::Query  ? SQLITE_OPEN_READWRITE
                                               : (SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  // NOMUTEX: each connection is used by one thread only.
  const int rc = sqlite3_open_v2(file.c_str(), &db_, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    const std::string why = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    sqlite3_close(db_);
    db_ = nullptr;
    throw SqlError(file.string() + ": " + why, rc);
  }
  sqlite3_extended_result_codes(db_, 1);
  if (access == Access::Query) exec("PRAGMA query_only = 1");
}

Db::~Db() {
  sqlite3_close_v2(db_);
}

void Db::fail(std::string_view what, int code) const {
  throw SqlError(std::string(what) + ": " + sqlite3_errmsg(db_), code);
}

void Db::exec(std::string_view sql) {
  const std::string text(sql);
  char* message = nullptr;
  const int rc = sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &message);
  if (rc != SQLITE_OK) {
    const std::string why = message ? message : sqlite3_errstr(rc);
    sqlite3_free(message);
    throw SqlError(why, rc);
  }
}

Statement Db::prepare(std::string_view sql) {
  sqlite3_stmt* stmt = nullptr;
  const int rc = sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &stmt, nullptr);
  if (rc != SQLITE_OK) fail("prepare", rc);
  return Statement(*this, stmt);
}

std::int64_t Db::last_insert_id() const {
  return sqlite3_last_insert_rowid(db_);
}

int Db::changes() const {
  return sqlite3_changes(db_);
}

void Db::busy_timeout(int ms) {
  sqlite3_busy_timeout(db_, ms);
}

std::int64_t Db::pragma_int(std::string_view name) {
  Statement st = prepare("PRAGMA " + std::string(name));
  return st.step() ? st.integer(0) : 0;
}

Statement::~Statement() {
  sqlite3_finalize(stmt_);
}

Statement& Statement::bind(int i, std::int64_t v) {
  if (int rc = sqlite3_bind_int64(stmt_, i, v); rc != SQLITE_OK) db_->fail("bind", rc);
  return *this;
}

Statement& Statement::bind(int i, double v) {
  if (int rc = sqlite3_bind_double(stmt_, i, v); rc != SQLITE_OK) db_->fail("bind", rc);
  return *this;
}

Statement& Statement::bind(int i, std::string_view text) {
  const int rc =
      sqlite3_bind_text64(stmt_, i, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
  if (rc != SQLITE_OK) db_->fail("bind", rc);
  return *this;
}

Statement& Statement::bind_blob(int i, std::string_view bytes) {
  // A zero-length blob, not NULL: an empty program is still content.
  const int rc = bytes.empty()
                     ? sqlite3_bind_zeroblob(stmt_, i, 0)
                     : sqlite3_bind_blob64(stmt_, i, bytes.data(), bytes.size(), SQLITE_TRANSIENT);
  if (rc != SQLITE_OK) db_->fail("bind", rc);
  return *this;
}

Statement& Statement::bind_null(int i) {
  if (int rc = sqlite3_bind_null(stmt_, i); rc != SQLITE_OK) db_->fail("bind", rc);
  return *this;
}

bool Statement::step() {
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  sqlite3_reset(stmt_);
  db_->fail("step", rc);
}

void Statement::run() {
  while (step()) {
  }
  sqlite3_reset(stmt_);
}

void Statement::reset() {
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

std::int64_t Statement::integer(int col) const {
  return sqlite3_column_int64(stmt_, col);
}

double Statement::real(int col) const {
  return sqlite3_column_double(stmt_, col);
}

std::string Statement::text(int col) const {
  const auto* p = sqlite3_column_text(stmt_, col);
  const int n = sqlite3_column_bytes(stmt_, col);
  return p ? std::string(reinterpret_cast<const char*>(p), static_cast<std::size_t>(n))
           : std::string();
}

std::string Statement::blob(int col) const {
  const void* p = sqlite3_column_blob(stmt_, col);
  const int n = sqlite3_column_bytes(stmt_, col);
  return p ? std::string(static_cast<const char*>(p), static_cast<std::size_t>(n)) : std::string();
}

bool Statement::is_null(int col) const {
  return sqlite3_column_type(stmt_, col) == SQLITE_NULL;
}

Transaction::Transaction(Db& db) : db_(db) {
  db_.exec("BEGIN IMMEDIATE");
}

Transaction::~Transaction() {
  if (done_) return;
  try {
    db_.exec("ROLLBACK");
  } catch (const SqlError&) {
    // Nothing more to undo: SQLite rolled back itself.
  }
}

void Transaction::commit() {
  db_.exec("COMMIT");
  done_ = true;
}

}  // namespace shoplink
