// A morning on the simulated shop, as the status page charts it: machine 3 gets O1234, then
// runs three 20-minute cycles with 10 minutes between them; /api/activity counts them for
// O1234 with their time, from what the station wrote to its journal.
#include <gtest/gtest.h>

#include <memory>
#include <regex>

#include "core/station_snapshot.hpp"
#include "journal/journal.hpp"
#include "support/station_fixture.hpp"
#include "web/status_server.hpp"

namespace shoplink {
namespace {

using testing::StationFixture;

TEST(WebActivity, CyclesTheMachineReportedAreChartedForTheProgramSentBefore) {
  StationFixture f;
  Journal journal(f.s(), JournalSettings{});
  SnapshotPublisher snapshots(f.s());
  f.s().events.add(&snapshots);
  f.write_file("O1234", "%\r\nO1234\r\nG1 X1.\r\nM30\r\n%\r\n");
  f.start();
  sim::Machine& mill = f.shop.machine(3);
  sim::MachineConfig c = mill.config();
  c.xon_after_command = millis(1500);
  mill.configure(c);
  mill.send_command("TO1234");
  ASSERT_TRUE(f.run_until(
      [&] { return mill.programs().size() == 1 && f.s().mode == Mode::Scanning; }, 30000));
  for (int i = 0; i < 3; ++i) {
    f.advance_ms(10 * 60'000);
    mill.send_command("S");
    f.advance_ms(20 * 60'000);
    mill.send_command("F");
  }
  f.advance_ms(60'000);

  WebSettings web;
  web.listen = {"127.0.0.1", 0};
  StatusServer server(
      snapshots, StatusServerOptions{
                     web, f.dir.path(), [&] { return f.clock.local_now(); }, {}, kMaxLiveStreams});
  ASSERT_TRUE(server.start()) << server.error();
  httplib::Client client("127.0.0.1", server.port());
  const auto r = client.Get("/api/activity");
  ASSERT_TRUE(r);
  ASSERT_EQ(r->status, 200) << r->body;
  const auto at = r->body.find(R"({"port":3,)");
  ASSERT_NE(at, std::string::npos) << r->body;
  const std::string mill3 = r->body.substr(at, r->body.find(R"({"port":4,)") - at);
  // The events carry the second a command arrived: a cycle may read a second long or short.
  std::smatch m;
  ASSERT_TRUE(std::regex_search(mill3, m, std::regex(R"("cycles":3,"in_cycle_s":(\d+),)")))
      << mill3;
  EXPECT_NEAR(std::stoi(m[1]), 3600, 3);
  ASSERT_TRUE(std::regex_search(
      mill3, m, std::regex(R"(\{"program":"[^"]*O1234[^"]*","cycles":3,"average_s":(\d+)\})")))
      << mill3;
  EXPECT_NEAR(std::stoi(m[1]), 1200, 1);
  EXPECT_NE(mill3.find(R"("state":"cycle")"), std::string::npos) << mill3;
}

}  // namespace
}  // namespace shoplink
