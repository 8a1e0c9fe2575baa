// The plant publisher on the simulated shop on virtual time, its broker a scripted link that
// is up or down as a test says and acknowledges when told: the outbox in the journal goes out
// in order and once acknowledged is gone, survives a kill, is bounded and tells its drop;
// a port's state goes at most once a second; the reconnection waits double up to a minute.
#include "plant/plant_publisher.hpp"

#include <gtest/gtest.h>

#include <regex>

#include "journal/journal.hpp"
#include "support/station_fixture.hpp"

namespace shoplink {
namespace {

using testing::StationFixture;

struct ScriptedLink : BrokerLink {
  struct Sent {
    std::string topic, payload;
    bool retain = false;
    int mid = 0;
    TimePoint at;
  };
  explicit ScriptedLink(EventLoop& l) : loop(l) {}
  void set_handlers(Handlers handlers) override { h = std::move(handlers); }
  void connect() override {
    attempts.push_back(loop.now());
    std::weak_ptr<bool> alive = alive_;
    loop.post_after(millis(5), [this, alive] {
      if (alive.expired()) return;
      connected = broker_up;
      if (broker_up)
        h.connected();
      else
        h.lost("connection refused");
    });
  }
  int publish(const std::string& topic, const std::string& payload, int, bool retain) override {
    if (!connected) return -1;
    sent.push_back({topic, payload, retain, next_mid, loop.now()});
    return next_mid++;
  }
  void disconnect() override { connected = false; }
  bool is_connected() const override { return connected; }
  void drop() {
    connected = false;
    h.lost("connection lost");
  }
  void ack(int mid) { h.acknowledged(mid); }

