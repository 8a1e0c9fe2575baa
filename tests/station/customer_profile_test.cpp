#include "station/customer_profile.hpp"

#include <gtest/gtest.h>

#include "config/test_station.hpp"

namespace shoplink {
namespace {

using testing::TestStation;

struct CustomerProfileTest : ::testing::Test {
  TestStation t;
  Station& s = t.s;
};

TEST_F(CustomerProfileTest, NameAndCityFromTheCustomerFile) {
  t.write("CUSTOMER", "Acme Tool & Die\r\nSpringfield, OH\r\nignored\r\n");
  load_customer_profile(s);
  EXPECT_EQ(s.Customer_name, "Acme Tool & Die");
  EXPECT_EQ(s.Customer_city_state, "Springfield, OH");
  EXPECT_FALSE(s.Sable_carbon);
  EXPECT_FALSE(s.Dun_Varley);
}

TEST_F(CustomerProfileTest, NoFileSelectsNoSite) {
  s.Sable_carbon = true;
  load_customer_profile(s);
  EXPECT_EQ(s.Customer_name, "");
  EXPECT_EQ(s.Customer_city_state, "");
  EXPECT_FALSE(s.Sable_carbon);
  EXPECT_FALSE(s.Dun_Varley);
}

TEST_F(CustomerProfileTest, AnEmptyNameSelectsNoSiteWhateverTheCity) {
  s.Sable_carbon = true;
  t.write("CUSTOMER", "\r\nSABLE CARBON, DUN VARLEY\r\n");
  load_customer_profile(s);
  EXPECT_FALSE(s.Sable_carbon);
  EXPECT_FALSE(s.Dun_Varley);
  EXPECT_EQ(s.Customer_city_state, "SABLE CARBON, DUN VARLEY");
}

TEST_F(CustomerProfileTest, SiteKeysMatchUpperCasedAnywhereInTheName) {
  t.write("CUSTOMER", "The Sable Carbon Products Co.\n");
  load_customer_profile(s);
  EXPECT_TRUE(s.Sable_carbon);
  EXPECT_EQ(s.Customer_city_state, "");
  // Named at once for the shift of the start (14:05:07 on 9 March: the first shift).
  EXPECT_EQ(s.ShiftFile, "03-09-26.001");
}

TEST_F(CustomerProfileTest, DunVarleyReadsTheCrossReferences) {
  t.write("XREF", "O1=G\r\n");
  for (const char* name : {"DUN-VARLEY Inc", "dun varley"}) {
    TestStation u;
    u.write("XREF", "O1=G\r\n");
    u.write("CUSTOMER", std::string(name) + "\r\n");
    load_customer_profile(u.s);
    EXPECT_TRUE(u.s.Dun_Varley) << name;
    ASSERT_EQ(u.s.xref.size(), 1u) << name;
    EXPECT_EQ(u.s.xref[0].xref_drive, "G:");
  }
  t.write("CUSTOMER", "DUNVARLEY\r\n");
  load_customer_profile(s);
  EXPECT_FALSE(s.Dun_Varley);
  EXPECT_TRUE(s.xref.empty());
}

TEST_F(CustomerProfileTest, ThePowerUpMessageShowsAfter300MsForFiveSeconds) {
  load_customer_profile(s);
  t.loop.advance_ms(299);
  EXPECT_FALSE(t.window.splash_shown());
  t.loop.advance_ms(1);
  EXPECT_TRUE(t.window.splash_shown());
  EXPECT_FALSE(s.Timer7.enabled());
  t.loop.advance_ms(4999);
  EXPECT_TRUE(t.window.splash_shown());
  t.loop.advance_ms(1);
  EXPECT_FALSE(t.window.splash_shown());
  EXPECT_FALSE(s.splash_timer.enabled());
}

}  // namespace
}  // namespace shoplink
