#include "sim_line.hpp"

#include <gtest/gtest.h>

#include "shop_fixture.hpp"

namespace shoplink::sim {
namespace {
using testing::select_port;
using testing::ShopTest;

using SimLineTest = ShopTest;

TEST_F(SimLineTest, TransmitQueueDrainsTenBitsPerByte) {
  host_write("0123456789");  // 1.0417 ms a byte at 9600
  EXPECT_EQ(shop->line().out_buffer_count(), 10);
  loop.advance(std::chrono::microseconds(5500));
  EXPECT_EQ(shop->line().out_buffer_count(), 5);
  EXPECT_EQ(ctl().from_host(), "01234");
  shop->line().clear_out_buffer();
  EXPECT_EQ(shop->line().out_buffer_count(), 0);
  run_ms(20);
  EXPECT_EQ(ctl().from_host(), "01234");  // discarded bytes never left
}

TEST_F(SimLineTest, RateFollowsTheLineSettings) {
  shop->line().close();
  shop->line().set_settings("1200,N,8,1");
  ASSERT_TRUE(shop->line().open());
  host_write("ab");
  run_ms(9);  // 8.33 ms a byte
  EXPECT_EQ(ctl().from_host(), "a");
  run_ms(9);
  EXPECT_EQ(ctl().from_host(), "ab");
}

TEST_F(SimLineTest, ReceivedBytesCountOnceFullyArrived) {
  host_write(select_port(1));
  run_ms(10);
  m(1).send_raw("AB");  // 1.04 ms to the controller, 1.04 ms more to the host
  loop.advance(std::chrono::microseconds(1500));
  EXPECT_EQ(shop->line().in_buffer_count(), 0);
  loop.advance(std::chrono::microseconds(700));
  EXPECT_EQ(shop->line().in_buffer_count(), 1);
  run_ms(5);
  EXPECT_EQ(shop->line().in_buffer_count(), 2);
  shop->line().set_input_len(1);
  EXPECT_EQ(host_read(), "A");
  EXPECT_EQ(host_read(), "B");
  EXPECT_EQ(host_read(), "");
  m(1).send_raw("CD");
  run_ms(10);
  shop->line().clear_in_buffer();
  EXPECT_EQ(shop->line().in_buffer_count(), 0);
}

TEST_F(SimLineTest, ClosedPortLosesWhatIsWritten) {
  shop->line().close();
  host_write("xyz");
  run_ms(10);
  EXPECT_EQ(ctl().from_host(), "");
  EXPECT_EQ(shop->line().bytes_lost_closed(), 3);
  EXPECT_EQ(shop->line().out_buffer_count(), 0);
}

TEST(SimLineDevice, AbsentDeviceDoesNotOpen) {
  VirtualClock clock;
  VirtualLoop loop{clock};
  Shop shop(loop);
  shop.line().set_device_present(false);
  EXPECT_FALSE(shop.line().open());
  EXPECT_FALSE(shop.line().is_open());
}

}  // namespace
}  // namespace shoplink::sim
