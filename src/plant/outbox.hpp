#pragma once
// The plant publisher's outbox: every event, transfer and line change is written here before
// it goes to the broker and removed only when the broker has acknowledged it, so nothing is
// lost while the broker is away or the station stops. It lives in the journal's database
// (tables plant_outbox and plant_outbox_dropped); when the journal cannot be used it is kept
// in memory for the rest of the run (and lost with it), which is logged.
//
// Bounded: beyond `limit` messages the oldest are dropped, and the drop (how many, which
// sequence numbers, since when) is kept to be told once the broker is back.
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace shoplink {

class Db;

// Messages waiting for the broker, at most; about 25 MB of journal at 250 bytes a message.
inline constexpr std::int64_t kOutboxLimit = 100000;

struct OutboxMessage {
  std::int64_t seq = 0;  // grows with every message, never reused
  std::string topic;
  std::string body;  // JSON object without its sequence number
  bool retain = false;
};

struct OutboxDrop {
  std::int64_t count = 0, first_seq = 0, last_seq = 0;
  std::string since;  // journal time of the first drop
};

class Outbox {
 public:
  explicit Outbox(std::int64_t limit = kOutboxLimit) : limit_(limit) {}

  // Keeps the outbox in `db` (nullptr: in memory). Throws SqlError.
  void attach(Db* db);
  bool in_memory() const { return db_ == nullptr; }
  // After a write to the database failed: the rest of the run keeps new messages in
  // memory; what the database holds still goes first.
  void fall_back_to_memory() { memory_only_ = true; }

  // Writes a message; returns its sequence number. Drops the oldest beyond the limit (the
  // return's `dropped` says how many) unless `bounded` is false (the drop's own notice, which
  // must not push out another). Throws SqlError (nothing written then).
  std::int64_t add(const std::string& topic, const std::string& body, bool retain,
                   const std::string& now, int* dropped = nullptr, bool bounded = true);
  // Up to `n` messages after sequence number `after`, oldest first.
  std::vector<OutboxMessage> after(std::int64_t after, std::size_t n);
  // The broker has it.
  void remove(std::int64_t seq);
  std::int64_t size() const { return count_ + static_cast<std::int64_t>(memory_.size()); }
  std::int64_t limit() const { return limit_; }

  // The drop not yet told, and its removal once it has been put in the outbox as a message.
  std::optional<OutboxDrop> drop() const { return drop_; }
  void drop_told();

 private:
  void note_drop(std::int64_t first, std::int64_t last, int n, const std::string& now);
  int trim(const std::string& now);

  std::int64_t limit_;
  Db* db_ = nullptr;
  bool memory_only_ = false;
  std::int64_t count_ = 0;     // rows in the database
  std::int64_t next_seq_ = 1;  // in memory
  std::deque<OutboxMessage> memory_;
  std::optional<OutboxDrop> drop_;
};

}  // namespace shoplink
