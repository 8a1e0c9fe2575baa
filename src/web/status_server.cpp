#include "web/status_server.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <deque>
#include <iostream>
#include <mutex>
#include <stdexcept>

#include "base/host_paths.hpp"
#include "base/text.hpp"
#include "core/station_snapshot.hpp"
#include "journal/sqlite_db.hpp"
#include "journal/text_diff.hpp"
#include "web/live_feed.hpp"
#include "web/log_tail.hpp"
#include "web/pages.hpp"
#include "web/static_files.hpp"
#include "web/status_json.hpp"
#include "web/web_text.hpp"

namespace shoplink {

namespace {

using httplib::Request;
using httplib::Response;

struct BadRequest : std::runtime_error {
  using std::runtime_error::runtime_error;
};
struct NotFound : std::runtime_error {
  using std::runtime_error::runtime_error;
};

constexpr const char* kHtml = "text/html; charset=utf-8";
constexpr const char* kJson = "application/json; charset=utf-8";

// Only the station's own style sheet and script; no frames, no forms elsewhere, no plugins.
constexpr const char* kSecurityPolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
    "connect-src 'self'; form-action 'self'; base-uri 'none'; frame-ancestors 'none'";

void replace_header(Response& res, const std::string& name, const std::string& value) {
  res.headers.erase(name);
  res.set_header(name, value);
}

// A request's query, checked: only the names the page knows, each at most once; an empty
// value (a form's unset field) counts as not given.
class Query {
 public:
  Query(const Request& req, std::initializer_list<std::string_view> known) : req_(req) {
    for (const auto& [name, value] : req.params) {
      if (std::find(known.begin(), known.end(), name) == known.end())
        throw BadRequest("unknown parameter \"" + name + "\"");
      if (req.get_param_value_count(name) > 1)
        throw BadRequest("parameter \"" + name + "\" given more than once");
    }
  }

  std::string text(const char* name) const { return req_.get_param_value(name); }

  int number(const char* name, int low, int high, int absent) const {
    const std::string v = text(name);
    if (v.empty()) return absent;
    int n = 0;
    const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
    if (ec != std::errc() || end != v.data() + v.size() || n < low || n > high)
      throw BadRequest(
          fmt::format("{}={}: expected a whole number from {} to {}", name, v, low, high));
    return n;
  }

  int port() const { return number("port", 1, NumPorts, 0); }

  std::string day() const {
    const std::string v = text("day");
    LocalTime t;
    if (!v.empty() && (v.size() != 10 || !parse_time(v, &t)))
      throw BadRequest("day=" + v + ": expected a date as YYYY-MM-DD");
    return v;
  }

  bool flag(const char* name) const {
    const std::string v = text(name);
    if (v.empty() || v == "0") return false;
    if (v == "1" || v == "on") return true;
    throw BadRequest(std::string(name) + "=" + v + ": expected 1 or 0");
  }

 private:
  const Request& req_;
};

// Basic authentication's "user:password", decoded; nullopt when it is not base64.
std::optional<std::string> base64_decoded(std::string_view in) {
  std::string out;
  unsigned bits = 0;
  int count = 0;
  for (char c : in) {
    int v;
    if (c >= 'A' && c <= 'Z') {
      v = c - 'A';
    } else if (c >= 'a' && c <= 'z') {
      v = c - 'a' + 26;
    } else if (c >= '0' && c <= '9') {
      v = c - '0' + 52;
    } else if (c == '+') {
      v = 62;
    } else if (c == '/') {
      v = 63;
    } else if (c == '=') {
      break;
    } else {
      return std::nullopt;
    }
    bits = (bits << 6) | static_cast<unsigned>(v);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out += static_cast<char>((bits >> count) & 0xFF);
    }
  }
  return out;
}

// Compares in a time that does not depend on where the texts differ.
bool same_secret(const std::string& a, const std::string& b) {
  unsigned diff = a.size() == b.size() ? 0 : 1;
  for (std::size_t i = 0; i < b.size(); ++i)
    diff |= static_cast<unsigned char>(a.empty() ? 0 : a[i % a.size()]) ^
            static_cast<unsigned char>(b[i]);
  return diff == 0;
}

// "localhost" or a loopback address itself: a name that merely begins "127." can be any
// site's ("127.0.0.1.example.com").
bool host_is_local(const std::string& host) {
  std::string name = host;
  if (!name.empty() && name.front() == '[') {
    const auto close = name.find(']');
    if (close == std::string::npos) return false;
    name = name.substr(1, close - 1);
  } else if (const auto colon = name.rfind(':'); colon != std::string::npos) {
    name = name.substr(0, colon);
  }
  return ucase(name) == "LOCALHOST" || is_loopback(name);
}

std::string revision_label(const Revision& r) {
  return "revision " + std::to_string(r.number) + " (" + r.time + ", " + r.origin + ")";
}

}  // namespace

