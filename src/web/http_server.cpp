#include "web/http_server.hpp"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

namespace shoplink {

namespace {

using Steady = std::chrono::steady_clock;

// Per worker thread: the connection it serves now.
thread_local bool t_reject = false;
thread_local bool t_close_after = false;
thread_local bool t_too_large = false;
thread_local bool t_too_slow = false;

// A short answer of its own, where httplib has none to give; sent once, never waited for.
void answer(int sock, const char* status, const std::string& text) {
  const std::string r = std::string("HTTP/1.1 ") + status +
                        "\r\nContent-Type: text/plain; charset=utf-8\r\nConnection: close\r\n" +
                        (std::strncmp(status, "503", 3) == 0 ? "Retry-After: 5\r\n" : "") +
                        "Content-Length: " + std::to_string(text.size()) + "\r\n\r\n" + text;
  [[maybe_unused]] const auto n = ::send(sock, r.data(), r.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

int ms_until(Steady::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Steady::now());
  return left.count() <= 0 ? 0 : static_cast<int>(std::min<long long>(left.count(), 1 << 30));
}

void address_of(const sockaddr_storage& a, socklen_t len, std::string& ip, int& port) {
  char host[NI_MAXHOST] = {};
  char serv[NI_MAXSERV] = {};
  if (::getnameinfo(reinterpret_cast<const sockaddr*>(&a), len, host, sizeof host, serv,
                    sizeof serv, NI_NUMERICHOST | NI_NUMERICSERV) == 0) {
    ip = host;
    port = std::atoi(serv);
  }
}

}  // namespace

// The workers: a thread per connection, made when none is free, at most the connection
// limit; a connection beyond it is answered on the accepting thread at once.
class HttpServer::Workers final : public httplib::TaskQueue {
 public:
  explicit Workers(HttpServer& server) : server_(server) {}
  ~Workers() override { shutdown(); }

  void enqueue(std::function<void()> fn) override {
    {
      std::lock_guard lock(mutex_);
      if (!done_ && server_.open_.load() < server_.limits_.connections) {
        ++server_.open_;
        jobs_.push_back(std::move(fn));
        if (idle_ < jobs_.size()) {
          threads_.emplace_back([this] { work(); });
        } else {
          ready_.notify_one();
        }
        return;
      }
    }
    t_reject = true;
    fn();
    t_reject = false;
  }

  void shutdown() override {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    ready_.notify_all();
    for (auto& t : threads_)
      if (t.joinable()) t.join();
    threads_.clear();
  }

 private:
  void work() {
    for (;;) {
      std::function<void()> job;
      {
        std::unique_lock lock(mutex_);
        ++idle_;
        ready_.wait(lock, [&] { return done_ || !jobs_.empty(); });
        --idle_;
        if (jobs_.empty()) return;
        job = std::move(jobs_.front());
        jobs_.pop_front();
      }
      try {
        job();
      } catch (...) {
        // The connection is gone either way; the worker stays for the next one.
      }
      --server_.open_;
    }
  }

  HttpServer& server_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::function<void()>> jobs_;
  std::vector<std::thread> threads_;
  std::size_t idle_ = 0;
  bool done_ = false;
};

// One client's connection as httplib reads and writes it: buffered reads that count the
// request's bytes against its limit and its time against its deadline; writes that give up
// on a client that takes nothing.
class HttpServer::Connection final : public httplib::Stream {
 public:
  Connection(int sock, const HttpServer& server) : sock_(sock), server_(server) {}

  // Waits for the next request's first byte for at most `idle`; false when none came, the
  // client closed or the server stops.
  bool await_request(std::chrono::milliseconds idle) {
    if (off_ < len_) return true;
    const int r = wait(POLLIN, Steady::now() + idle);
    if (r <= 0) return false;
    char byte = 0;
    return ::recv(sock_, &byte, 1, MSG_PEEK | MSG_DONTWAIT) > 0;
  }

  void begin_request() {
    request_bytes_ = 0;
    deadline_ = Steady::now() + server_.limits_.request_time;
    t_too_large = t_too_slow = t_close_after = false;
  }

  bool is_readable() const override { return off_ < len_ || wait(POLLIN, Steady::now()) > 0; }

  bool is_writable() const override {
    if (wait(POLLOUT, Steady::now() + server_.limits_.write_stall) <= 0) return false;
    // Readable while a response goes out: the client has closed (or talks out of turn).
    pollfd p{sock_, POLLIN, 0};
    if (::poll(&p, 1, 0) == 1 && (p.revents & (POLLIN | POLLHUP | POLLERR))) {
      char byte = 0;
      if (::recv(sock_, &byte, 1, MSG_PEEK | MSG_DONTWAIT) <= 0) return false;
    }
    return true;
  }

  ssize_t read(char* ptr, size_t size) override {
    if (off_ == len_) {
      if (t_too_large || t_too_slow) return -1;
      const int r = wait(POLLIN, deadline_);
      if (r == 0 && !server_.stopping()) t_too_slow = true;
      if (r <= 0) return -1;
      const ssize_t n = ::recv(sock_, buffer_, sizeof buffer_, MSG_DONTWAIT);
      if (n <= 0) return n;
      off_ = 0;
      len_ = static_cast<std::size_t>(n);
    }
    const std::size_t n = std::min(size, len_ - off_);
    if (request_bytes_ + n > server_.limits_.request_bytes) {
      t_too_large = true;
      return -1;
    }
    std::memcpy(ptr, buffer_ + off_, n);
    off_ += n;
    request_bytes_ += n;
    return static_cast<ssize_t>(n);
  }

