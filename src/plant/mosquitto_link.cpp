#include "plant/mosquitto_link.hpp"

#include <fcntl.h>
#include <mosquitto.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "base/io_loop.hpp"

namespace shoplink {

namespace {

std::string reason_of(int rc, int error) {
  if (rc == MOSQ_ERR_ERRNO) return error ? std::strerror(error) : "connection failed";
  if (rc == MOSQ_ERR_CONN_LOST || rc == MOSQ_ERR_NO_CONN) return "connection lost";
  return mosquitto_strerror(rc);
}

}  // namespace

MosquittoLink::MosquittoLink(IoLoop& loop, PlantSettings settings, std::string will_topic,
                             std::string will_payload)
    : loop_(loop),
      settings_(std::move(settings)),
      will_topic_(std::move(will_topic)),
      will_payload_(std::move(will_payload)),
      alive_(std::make_shared<MosquittoLink*>(this)) {
  static std::once_flag init;
  std::call_once(init, [] { mosquitto_lib_init(); });
  null_fd_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (null_fd_ >= 0) watched_fd_ = ::fcntl(null_fd_, F_DUPFD_CLOEXEC, 0);
  if (watched_fd_ >= 0)
    watch_ = loop_.add_watch(watched_fd_, 0, [this](short revents) { on_io(revents); });
  keep_alive();
}

MosquittoLink::~MosquittoLink() {
  *alive_ = nullptr;
  close();
  if (watch_ >= 0) loop_.remove_watch(watch_);
  for (int fd : {watched_fd_, null_fd_})
    if (fd >= 0) ::close(fd);
}

void MosquittoLink::on_io(short revents) {
  if (!mosq_) return;
  int rc = MOSQ_ERR_SUCCESS;
  if (revents & (POLLIN | POLLHUP | POLLERR)) rc = mosquitto_loop_read(mosq_, 1);
  if (rc == MOSQ_ERR_SUCCESS && mosq_ && (revents & POLLOUT)) rc = mosquitto_loop_write(mosq_, 1);
  settle(rc);
}

void MosquittoLink::connect() {
  close();
  ++attempt_;
  refused_.clear();
  const std::string id = "shoplink-" + settings_.station;
  mosq_ = mosquitto_new(id.c_str(), true, this);
  if (!mosq_) {
    fail("cannot make an MQTT client");
    return;
  }
  mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
  mosquitto_int_option(mosq_, MOSQ_OPT_TCP_NODELAY, 1);
  mosquitto_connect_callback_set(mosq_, &MosquittoLink::on_connect);
  mosquitto_disconnect_callback_set(mosq_, &MosquittoLink::on_disconnect);
  mosquitto_publish_callback_set(mosq_, &MosquittoLink::on_publish);
  int rc = mosquitto_will_set(mosq_, will_topic_.c_str(), static_cast<int>(will_payload_.size()),
                              will_payload_.data(), 1, true);
  if (rc == MOSQ_ERR_SUCCESS && !settings_.user.empty())
    rc = mosquitto_username_pw_set(
        mosq_, settings_.user.c_str(),
        settings_.password.empty() ? nullptr : settings_.password.c_str());
  if (rc == MOSQ_ERR_SUCCESS && settings_.broker.tls) {
    // Without MQTT_CA the system's certificate authorities (Debian's hashed folder).
    rc = mosquitto_tls_set(mosq_, settings_.ca_file.empty() ? nullptr : settings_.ca_file.c_str(),
                           settings_.ca_file.empty() ? "/etc/ssl/certs" : nullptr, nullptr, nullptr,
                           nullptr);
  }
  if (rc != MOSQ_ERR_SUCCESS) {
    fail(reason_of(rc, errno));
    return;
  }
  // Resolves the name (a blocking look-up, short for an address or a name in /etc/hosts)
  // and starts a non-blocking connection; CONNECT waits in libmosquitto's queue until the
  // socket is writable.
  rc = mosquitto_connect_async(mosq_, settings_.broker.host.c_str(), settings_.broker.port,
                               kKeepAliveSeconds);
  const int error = errno;
  if (rc != MOSQ_ERR_SUCCESS) {
    fail(rc == MOSQ_ERR_EAI ? "cannot resolve " + settings_.broker.host : reason_of(rc, error));
    return;
  }
  fd_ = mosquitto_socket(mosq_);
  if (fd_ < 0 || watch_ < 0 || ::dup3(fd_, watched_fd_, O_CLOEXEC) < 0) {
    fail(watch_ < 0 ? "cannot watch the connection" : std::strerror(errno));
    return;
  }
  watch_events();
  std::weak_ptr<MosquittoLink*> alive = alive_;
  const int attempt = attempt_;
  loop_.post_after(kConnectWait, [alive, attempt] {
    const auto self = alive.lock();
    if (!self || !*self) return;
    MosquittoLink* link = *self;
    if (link->attempt_ == attempt && link->mosq_ && !link->connected_)
      link->fail(
          "no answer within " +
          std::to_string(std::chrono::duration_cast<std::chrono::seconds>(kConnectWait).count()) +
          " s");
  });
}

void MosquittoLink::on_connect(mosquitto*, void* self, int rc) {
  auto* link = static_cast<MosquittoLink*>(self);
  if (rc != 0) {
    // The broker said no (bad login, not authorised): it closes; settle() reports it.
    link->refused_ = std::string("refused by the broker: ") + mosquitto_connack_string(rc);
    return;
  }
  link->connected_ = true;
  if (link->handlers_.connected) link->handlers_.connected();
}

void MosquittoLink::on_disconnect(mosquitto*, void* self, int) {
  auto* link = static_cast<MosquittoLink*>(self);
  if (link->refused_.empty()) link->refused_ = "connection lost";
}

void MosquittoLink::on_publish(mosquitto*, void* self, int mid) {
  auto* link = static_cast<MosquittoLink*>(self);
  if (link->handlers_.acknowledged) link->handlers_.acknowledged(mid);
}

void MosquittoLink::settle(int rc) {
  const int error = errno;
  if (!mosq_) return;
  if (rc != MOSQ_ERR_SUCCESS) {
    fail(!refused_.empty() ? refused_ : reason_of(rc, error));
    return;
  }
  if (!refused_.empty()) {
    fail(refused_);
    return;
  }
  watch_events();
}

void MosquittoLink::watch_events() {
  if (watch_ < 0 || !mosq_) return;
  loop_.set_watch_events(watch_,
                         static_cast<short>(POLLIN | (mosquitto_want_write(mosq_) ? POLLOUT : 0)));
}

void MosquittoLink::fail(const std::string& why) {
  close();
  std::weak_ptr<MosquittoLink*> alive = alive_;
  const int attempt = attempt_;
  loop_.post_after(Duration::zero(), [alive, attempt, why] {
    const auto self = alive.lock();
    if (!self || !*self) return;
    MosquittoLink* link = *self;
    // A newer attempt has begun meanwhile: this one's end is old news.
    if (link->attempt_ == attempt && link->handlers_.lost) link->handlers_.lost(why);
  });
}

void MosquittoLink::close() {
  if (watch_ >= 0) loop_.set_watch_events(watch_, 0);
  // The watched descriptor lets go of the socket, so that closing it below ends the
  // connection.
  if (watched_fd_ >= 0 && null_fd_ >= 0) ::dup3(null_fd_, watched_fd_, O_CLOEXEC);
  fd_ = -1;
  connected_ = false;
  if (mosq_) {
    mosquitto_destroy(mosq_);  // closes the socket
    mosq_ = nullptr;
  }
}

void MosquittoLink::keep_alive() {
  if (mosq_) {
    const int rc = mosquitto_loop_misc(mosq_);
    settle(rc);
  }
  std::weak_ptr<MosquittoLink*> alive = alive_;
  loop_.post_after(std::chrono::seconds(1), [alive] {
    const auto self = alive.lock();
    if (self && *self) (*self)->keep_alive();
  });
}

int MosquittoLink::publish(const std::string& topic, const std::string& payload, int qos,
                           bool retain) {
  if (!mosq_ || !connected_) return -1;
  int mid = 0;
  const int rc = mosquitto_publish(mosq_, &mid, topic.c_str(), static_cast<int>(payload.size()),
                                   payload.data(), qos, retain);
  if (rc != MOSQ_ERR_SUCCESS) {
    // A message the broker would never take (a topic that is not UTF-8, too long) is the
    // message's fault; anything else is the connection's.
    if (rc == MOSQ_ERR_MALFORMED_UTF8 || rc == MOSQ_ERR_PAYLOAD_SIZE || rc == MOSQ_ERR_INVAL)
      return -1;
    fail(reason_of(rc, errno));
    return -1;
  }
  watch_events();
  return mid;
}

void MosquittoLink::disconnect() {
  if (mosq_ && connected_) {
    mosquitto_disconnect(mosq_);
    // What is queued (the last messages, the goodbye) gets a moment to leave; the station is
    // stopping, so a short wait on the socket holds up nothing.
    const TimePoint until = loop_.now() + kGoodbyeWait;
    while (mosq_ && mosquitto_want_write(mosq_) && loop_.now() < until) {
      pollfd p{fd_, POLLOUT, 0};
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(until - loop_.now()).count();
      if (::poll(&p, 1, static_cast<int>(left)) <= 0) break;
      if (mosquitto_loop_write(mosq_, 1) != MOSQ_ERR_SUCCESS) break;
    }
  }
  ++attempt_;
  close();
}

}  // namespace shoplink