struct StatusServer::Handlers {
  StatusServerOptions& options;
  LiveFeed& feed;
  JournalView& journal;
  HttpServer& http;
  std::mutex failures_mutex;
  std::deque<std::chrono::steady_clock::time_point> failures;

  std::shared_ptr<const StationSnapshot> snapshot() const {
    auto s = feed.latest();
    return s ? s : std::make_shared<const StationSnapshot>();
  }

  LocalTime now() const { return options.now ? options.now() : RealClock().local_now(); }

  void send(Response& res, int status, std::string body, const char* type) {
    res.status = status;
    res.set_content(std::move(body), type);
  }

  void fail(Response& res, bool api, int status, const std::string& message) {
    if (api) {
      send(res, status, error_json(message), kJson);
    } else {
      send(res, status, error_page(status, message, snapshot()->customer), kHtml);
    }
  }

  // A route whose failures answer as the route answers: a page, or JSON.
  template <class Body>
  httplib::Server::Handler route(bool api, Body body) {
    return [this, api, body](const Request& req, Response& res) {
      try {
        body(req, res);
      } catch (const BadRequest& e) {
        fail(res, api, 400, e.what());
      } catch (const NotFound& e) {
        fail(res, api, 404, e.what());
      } catch (const SqlError& e) {
        fail(res, api, 503, std::string("The journal cannot be read now: ") + e.what());
      }
    };
  }

