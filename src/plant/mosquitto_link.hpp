#pragma once
// The broker link on libmosquitto, driven from the station's own loop: the client's socket
// is watched there (reading always, writing while libmosquitto has something queued), and
// mosquitto_loop_read / _write run when it is ready, mosquitto_loop_misc (keep-alive) once a
// second. No thread of its own, and no call that waits on the broker: the connection is
// made without blocking, and a broker that does not answer in kConnectWait is given up.
// Each attempt has a fresh client, so nothing of a broken connection is sent again behind
// the publisher's back: what was not acknowledged is the outbox's to send.
//
// One watch serves every attempt: the loop watches a descriptor of the link's own, onto
// which each attempt's socket is duplicated (and /dev/null between attempts, with the watch
// paused), so that reconnecting through a long outage adds nothing to the loop.
#include <memory>
#include <string>

#include "base/clock.hpp"
#include "plant/broker_link.hpp"
#include "plant/plant_settings.hpp"

struct mosquitto;

namespace shoplink {

class IoLoop;

class MosquittoLink final : public BrokerLink {
 public:
  static constexpr Duration kConnectWait = std::chrono::seconds(10);
  static constexpr int kKeepAliveSeconds = 20;
  // At a clean stop, how long the goodbye may take to leave.
  static constexpr Duration kGoodbyeWait = std::chrono::seconds(1);

  MosquittoLink(IoLoop& loop, PlantSettings settings, std::string will_topic,
                std::string will_payload);
  ~MosquittoLink() override;
  MosquittoLink(const MosquittoLink&) = delete;
  MosquittoLink& operator=(const MosquittoLink&) = delete;

  void set_handlers(Handlers h) override { handlers_ = std::move(h); }
  void connect() override;
  int publish(const std::string& topic, const std::string& payload, int qos, bool retain) override;
  void disconnect() override;
  bool is_connected() const override { return connected_; }

 private:
  static void on_connect(mosquitto*, void* self, int rc);
  static void on_disconnect(mosquitto*, void* self, int rc);
  static void on_publish(mosquitto*, void* self, int mid);

  // After every call into libmosquitto: a failure closes the client and reports it (from
  // the loop, never from inside libmosquitto), else the watch follows what it wants.
  void on_io(short revents);
  void settle(int rc);
  void fail(const std::string& why);
  void close();
  void watch_events();
  void keep_alive();

  IoLoop& loop_;
  PlantSettings settings_;
  std::string will_topic_, will_payload_;
  Handlers handlers_;
  mosquitto* mosq_ = nullptr;
  int fd_ = -1;          // libmosquitto's socket
  int null_fd_ = -1;     // /dev/null, for the watched descriptor between attempts
  int watched_fd_ = -1;  // the descriptor the loop watches
  int watch_ = -1;
  bool connected_ = false;
  std::string refused_;  // the broker's answer when it refused us
  int attempt_ = 0;      // tells a posted check which attempt it was for
  std::shared_ptr<MosquittoLink*> alive_;
};

}  // namespace shoplink
