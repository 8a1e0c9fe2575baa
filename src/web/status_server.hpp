#pragma once
// The status page: the station seen from a browser on the shop's network (live ports,
// transfers, events, machine activity, program history) and the same as JSON for other
// tools. It runs on threads of its own and never touches the station: it reads the
// snapshots the station publishes (core/station_snapshot.hpp) and the journal through
// connections of its own. It changes nothing: every request is a GET (or HEAD).
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/clock.hpp"
#include "web/http_server.hpp"
#include "web/web_settings.hpp"

namespace shoplink {

class SnapshotPublisher;
class LiveFeed;
class JournalView;

// Live streams open at once (each holds a connection); one more is answered 503.
inline constexpr int kMaxLiveStreams = 8;
// A live stream with nothing new says so this often, so that a closed one is noticed.
inline constexpr std::chrono::milliseconds kLiveHeartbeat{5'000};
// No answer is larger: a page that would be is answered 500 instead of sent.
inline constexpr std::size_t kMaxResponseBytes = 8u << 20;
// Wrong passwords accepted in a minute, from anyone together; beyond it 429 until it passes.
inline constexpr int kPasswordFailuresPerMinute = 10;

struct StatusServerOptions {
  WebSettings settings;
  std::filesystem::path station_dir;
  // Local time now, for "today" (the system's clock when empty).
  std::function<LocalTime()> now;
  HttpLimits limits;
  int live_streams = kMaxLiveStreams;
};

class StatusServer {
 public:
  // On the station's thread: follows `snapshots` from now on (it must outlive the server).
  StatusServer(SnapshotPublisher& snapshots, StatusServerOptions options);
  ~StatusServer();
  StatusServer(const StatusServer&) = delete;
  StatusServer& operator=(const StatusServer&) = delete;

  // Listens and serves; false (with error()) when the address cannot be had.
  bool start();
  void stop();
  int port() const { return port_; }
  // "http://127.0.0.1:8080/"
  std::string url() const;
  const std::string& error() const { return error_; }
  int open_connections() const;

 private:
  struct Handlers;
  StatusServerOptions options_;
  std::shared_ptr<LiveFeed> feed_;
  std::unique_ptr<JournalView> journal_;
  std::unique_ptr<HttpServer> http_;
  std::unique_ptr<Handlers> handlers_;
  int port_ = 0;
  std::string error_;
};

}  // namespace shoplink
