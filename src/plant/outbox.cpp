#include "plant/outbox.hpp"

#include "journal/sqlite_db.hpp"

namespace shoplink {

void Outbox::attach(Db* db) {
  db_ = nullptr;
  count_ = 0;
  drop_.reset();
  if (!db) return;
  Statement count = db->prepare("SELECT count(*) FROM plant_outbox");
  count_ = count.step() ? count.integer(0) : 0;
  Statement drop = db->prepare(
      "SELECT count, first_seq, last_seq, since FROM plant_outbox_dropped WHERE id = 1");
  if (drop.step())
    drop_ = OutboxDrop{drop.integer(0), drop.integer(1), drop.integer(2), drop.text(3)};
  Statement last = db->prepare("SELECT seq FROM sqlite_sequence WHERE name = 'plant_outbox'");
  next_seq_ = (last.step() ? last.integer(0) : 0) + 1;
  db_ = db;
}

std::int64_t Outbox::add(const std::string& topic, const std::string& body, bool retain,
                         const std::string& now, int* dropped, bool bounded) {
  std::int64_t seq = 0;
  int n = 0;
  if (db_ && !memory_only_) {
    // Written with its trim in one step, so that a kill leaves the bound kept.
    const bool full = bounded && count_ >= limit_;
    std::optional<Transaction> tx;
    if (full) tx.emplace(*db_);
    db_->prepare("INSERT INTO plant_outbox(topic, body, retain, created) VALUES(?1, ?2, ?3, ?4)")
        .bind(1, topic)
        .bind(2, body)
        .bind(3, retain ? 1 : 0)
        .bind(4, now)
        .run();
    seq = db_->last_insert_id();
    ++count_;
    if (full) {
      try {
        n = trim(now);
        tx->commit();
      } catch (...) {
        // Rolled back whole: the message is not written either.
        --count_;
        drop_ = std::nullopt;
        Statement d = db_->prepare(
            "SELECT count, first_seq, last_seq, since FROM plant_outbox_dropped WHERE id = 1");
        if (d.step()) drop_ = OutboxDrop{d.integer(0), d.integer(1), d.integer(2), d.text(3)};
        throw;
      }
    }
    next_seq_ = seq + 1;
  } else {
    seq = next_seq_++;
    memory_.push_back({seq, topic, body, retain});
    if (bounded) n = trim(now);
  }
  if (dropped) *dropped = n;
  return seq;
}

int Outbox::trim(const std::string& now) {
  int n = 0;
  std::int64_t first = 0, last = 0;
  while (size() > limit_) {
    std::int64_t seq = 0;
    if (count_ > 0) {
      Statement oldest = db_->prepare("SELECT min(seq) FROM plant_outbox");
      if (!oldest.step() || oldest.is_null(0)) {
        count_ = 0;
        continue;
      }
      seq = oldest.integer(0);
      db_->prepare("DELETE FROM plant_outbox WHERE seq = ?1").bind(1, seq).run();
      --count_;
    } else {
      seq = memory_.front().seq;
      memory_.pop_front();
    }
    if (n == 0) first = seq;
    last = seq;
    ++n;
  }
  if (n > 0) note_drop(first, last, n, now);
  return n;
}

void Outbox::note_drop(std::int64_t first, std::int64_t last, int n, const std::string& now) {
  if (drop_) {
    drop_->count += n;
    drop_->last_seq = last;
  } else {
    drop_ = OutboxDrop{n, first, last, now};
  }
  if (db_ && !memory_only_)
    db_->prepare(
           "INSERT OR REPLACE INTO plant_outbox_dropped(id, count, first_seq, last_seq, since) "
           "VALUES(1, ?1, ?2, ?3, ?4)")
        .bind(1, drop_->count)
        .bind(2, drop_->first_seq)
        .bind(3, drop_->last_seq)
        .bind(4, drop_->since)
        .run();
}

void Outbox::drop_told() {
  drop_.reset();
  if (db_ && !memory_only_) db_->exec("DELETE FROM plant_outbox_dropped");
}

std::vector<OutboxMessage> Outbox::after(std::int64_t after, std::size_t n) {
  std::vector<OutboxMessage> out;
  if (db_ && count_ > 0) {
    Statement st = db_->prepare(
        "SELECT seq, topic, body, retain FROM plant_outbox WHERE seq > ?1 ORDER BY seq LIMIT ?2");
    st.bind(1, after).bind(2, static_cast<std::int64_t>(n));
    while (st.step()) out.push_back({st.integer(0), st.text(1), st.text(2), st.integer(3) != 0});
  }
  for (const OutboxMessage& m : memory_) {
    if (out.size() >= n) break;
    if (m.seq > after) out.push_back(m);
  }
  return out;
}

void Outbox::remove(std::int64_t seq) {
  for (auto it = memory_.begin(); it != memory_.end(); ++it) {
    if (it->seq == seq) {
      memory_.erase(it);
      return;
    }
  }
  if (!db_ || count_ == 0) return;
  db_->prepare("DELETE FROM plant_outbox WHERE seq = ?1").bind(1, seq).run();
  count_ -= db_->changes();
}

}  // namespace shoplink