  EventLoop& loop;
  Handlers h;
  bool broker_up = false, connected = false;
  int next_mid = 1;
  std::vector<Sent> sent;
  std::vector<TimePoint> attempts;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

PlantSettings settings() {
  PlantSettings p;
  p.url = "mqtt://192.0.2.1:1883";
  p.broker = {"192.0.2.1", 1883, false};
  p.station = "cell4";
  p.topic = "shoplink/cell4";
  return p;
}

// "seq topic text" of each outbox message sent (events, transfers, line), in order.
std::vector<std::string> outbox_sent(const ScriptedLink& l) {
  static const std::regex seq("\"seq\":([0-9]+)");
  static const std::regex what("\"(event|state|dropped)\":(\"[^\"]*\"|[0-9]+)");
  std::vector<std::string> out;
  for (const auto& m : l.sent) {
    std::smatch s, w;
    if (!std::regex_search(m.payload, s, seq)) continue;
    std::regex_search(m.payload, w, what);
    out.push_back(s[1].str() + " " + m.topic.substr(15) + " " + w[2].str());
  }
  return out;
}

struct Plant {
  explicit Plant(std::int64_t limit = kOutboxLimit) {
    make(limit);
    f.start();
  }
  void make(std::int64_t limit) {
    auto l = std::make_unique<ScriptedLink>(f.loop);
    link = l.get();
    publisher = std::make_unique<PlantPublisher>(f.s(), settings(), std::move(l), &journal,
                                                 &snapshot, limit);
  }
  // Machine 3 reports `command` (S, F, D...); waits until the station has recorded it.
  void event(const std::string& command) {
    const int before = events;
    f.shop.machine(3).send_command(command);
    ASSERT_TRUE(f.run_until([&] { return events > before; }, 10000));
    f.advance_ms(2000);  // the station settles after an event
  }
  long logged_starting(const std::string& start) const {
    const auto log = f.log_messages();
    return std::count_if(log.begin(), log.end(),
                         [&](const std::string& m) { return m.starts_with(start); });
  }
  void up() {
    link->broker_up = true;
    f.advance_ms(61000);  // the longest wait for the next attempt
  }
  struct Count : StationEvents {
    int* n;
    explicit Count(int* c) : n(c) {}
    void activity_recorded(const ActivityRecord&) override { ++*n; }
  };
  StationFixture f;
  Journal journal{f.s(), JournalSettings{}};
  SnapshotPublisher snapshot{f.s()};
  int events = 0;
  Count count{&events};
  ScriptedLink* link = nullptr;
  std::unique_ptr<PlantPublisher> publisher;
  bool added = [this] {
    f.s().events.add(&snapshot);
    f.s().events.add(&count);
    return true;
  }();
};

TEST(PlantPublisher, TheOutboxGoesInOrderSurvivesAKillAndEndsOnlyWhenAcknowledged) {
  Plant p;
  p.event("S");
  p.event("F");
  p.event("D12.5");
  EXPECT_TRUE(p.link->sent.empty());
  EXPECT_EQ(p.publisher->outbox().size(), 4);  // the line's opening, then the three events

  // Killed before the broker came back: the next run finds them in the journal.
  p.make(kOutboxLimit);
  p.publisher->station_started(p.f.clock.local_now());
  p.link->broker_up = true;
  p.f.advance_ms(100);
  const std::vector<std::string> first = {"1 line \"opened\"", "2 port/3/event \"cycle start\"",
                                          "3 port/3/event \"cycle finish\"",
                                          "4 port/3/event \"probed dimension\""};
  EXPECT_EQ(outbox_sent(*p.link), first);
  EXPECT_EQ(p.link->sent.front().topic, "shoplink/cell4/status");
  EXPECT_TRUE(p.link->sent.front().retain);

  // Two acknowledged, then the connection breaks: the other two go again, same numbers.
  for (const auto& m : p.link->sent)
    if (m.payload.find("\"seq\":1,") != std::string::npos ||
        m.payload.find("\"seq\":2,") != std::string::npos)
      p.link->ack(m.mid);
  EXPECT_EQ(p.publisher->outbox().size(), 2);
  p.link->sent.clear();
  p.link->drop();
  p.f.advance_ms(1100);
  EXPECT_EQ(outbox_sent(*p.link), std::vector<std::string>(first.begin() + 2, first.end()));
  for (const auto& m : p.link->sent) p.link->ack(m.mid);
  EXPECT_EQ(p.publisher->outbox().size(), 0);

  // While connected, an event goes at once, numbered on.
  p.link->sent.clear();
  p.event("S");
  EXPECT_EQ(outbox_sent(*p.link), std::vector<std::string>{"5 port/3/event \"cycle start\""});
}

TEST(PlantPublisher, AFullOutboxDropsTheOldestAndTellsItOnceTheBrokerIsBack) {
  Plant p(3);
  for (const char* e : {"S", "F", "S", "F"}) p.event(e);
  EXPECT_EQ(p.publisher->outbox().size(), 3);
  EXPECT_EQ(p.logged_starting("Plant: the outbox"), 1);
  p.up();
  EXPECT_EQ(
      outbox_sent(*p.link),
      (std::vector<std::string>{"3 port/3/event \"cycle finish\"", "4 port/3/event \"cycle start\"",
                                "5 port/3/event \"cycle finish\"", "6 outbox 2"}));
  EXPECT_NE(p.link->sent.back().payload.find("\"first_seq\":1,\"last_seq\":2"), std::string::npos);
  const std::string& told = p.link->sent.back().payload;
  std::string since = told.substr(told.find("\"since\":\"") + 9, 19);
  EXPECT_EQ(since[10], 'T');
  since[10] = ' ';
  EXPECT_TRUE(p.f.logged(
      "Plant: 2 messages (numbers 1 to 2) were dropped from the full outbox since " + since));
}

TEST(PlantPublisher, APortsStateGoesAtMostOnceASecondAndEndsWithTheNewestPicture) {
  Plant p;
  p.up();
  std::string program = "%\r\nO1234\r\n";
  while (program.size() < 4000) program += "N1 G1 X1. Y1.\r\n";
  p.f.write_file("O1234", program + "M30\r\n%\r\n");
  sim::Machine& mill = p.f.shop.machine(3);
  sim::MachineConfig c = mill.config();
  c.xon_after_command = millis(1500);
  mill.configure(c);
  p.link->sent.clear();
  mill.send_command("TO1234");
  ASSERT_TRUE(p.f.run_until([&] { return mill.programs().size() == 1; }, 30000));
  p.f.advance_ms(3000);
  std::vector<const ScriptedLink::Sent*> states;
  for (const auto& m : p.link->sent)
    if (m.topic == "shoplink/cell4/port/3/state") states.push_back(&m);
  ASSERT_GE(states.size(), 4u);  // waiting, sending with its progress, idle
  for (std::size_t i = 1; i < states.size(); ++i)
    EXPECT_GE(states[i]->at - states[i - 1]->at, std::chrono::seconds(1)) << i;
  EXPECT_NE(states.back()->payload.find("\"state\":\"idle\""), std::string::npos);
  EXPECT_NE(states.back()->payload.find("\"result\":\"transmitted\""), std::string::npos);
  EXPECT_TRUE(states.back()->retain);
}

TEST(PlantPublisher, TheWaitsBetweenAttemptsDoubleToAMinute) {
  Plant p;
  p.f.advance_ms(200000);
  std::vector<std::int64_t> waits;
  for (std::size_t i = 1; i < p.link->attempts.size(); ++i)
    waits.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(p.link->attempts[i] -
                                                                          p.link->attempts[i - 1])
                        .count() /
                    1000);
  EXPECT_EQ(std::vector<std::int64_t>(waits.begin(), waits.begin() + 8),
            (std::vector<std::int64_t>{1, 2, 4, 8, 16, 32, 60, 60}));
  EXPECT_EQ(p.logged_starting("Plant: broker"), 1);
}

}  // namespace
}  // namespace shoplink
