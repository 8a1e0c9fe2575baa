#pragma once
// A shop on virtual time with its host line open, and a few host-side helpers written
// as a test would type them (no station code involved).
#include <gtest/gtest.h>

#include <string>

#include "base/virtual_loop.hpp"
#include "shop.hpp"

namespace shoplink::sim::testing {

inline std::string dc4(const std::string& s) {
  return std::string(1, '\x14') + s;
}
inline std::string select_port(int n) {
  return dc4(std::to_string(n)) + dc4("Q");
}
inline std::string bytes(std::initializer_list<int> v) {
  std::string s;
  for (int b : v) s.push_back(static_cast<char>(b));
  return s;
}

struct ShopTest : ::testing::Test {
  VirtualClock clock;
  VirtualLoop loop{clock};
  std::unique_ptr<Shop> shop;

  void make(ShopOptions opts = {}) {
    shop = std::make_unique<Shop>(loop, std::move(opts));
    shop->line().set_settings("9600,N,8,1");
    shop->line().set_rts(true);
    shop->line().set_dtr(true);
    ASSERT_TRUE(shop->line().open());
  }
  void SetUp() override { make(); }
  void host_write(const std::string& s) { shop->line().write(s); }
  void run_ms(std::int64_t ms) { loop.advance_ms(ms); }
  std::string host_read() { return shop->line().read(); }
  Machine& m(int port) { return shop->machine(port); }
  PortController& ctl() { return shop->controller(); }
};

}  // namespace shoplink::sim::testing
