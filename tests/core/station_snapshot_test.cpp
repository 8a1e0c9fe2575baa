// The picture the window's tiles, the status page and the plant publisher show: a request
// on the simulated shop passes through the port's states, its progress grows, and the last
// transfer stays on the tile; snapshots go out at most every 100 ms.
#include "core/station_snapshot.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "support/station_fixture.hpp"

namespace shoplink {
namespace {

using testing::StationFixture;

TEST(StationSnapshot, ARequestPassesThroughThePortsStatesAndStaysAsItsLastTransfer) {
  StationFixture f;
  std::string program = "%\r\nO1234\r\n";
  for (int i = 0; program.size() < 3000; ++i) program += "N" + std::to_string(i) + " G1 X1.\r\n";
  f.write_file("O1234", program + "M30\r\n%\r\n");
  f.start();
  SnapshotPublisher pub(f.s());
  f.s().events.add(&pub);
  std::vector<std::shared_ptr<const StationSnapshot>> seen;
  pub.on_publish([&](const std::shared_ptr<const StationSnapshot>& s) { seen.push_back(s); });

  sim::Machine& mill = f.shop.machine(3);
  sim::MachineConfig c = mill.config();
  c.xon_after_command = millis(1500);
  mill.configure(c);
  mill.send_command("TO1234");
  ASSERT_TRUE(f.run_until(
      [&] { return mill.programs().size() == 1 && f.s().mode == Mode::Scanning; }, 30000));
  f.advance_ms(300);

  std::set<PortActivity> states;
  double most_done = 0;
  for (std::size_t i = 0; i < seen.size(); ++i) {
    const PortSnapshot& p3 = seen[i]->ports[2];
    states.insert(p3.activity);
    most_done = std::max(most_done, p3.done);
    if (i > 0) {
      EXPECT_GT(seen[i]->sequence, seen[i - 1]->sequence);
    }
    EXPECT_EQ(seen[i]->ports[0].activity, PortActivity::Idle);
  }
  EXPECT_TRUE(states.count(PortActivity::WaitingXon));
  EXPECT_TRUE(states.count(PortActivity::Sending));
  EXPECT_GT(most_done, 1000);

  const auto last = pub.latest();
  ASSERT_TRUE(last);
  EXPECT_EQ(last->ports[2].machine, "MILL3");
  EXPECT_EQ(last->ports[2].activity, PortActivity::Idle);
  ASSERT_TRUE(last->ports[2].last);
  EXPECT_EQ(last->ports[2].last->result, TransferResult::Transmitted);
  EXPECT_NE(last->ports[2].last->program.find("O1234"), std::string::npos);
  // A 3 kB program at 9600 baud takes about 3 s: at most one snapshot a 100 ms and then some.
  EXPECT_LT(seen.size(), 80u);
  EXPECT_GT(seen.size(), 3u);
}

TEST(StationSnapshot, AFailedLastTransferMarksAnIdlePort) {
  StationFixture f;
  f.start();
  SnapshotPublisher pub(f.s());
  f.s().events.add(&pub);
  sim::Machine& mill = f.shop.machine(5);
  sim::MachineConfig c = mill.config();
  c.xon_after_command = millis(1500);
  mill.configure(c);
  mill.send_command("TO9999");
  ASSERT_TRUE(f.run_until(
      [&] { return mill.programs().size() == 1 && f.s().mode == Mode::Scanning; }, 30000));
  f.advance_ms(300);
  const auto last = pub.latest();
  ASSERT_TRUE(last->ports[4].last);
  EXPECT_EQ(last->ports[4].last->result, TransferResult::NotFound);
  EXPECT_EQ(last->ports[4].activity, PortActivity::Failed);
  EXPECT_EQ(last->line_state, "open");
}

}  // namespace
}  // namespace shoplink