  void install() {
    http.set_default_headers({{"Content-Security-Policy", kSecurityPolicy},
                              {"X-Content-Type-Options", "nosniff"},
                              {"X-Frame-Options", "DENY"},
                              {"Referrer-Policy", "no-referrer"},
                              {"Cache-Control", "no-store"}});
    http.set_pre_routing_handler(
        [this](const Request& req, Response& res) { return screen(req, res); });
    http.set_error_handler(
        httplib::Server::HandlerWithResponse([this](const Request& req, Response& res) {
          if (!res.body.empty() || res.content_length_ > 0)
            return httplib::Server::HandlerResponse::Unhandled;
          if (HttpServer::request_too_large()) res.status = 431;
          if (HttpServer::request_too_slow()) res.status = 408;
          const std::string message = res.status == 404   ? "There is no such page."
                                      : res.status == 431 ? "The request is too large."
                                      : res.status == 408 ? "The request came too slowly."
                                      : res.status == 414 ? "The address is too long."
                                                          : "The request cannot be read.";
          fail(res, req.path.rfind("/api/", 0) == 0, res.status, message);
          return httplib::Server::HandlerResponse::Handled;
        }));
    http.set_exception_handler([this](const Request& req, Response& res, std::exception_ptr ep) {
      std::string what = "unknown";
      try {
        if (ep) std::rethrow_exception(ep);
      } catch (const std::exception& e) {
        what = e.what();
      } catch (...) {
      }
      std::cerr << "shoplink: status page: " << req.path << ": " << what << std::endl;
      fail(res, req.path.rfind("/api/", 0) == 0, 500, "The page failed: " + what);
    });
    http.set_post_routing_handler([this](const Request& req, Response& res) {
      if (res.body.size() <= kMaxResponseBytes) return;
      fail(res, req.path.rfind("/api/", 0) == 0, 500,
           "The answer would be larger than the status page sends (" +
               std::to_string(kMaxResponseBytes >> 20) + " MB).");
    });

    http.Get("/static/shoplink.css", [](const Request&, Response& res) {
      res.set_content(kStyleSheet, "text/css; charset=utf-8");
      replace_header(res, "Cache-Control", "max-age=300");
    });
    http.Get("/static/live.js", [](const Request&, Response& res) {
      res.set_content(kLiveScript, "text/javascript; charset=utf-8");
      replace_header(res, "Cache-Control", "max-age=300");
    });
    http.Get("/", route(false, [this](const Request& req, Response& res) {
               Query(req, {});
               const auto s = snapshot();
               send(res, 200, station_page(*s, log_tail(s->log_file)), kHtml);
             }));
    http.Get("/api/status", route(true, [this](const Request& req, Response& res) {
               Query(req, {});
               send(res, 200, status_json(*snapshot()), kJson);
             }));
    http.Get("/api/live", route(true, [this](const Request& req, Response& res) {
               Query(req, {});
               live(res);
             }));
    http.Get("/transfers", route(false, [this](const Request& req, Response& res) {
               const TransferQuery q = transfer_query(req);
               std::vector<TransferRow> rows;
               std::string unreadable;
               try {
                 rows = journal.transfers(q);
               } catch (const SqlError& e) {
                 unreadable = e.what();
               }
               send(res, 200, transfers_page(q, rows, unreadable, *snapshot()), kHtml);
             }));
    http.Get("/api/transfers", route(true, [this](const Request& req, Response& res) {
               send(res, 200, transfers_json(journal.transfers(transfer_query(req))), kJson);
             }));
    http.Get("/events", route(false, [this](const Request& req, Response& res) {
               const EventQuery q = event_query(req);
               std::vector<EventRow> rows;
               std::string unreadable;
               try {
                 rows = journal.events(q);
               } catch (const SqlError& e) {
                 unreadable = e.what();
               }
               send(res, 200, events_page(q, rows, unreadable, *snapshot()), kHtml);
             }));
    http.Get("/api/events", route(true, [this](const Request& req, Response& res) {
               send(res, 200, events_json(journal.events(event_query(req))), kJson);
             }));
    http.Get("/activity", route(false, [this](const Request& req, Response& res) {
               std::string unreadable;
               const ActivityDay d = activity(req, &unreadable);
               send(res, 200, activity_page(d, day_text(now()), unreadable, *snapshot()), kHtml);
             }));
    http.Get("/api/activity", route(true, [this](const Request& req, Response& res) {
               const ActivityDay d = activity(req, nullptr);
               send(res, 200, activity_json(d), kJson);
             }));
    http.Get("/programs", route(false, [this](const Request& req, Response& res) {
               Query(req, {});
               std::vector<ProgramSummary> programs;
               std::string unreadable;
               try {
                 programs = journal.programs(kMaxRows);
               } catch (const SqlError& e) {
                 unreadable = e.what();
               }
               send(res, 200, programs_page(programs, unreadable, *snapshot()), kHtml);
             }));
    http.Get(R"(/programs/(.+))",
             route(false, [this](const Request& req, Response& res) { program(req, res); }));
    http.Get(
        R"(/api/programs/(.+)/history)", route(true, [this](const Request& req, Response& res) {
          Query(req, {});
          const std::string name = req.matches[1];
          const ProgramMatch m = journal.find_program(name);
          if (m.matches.empty()) throw NotFound("No program named " + name + " has a history.");
          if (m.matches.size() > 1) {
            std::string list;
            for (const auto& p : m.matches) list += (list.empty() ? "" : ",") + json(p);
            send(res, 300,
                 "{\"error\":" + json("Several programs are named " + name + "; give one's path") +
                     ",\"programs\":[" + list + "]}",
                 kJson);
            return;
          }
          send(res, 200, history_json(m.matches[0], journal.revisions(m.matches[0])), kJson);
        }));
  }

  // Every request first: what the status page never does or never takes.
  httplib::Server::HandlerResponse screen(const Request& req, Response& res) {
    using HR = httplib::Server::HandlerResponse;
    const bool api = req.path.rfind("/api/", 0) == 0;
    if (req.method != "GET" && req.method != "HEAD") {
      HttpServer::close_after_response();
      res.set_header("Allow", "GET, HEAD");
      fail(res, api, 405, "The status page only shows: it takes GET and HEAD requests.");
      return HR::Handled;
    }
    const std::string length = req.get_header_value("Content-Length");
    if ((!length.empty() && length != "0") || req.has_header("Transfer-Encoding")) {
      HttpServer::close_after_response();
      fail(res, api, 400, "A request to the status page carries no body.");
      return HR::Handled;
    }
    // Bound to this machine only: a page of another site that a browser here has opened
    // reaches the station only under its own name (DNS rebinding), never under these.
    if (is_loopback(options.settings.listen.address) && req.has_header("Host") &&
        !host_is_local(req.get_header_value("Host"))) {
      fail(res, api, 421, "This station's status page answers to localhost only.");
      return HR::Handled;
    }
    return HR::Unhandled;
  }

