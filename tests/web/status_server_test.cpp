// The status page against a station on virtual time with its journal: the server on a
// loopback port answers what the station did (uploads, a missing program, a program's
// revisions) as pages and JSON, refuses what it never does with a 4xx, shows program
// contents only with the password, and keeps to its connection limit.
#include "web/status_server.hpp"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "core/station_snapshot.hpp"
#include "journal/journal.hpp"
#include "receive/upload_rig.hpp"

namespace shoplink {
namespace {

using testing::UploadRig;

int count(const std::string& text, const std::string& part) {
  int n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// Port 1 uploads O1 twice (two revisions), then asks for a program there is not.
struct WebRig : UploadRig {
  Journal journal{s, JournalSettings{}};
  SnapshotPublisher snapshots{s};
  std::unique_ptr<StatusServer> server;

  WebRig() {
    s.events.add(&snapshots);
    for (const char* text : {"O1\r\nG1 X1.\r\nM30\r\n", "O1\r\nG1 X2.\r\nM30\r\n"}) {
      stay_on_port();
      command("RO1");
      upload(text);
      run_ms(2500);
    }
    stay_on_port();
    command("TO9999");
    run_ms(3000);
  }

  void serve(const std::string& password, HttpLimits limits = {}) {
    WebSettings web;
    web.listen = {"127.0.0.1", 0};
    web.password = password;
    server = std::make_unique<StatusServer>(
        snapshots, StatusServerOptions{web, dir.path(), {}, limits, kMaxLiveStreams});
    ASSERT_TRUE(server->start()) << server->error();
  }

  httplib::Client client() const {
    httplib::Client c("127.0.0.1", server->port());
    c.set_read_timeout(5, 0);
    return c;
  }
};

struct Ask {
  const char* name;
  const char* method;
  std::string path;
  httplib::Headers headers;
  int status;
  std::vector<std::string> contains;  // in the body, each
  std::vector<std::string> lacks;
};
void PrintTo(const Ask& a, std::ostream* os) {
  *os << a.name;
}

// Basic authentication's header for "user:password", encoded.
std::string basic(const std::string& user_password) {
  static const char* k = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t i = 0; i < user_password.size(); i += 3) {
    unsigned v = 0;
    for (std::size_t j = 0; j < 3; ++j)
      v = v << 8 |
          (i + j < user_password.size() ? static_cast<unsigned char>(user_password[i + j]) : 0);
    for (std::size_t j = 0; j < 4; ++j)
      out += j <= (user_password.size() - i) ? k[(v >> (18 - 6 * j)) & 63] : '=';
  }
  return "Basic " + out;
}

const std::vector<Ask> kAsks = {
    {"StatusShowsTheStation",
     "GET",
     "/api/status",
     {},
     200,
     {R"("port":1,"machine":"")", R"("result":"not found")", R"("line_state":)"},
     {}},
    {"TransfersNewestFirst",
     "GET",
     "/api/transfers",
     {},
     200,
     {R"("kind":"request")", R"("kind":"upload")", R"("failed":true)"},
     {}},
    {"FailedOnly",
     "GET",
     "/api/transfers?port=1&failed=1",
     {},
     200,
     {"not found"},
     {R"("failed":false)"}},
    {"AnotherPortHasNone", "GET", "/api/transfers?port=2", {}, 200, {R"({"transfers":[]})"}, {}},
    {"PortOutOfRange", "GET", "/api/transfers?port=9", {}, 400, {"port=9"}, {}},
    {"PortNotANumber", "GET", "/api/transfers?port=1x", {}, 400, {"port=1x"}, {}},
    {"LimitZero", "GET", "/api/transfers?limit=0", {}, 400, {"limit=0"}, {}},
    {"DayNotADate", "GET", "/api/events?day=2026-13-45", {}, 400, {"YYYY-MM-DD"}, {}},
    {"UnknownParameter", "GET", "/api/events?drop=1", {}, 400, {"unknown parameter"}, {}},
    {"ParameterTwice", "GET", "/api/events?port=1&port=2", {}, 400, {"more than once"}, {}},
    {"Events", "GET", "/api/events", {}, 200, {R"({"events":[)"}, {}},
    {"HistoryByFileName",
     "GET",
     "/api/programs/o1/history",
     {},
     200,
     {R"("number":1,)", R"("number":2,)", R"("origin":"upload")"},
     {}},
    {"HistoryOfNoProgram", "GET", "/api/programs/O2/history", {}, 404, {"O2"}, {}},
    {"PathOutsideTheJournal",
     "GET",
     "/api/programs/..%2F..%2Fetc%2Fpasswd/history",
     {},
     404,
     {"has a history"},
     {"root:"}},
    {"StationPageHasEightTiles", "GET", "/", {}, 200, {R"(id="port-8")"}, {}},
    {"ActivityIsAnSvg", "GET", "/activity", {}, 200, {"<svg"}, {}},
    {"TransfersPage", "GET", "/transfers?failed=1", {}, 200, {"not found"}, {}},
    {"ProgramPage", "GET", "/programs/O1", {}, 200, {"Revision", "upload"}, {"G1 X2."}},
    {"ContentNeedsThePassword",
     "GET",
     "/programs/O1?rev=2&show=content",
     {},
     401,
     {"password"},
     {"G1 X2."}},
    {"WrongPassword",
     "GET",
     "/programs/O1?rev=2&show=content",
     {{"Authorization", basic("x:guess")}},
     401,
     {},
     {"G1 X2."}},
    {"ContentWithThePassword",
     "GET",
     "/programs/O1?rev=2&show=content",
     {{"Authorization", basic("x:s3cret")}},
     200,
     {"G1 X2."},
     {}},
    {"DiffWithThePassword",
     "GET",
     "/programs/O1?rev=2",
     {{"Authorization", basic("x:s3cret")}},
     200,
     {R"(<span class="del">-G1 X1.</span>)", R"(<span class="add">+G1 X2.</span>)"},
     {}},
    {"NoSuchRevision",
     "GET",
     "/programs/O1?rev=7",
     {{"Authorization", basic("x:s3cret")}},
     404,
     {"no revision 7"},
     {}},
    {"NoSuchPage", "GET", "/etc/passwd", {}, 404, {}, {"root:"}},
    {"PostChangesNothing", "POST", "/api/status", {}, 405, {"GET and HEAD"}, {}},
    {"DeleteChangesNothing", "DELETE", "/programs/O1", {}, 405, {}, {}},
    {"ForeignHostName",
     "GET",
     "/api/status",
     {{"Host", "evil.example:8080"}},
     421,
     {"localhost only"},
     {}},
    {"ForeignNameStartingLikeLoopback",
     "GET",
     "/api/status",
     {{"Host", "127.0.0.1.evil.example:8080"}},
     421,
     {"localhost only"},
     {}},
    {"LoopbackAddressAsHost", "GET", "/api/status", {{"Host", "127.0.0.1:8080"}}, 200, {}, {}},
    {"LocalhostAsHost", "GET", "/api/status", {{"Host", "LocalHost:8080"}}, 200, {}, {}},
    {"HugeHeader", "GET", "/api/status", {{"X-Fill", std::string(20000, 'a')}}, 431, {}, {}},
};

class WebAsk : public ::testing::TestWithParam<Ask> {
 protected:
  static void SetUpTestSuite() {
    rig_ = new WebRig;
    rig_->serve("s3cret");
  }
  static void TearDownTestSuite() {
    delete rig_;
    rig_ = nullptr;
  }
  static WebRig* rig_;
};
WebRig* WebAsk::rig_ = nullptr;

TEST_P(WebAsk, AnswersAsItShould) {
  const Ask& a = GetParam();
  httplib::Client c = rig_->client();
  httplib::Result r = std::string(a.method) == "GET" ? c.Get(a.path, a.headers)
                      : std::string(a.method) == "POST"
                          ? c.Post(a.path, a.headers, "x=1", "text/plain")
                          : c.Delete(a.path, a.headers);
  ASSERT_TRUE(r) << httplib::to_string(r.error());
  EXPECT_EQ(r->status, a.status) << r->body;
  for (const auto& part : a.contains)
    EXPECT_NE(r->body.find(part), std::string::npos) << part << " in " << r->body;
  for (const auto& part : a.lacks)
    EXPECT_EQ(r->body.find(part), std::string::npos) << part << " in " << r->body;
}

INSTANTIATE_TEST_SUITE_P(Web, WebAsk, ::testing::ValuesIn(kAsks),
                         [](const ::testing::TestParamInfo<Ask>& i) { return i.param.name; });

TEST(Web, StationPageShowsEightTilesAndTheUpload) {
  WebRig rig;
  rig.serve("");
  auto r = rig.client().Get("/");
  ASSERT_TRUE(r);
  EXPECT_EQ(count(r->body, "<article class=\"tile"), NumPorts);
  // Without a password, program contents are not served at all.
  r = rig.client().Get("/programs/O1?rev=2&show=content", {{"Authorization", basic("x:")}});
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 403);
  EXPECT_EQ(r->body.find("G1 X2."), std::string::npos);
}

TEST(Web, AConnectionBeyondTheLimitIsTurnedAwayAndTheOthersStay) {
  WebRig rig;
  HttpLimits limits;
  limits.connections = 2;
  limits.idle = std::chrono::milliseconds(20'000);
  rig.serve("", limits);
  // Two clients that connect and say nothing hold both connections.
  std::vector<int> held;
  for (int i = 0; i < 2; ++i) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(rig.server->port()));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    held.push_back(fd);
  }
  for (int i = 0; i < 100 && rig.server->open_connections() < 2; ++i) ::usleep(10'000);
  EXPECT_EQ(rig.server->open_connections(), 2);
  auto r = rig.client().Get("/api/status");
  ASSERT_TRUE(r) << httplib::to_string(r.error());
  EXPECT_EQ(r->status, 503);
  for (int fd : held) ::close(fd);
  // Their places are free again once they have gone.
  for (int i = 0; i < 200 && rig.server->open_connections() > 0; ++i) ::usleep(10'000);
  r = rig.client().Get("/api/status");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
}

// A client that sends half a request and waits: it gets 408 once the request's time is up,
// and its connection is closed, so it holds no thread.
TEST(Web, ARequestThatComesTooSlowlyIsAnswered408AndClosed) {
  WebRig rig;
  HttpLimits limits;
  limits.request_time = std::chrono::milliseconds(300);
  rig.serve("", limits);
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(rig.server->port()));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  const std::string half = "GET /api/status HTTP/1.1\r\nHost: 127.0.0.1\r\n";
  ASSERT_EQ(::send(fd, half.data(), half.size(), 0), static_cast<ssize_t>(half.size()));
  timeval wait{5, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  std::string answer;
  char buf[512];
  for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, 0)) > 0;)
    answer.append(buf, static_cast<std::size_t>(n));
  ::close(fd);
  EXPECT_EQ(answer.rfind("HTTP/1.1 408", 0), 0u) << answer;
}

}  // namespace
}  // namespace shoplink