  ssize_t write(const char* ptr, size_t size) override {
    if (wait(POLLOUT, Steady::now() + server_.limits_.write_stall) <= 0) return -1;
    const ssize_t n = ::send(sock_, ptr, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
    return n;
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    sockaddr_storage a{};
    socklen_t len = sizeof a;
    if (::getpeername(sock_, reinterpret_cast<sockaddr*>(&a), &len) == 0)
      address_of(a, len, ip, port);
  }

  void get_local_ip_and_port(std::string& ip, int& port) const override {
    sockaddr_storage a{};
    socklen_t len = sizeof a;
    if (::getsockname(sock_, reinterpret_cast<sockaddr*>(&a), &len) == 0)
      address_of(a, len, ip, port);
  }

  socket_t socket() const override { return sock_; }

 private:
  // poll() on the connection and the stop pipe until `deadline`: 1 when the connection is
  // ready, 0 on time-out, -1 when the server stops or the wait failed.
  int wait(short events, Steady::time_point deadline) const {
    for (;;) {
      pollfd p[2] = {{sock_, events, 0}, {server_.stop_fd(), POLLIN, 0}};
      const int r = ::poll(p, 2, ms_until(deadline));
      if (r < 0 && errno == EINTR) continue;
      if (r < 0 || p[1].revents) return -1;
      if (r == 0) return 0;
      if (p[0].revents & (POLLERR | POLLNVAL)) return -1;
      return 1;
    }
  }

  int sock_;
  const HttpServer& server_;
  char buffer_[4096];
  std::size_t off_ = 0, len_ = 0;
  std::size_t request_bytes_ = 0;
  Steady::time_point deadline_{};
};

HttpServer::HttpServer(HttpLimits limits) : limits_(limits) {
  if (::pipe2(stop_pipe_, O_CLOEXEC | O_NONBLOCK) != 0) stop_pipe_[0] = stop_pipe_[1] = -1;
  new_task_queue = [this] { return new Workers(*this); };
  // Not httplib's default, which also sets SO_REUSEPORT: a second station told to use the
  // same port would share it with this one and get half its requests, instead of failing.
  set_socket_options([](socket_t sock) {
    int yes = 1;
    ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  set_keep_alive_max_count(static_cast<std::size_t>(limits_.requests_per_connection));
  set_payload_max_length(limits_.request_bytes);
}

HttpServer::~HttpServer() {
  stop();
  for (int fd : stop_pipe_)
    if (fd >= 0) ::close(fd);
}

int HttpServer::bind(const std::string& address, int port, std::string* why) {
  if (stop_pipe_[0] < 0) {
    if (why) *why = std::string("no pipe: ") + std::strerror(errno);
    return -1;
  }
  errno = 0;
  const int bound =
      port == 0 ? bind_to_any_port(address) : (bind_to_port(address, port) ? port : -1);
  if (bound < 0) {
    if (why) *why = errno ? std::strerror(errno) : "the address cannot be used";
    return -1;
  }
  listen_fd_ = svr_sock_;
  return bound;
}

void HttpServer::start() {
  if (listen_fd_ < 0 || thread_.joinable()) return;
  thread_ = std::thread([this] { listen_after_bind(); });
}

void HttpServer::stop() {
  if (!stopping_.exchange(true) && stop_pipe_[1] >= 0) {
    const char byte = 's';
    [[maybe_unused]] const auto n = ::write(stop_pipe_[1], &byte, 1);
  }
  // Shut down, not closed, until the accepting thread has ended: its accept() returns at
  // once, and the descriptor's number cannot go to another file meanwhile.
  const socket_t fd = svr_sock_.exchange(INVALID_SOCKET);
  if (fd != INVALID_SOCKET) ::shutdown(fd, SHUT_RDWR);
  if (thread_.joinable()) thread_.join();
  if (listen_fd_ >= 0) {
    ::close(listen_fd_);
    listen_fd_ = -1;
  }
}

void HttpServer::close_after_response() {
  t_close_after = true;
}

bool HttpServer::request_too_large() {
  return t_too_large;
}

bool HttpServer::request_too_slow() {
  return t_too_slow;
}

void HttpServer::reject(socket_t sock) {
  answer(sock, "503 Service Unavailable",
         "The station's status page has as many connections as it takes; try again.\n");
  ::shutdown(sock, SHUT_WR);
  // What the client sent meanwhile, so that the close does not reset the connection
  // before it has read the answer.
  char drain[1024];
  while (::recv(sock, drain, sizeof drain, MSG_DONTWAIT) > 0) {
  }
  ::close(sock);
}

bool HttpServer::process_and_close_socket(socket_t sock) {
  if (t_reject) {
    reject(sock);
    return false;
  }
  bool ret = false;
  {
    Connection c(sock, *this);
    for (int n = 1; n <= limits_.requests_per_connection && !stopping(); ++n) {
      if (!c.await_request(limits_.idle)) break;
      c.begin_request();
      bool closed = false;
      ret = process_request(c, n == limits_.requests_per_connection, closed, nullptr);
      // A request line that did not arrive whole gets no answer from httplib: this one.
      if (!ret && t_too_large)
        answer(sock, "431 Request Header Fields Too Large", "The request is too large.\n");
      if (!ret && t_too_slow) answer(sock, "408 Request Timeout", "The request came too slowly.\n");
      if (!ret || closed || t_close_after || t_too_large || t_too_slow) break;
    }
  }
  ::shutdown(sock, SHUT_RDWR);
  ::close(sock);
  return ret;
}

}  // namespace shoplink