  TransferQuery transfer_query(const Request& req) {
    const Query q(req, {"port", "day", "failed", "limit"});
    TransferQuery t;
    t.port = q.port();
    t.day = q.day();
    t.failed_only = q.flag("failed");
    t.limit = q.number("limit", 1, kMaxRows, kDefaultRows);
    return t;
  }

  EventQuery event_query(const Request& req) {
    const Query q(req, {"port", "day", "limit"});
    EventQuery e;
    e.port = q.port();
    e.day = q.day();
    e.limit = q.number("limit", 1, kMaxRows, kDefaultRows);
    return e;
  }

  ActivityDay activity(const Request& req, std::string* unreadable) {
    const Query q(req, {"day"});
    const LocalTime today = now();
    const std::string day = q.day().empty() ? day_text(today) : q.day();
    LocalTime start;
    parse_time(day, &start);
    const std::int64_t since = seconds_of(today) - seconds_of(start);
    ActivityRows rows;
    if (since > 0) {
      try {
        rows = journal.activity(day_text(start, -1), day + "~");
      } catch (const SqlError& e) {
        if (!unreadable) throw;
        *unreadable = e.what();
      }
    }
    return activity_day(day, rows, std::clamp<std::int64_t>(since, 0, 86400),
                        options.settings.shifts, machine_names(*snapshot()));
  }

