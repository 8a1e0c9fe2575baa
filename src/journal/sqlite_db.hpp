#pragma once
// A thin owner of one SQLite connection and its statements. Failures throw SqlError; the
// journal catches them at its edge, so none reaches the station's loop.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace shoplink {

class SqlError : public std::runtime_error {
 public:
  SqlError(const std::string& what, int code) : std::runtime_error(what), code_(code) {}
  int code() const { return code_; }
  // Another connection holds the database (SQLITE_BUSY or SQLITE_LOCKED).
  bool busy() const;

 private:
  int code_;
};

class Statement;

class Db {
 public:
  // Query: an existing database, opened for writing only so that SQLite may recover its
  // write-ahead log after a writer was killed; the connection itself writes nothing.
  enum class Access { ReadOnly, Query, ReadWrite };
  Db(const std::filesystem::path& file, Access access);
  ~Db();
  Db(const Db&) = delete;
  Db& operator=(const Db&) = delete;

  void exec(std::string_view sql);
  Statement prepare(std::string_view sql);
  std::int64_t last_insert_id() const;
  int changes() const;
  void busy_timeout(int ms);
  // An integer pragma (user_version, page_count ...).
  std::int64_t pragma_int(std::string_view name);
  sqlite3* handle() const { return db_; }
  [[noreturn]] void fail(std::string_view what, int code) const;

 private:
  sqlite3* db_ = nullptr;
};

class Statement {
 public:
  Statement(Db& db, sqlite3_stmt* stmt) : db_(&db), stmt_(stmt) {}
  ~Statement();
  Statement(Statement&& o) noexcept : db_(o.db_), stmt_(o.stmt_) { o.stmt_ = nullptr; }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  // Parameters are 1-based, as in SQL's ?1, ?2 ...
  Statement& bind(int i, std::int64_t v);
  Statement& bind(int i, int v) { return bind(i, static_cast<std::int64_t>(v)); }
  Statement& bind(int i, double v);
  Statement& bind(int i, std::string_view text);
  Statement& bind(int i, const char* text) { return bind(i, std::string_view(text)); }
  Statement& bind(int i, const std::string& text) { return bind(i, std::string_view(text)); }
  Statement& bind_blob(int i, std::string_view bytes);
  Statement& bind_null(int i);

  // True while a row is there to read; false when done.
  bool step();
  // Runs a statement that returns no rows.
  void run();
  void reset();

  std::int64_t integer(int col) const;
  double real(int col) const;
  std::string text(int col) const;
  std::string blob(int col) const;
  bool is_null(int col) const;

 private:
  Db* db_;
  sqlite3_stmt* stmt_;
};

// BEGIN IMMEDIATE ... COMMIT, rolled back when left by an exception.
class Transaction {
 public:
  explicit Transaction(Db& db);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  void commit();

 private:
  Db& db_;
  bool done_ = false;
};

}  // namespace shoplink
