#pragma once
// The status page's HTTP server: Debian's cpp-httplib parses requests and routes them; the
// connections are this file's own, so that no client can hold the server (or anything
// else) up for long, and the server never takes more than its limits:
// - at most kMaxConnections connections at once, each on a worker thread of its own (made
//   as needed, kept); one more is answered 503 at once and closed;
// - a request (its line and headers) of at most kMaxRequestBytes, arriving whole within
//   kRequestTime; a bigger one gets 431, a slower one 408, and the connection closes;
// - between requests a connection stays open kIdleTime, for at most kRequestsPerConnection;
// - a client that takes no data for kWriteStall is dropped (a live stream too).
// Waiting is poll() on the connection and on a stop pipe, so stop() ends every connection
// at once and nothing is polled on a timer.
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <thread>

namespace shoplink {

inline constexpr int kMaxConnections = 32;
inline constexpr std::size_t kMaxRequestBytes = 16 * 1024;
inline constexpr std::chrono::milliseconds kRequestTime{10'000};
inline constexpr std::chrono::milliseconds kIdleTime{5'000};
inline constexpr int kRequestsPerConnection = 100;
inline constexpr std::chrono::milliseconds kWriteStall{10'000};

struct HttpLimits {
  int connections = kMaxConnections;
  std::size_t request_bytes = kMaxRequestBytes;
  std::chrono::milliseconds request_time = kRequestTime;
  std::chrono::milliseconds idle = kIdleTime;
  int requests_per_connection = kRequestsPerConnection;
  std::chrono::milliseconds write_stall = kWriteStall;
};

class HttpServer : public httplib::Server {
 public:
  explicit HttpServer(HttpLimits limits = {});
  ~HttpServer() override;

  // Binds `address`:`port` (0: any free port); the port bound, or -1 with `why` set.
  int bind(const std::string& address, int port, std::string* why);
  // Serves on a thread of its own until stop().
  void start();
  // Ends the listening, every connection and every live stream; returns when all threads
  // have ended. Safe to call more than once.
  void stop();
  bool stopping() const { return stopping_.load(); }
  // A file descriptor that becomes readable when the server stops (for waits of handlers).
  int stop_fd() const { return stop_pipe_[0]; }

  int open_connections() const { return open_.load(); }
  const HttpLimits& limits() const { return limits_; }

  // From a handler: close the connection once this response is out.
  static void close_after_response();
  // From the error handler: why the request failed before it reached a handler.
  static bool request_too_large();
  static bool request_too_slow();

 private:
  class Workers;
  class Connection;
  bool process_and_close_socket(socket_t sock) override;
  void reject(socket_t sock);

  HttpLimits limits_;
  std::atomic<int> open_{0};
  std::atomic<bool> stopping_{false};
  int stop_pipe_[2] = {-1, -1};
  int listen_fd_ = -1;
  std::thread thread_;
};

}  // namespace shoplink