  void program(const Request& req, Response& res) {
    const Query q(req, {"rev", "against", "show"});
    const std::string name = req.matches[1];
    const ProgramMatch m = journal.find_program(name);
    const auto s = snapshot();
    if (m.matches.empty()) throw NotFound("No program named " + name + " has a history.");
    if (m.matches.size() > 1) {
      send(res, 200, choose_program_page(name, m.matches, *s), kHtml);
      return;
    }
    const std::string& program = m.matches[0];
    const int rev = q.number("rev", 1, 1'000'000'000, 0);
    const std::string against = q.text("against"), show = q.text("show");
    if (rev == 0) {
      if (!against.empty() || !show.empty()) throw BadRequest("against= and show= need rev=");
      send(
          res, 200,
          program_page(program, journal.revisions(program), !options.settings.password.empty(), *s),
          kHtml);
      return;
    }
    if (!show.empty() && show != "content") throw BadRequest("show=" + show + ": expected content");
    if (!allowed(req, res)) return;
    const auto r = journal.revision(program, rev);
    if (!r) throw NotFound("There is no revision " + std::to_string(rev) + " of " + program + ".");
    auto too_large = [&](std::int64_t size) {
      if (size <= kMaxShownProgram) return false;
      fail(res, false, 413,
           "The program is larger than this page shows (" + grouped(size) +
               " characters); shoplink history and shoplink diff at the station show it.");
      return true;
    };
    if (too_large(r->size)) return;
    if (show == "content") {
      if (!against.empty()) throw BadRequest("show=content compares nothing: leave out against=");
      send(res, 200, content_page(program, *r, journal.content(*r), *s), kHtml);
      return;
    }
    std::string old_text, new_text = journal.content(*r), old_label;
    std::string new_label = revision_label(*r);
    if (against.empty()) {
      // The revision before it, if one is still kept.
      const auto revs = journal.revisions(program);
      const auto before =
          std::find_if(revs.begin(), revs.end(), [&](const Revision& x) { return x.number < rev; });
      if (before != revs.end()) {
        if (too_large(before->size)) return;
        old_text = journal.content(*before);
        old_label = revision_label(*before);
      } else {
        old_label = "nothing (the first revision kept)";
      }
    } else if (against == "current") {
      std::optional<std::string> current;
      try {
        current = read_program_file(program);
      } catch (const TooLargeForHistory&) {
        too_large(kMaxShownProgram + 1);
        return;
      }
      if (!current) throw NotFound(program + " cannot be read now.");
      if (too_large(static_cast<std::int64_t>(current->size()))) return;
      // Newer against older: the current file is the newer.
      old_text = std::move(new_text);
      old_label = std::move(new_label);
      new_text = std::move(*current);
      new_label = "the current file";
    } else {
      const int other = q.number("against", 1, 1'000'000'000, 0);
      const auto o = journal.revision(program, other);
      if (!o) throw NotFound("There is no revision " + against + " of " + program + ".");
      if (too_large(o->size)) return;
      old_text = journal.content(*o);
      old_label = revision_label(*o);
      if (o->number > r->number) {
        std::swap(old_text, new_text);
        std::swap(old_label, new_label);
      }
    }
    send(res, 200,
         diff_page(program, old_label, new_label,
                   unified_diff(old_text, new_text, old_label, new_label), *s),
         kHtml);
  }

  // Program contents and diffs: only with the password, and not guessed at speed.
  bool allowed(const Request& req, Response& res) {
    const std::string& password = options.settings.password;
    if (password.empty()) {
      fail(res, false, 403,
           "Program contents are not served: the station has no WEB_PASSWORD in its HOSTMAP.");
      return false;
    }
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(failures_mutex);
    while (!failures.empty() && now - failures.front() > std::chrono::minutes(1))
      failures.pop_front();
    if (static_cast<int>(failures.size()) >= kPasswordFailuresPerMinute) {
      res.set_header("Retry-After", "60");
      fail(res, false, 429, "Too many wrong passwords: try again in a minute.");
      return false;
    }
    const std::string auth = req.get_header_value("Authorization");
    if (auth.rfind("Basic ", 0) == 0) {
      const auto decoded = base64_decoded(auth.substr(6));
      const auto colon = decoded ? decoded->find(':') : std::string::npos;
      if (colon != std::string::npos && same_secret(decoded->substr(colon + 1), password))
        return true;
      failures.push_back(now);
    }
    res.set_header("WWW-Authenticate", R"(Basic realm="ShopLink programs", charset="UTF-8")");
    fail(res, false, 401, "Program contents need the station's password.");
    return false;
  }

  // The live stream: the station's snapshot as it changes (event "status") and the end of
  // the system log when it grows (event "log").
  void live(Response& res) {
    if (!feed.join_stream(options.live_streams)) {
      res.set_header("Retry-After", "10");
      send(res, 503, error_json("As many live streams are open as the station serves."), kJson);
      return;
    }
    struct Stream {
      bool first = true;
      std::uint64_t sequence = 0, log = 0;
    };
    auto state = std::make_shared<Stream>();
    replace_header(res, "Cache-Control", "no-store");
    res.set_header("X-Accel-Buffering", "no");
    res.set_chunked_content_provider(
        "text/event-stream",
        [this, state](std::size_t, httplib::DataSink& sink) {
          std::shared_ptr<const StationSnapshot> s;
          std::string out;
          if (state->first) {
            state->first = false;
            out = "retry: 3000\n\n";
            s = feed.latest();
          } else {
            s = feed.wait_newer(state->sequence, kLiveHeartbeat);
          }
          if (feed.stopped() || http.stopping()) return false;
          if (s && s->sequence != state->sequence) {
            state->sequence = s->sequence;
            out += "event: status\ndata: " + status_json(*s) + "\n\n";
          }
          const std::string log_file = s ? s->log_file : std::string();
          if (const auto stamp = log_stamp(log_file); stamp != state->log) {
            state->log = stamp;
            out += "event: log\ndata: " + log_json(log_tail(log_file)) + "\n\n";
          }
          if (out.empty()) out = ": nothing new\n\n";
          return sink.write(out.data(), out.size());
        },
        [feed = &feed](bool) { feed->leave_stream(); });
  }
};

StatusServer::StatusServer(SnapshotPublisher& snapshots, StatusServerOptions options)
    : options_(std::move(options)),
      feed_(std::make_shared<LiveFeed>()),
      journal_(std::make_unique<JournalView>(options_.station_dir)) {
  feed_->publish(snapshots.latest());
  snapshots.on_publish(
      [feed = feed_](const std::shared_ptr<const StationSnapshot>& s) { feed->publish(s); });
}

StatusServer::~StatusServer() {
  stop();
}

bool StatusServer::start() {
  if (http_) return true;
  http_ = std::make_unique<HttpServer>(options_.limits);
  handlers_.reset(new Handlers{options_, *feed_, *journal_, *http_, {}, {}});
  handlers_->install();
  const ListenAddress& at = options_.settings.listen;
  std::string why;
  port_ = http_->bind(at.address, at.port, &why);
  if (port_ < 0) {
    error_ = "cannot listen on " + url_host(at.address) + ":" + std::to_string(at.port) + " (" +
             why + ")";
    http_.reset();
    handlers_.reset();
    port_ = 0;
    return false;
  }
  http_->start();
  return true;
}

void StatusServer::stop() {
  feed_->stop();
  if (http_) http_->stop();
}

std::string StatusServer::url() const {
  return "http://" + url_host(options_.settings.listen.address) + ":" + std::to_string(port_) + "/";
}

int StatusServer::open_connections() const {
  return http_ ? http_->open_connections() : 0;
}

}  // namespace shoplink
