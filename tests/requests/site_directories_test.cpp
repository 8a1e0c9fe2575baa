// The folder texts of the numbered site directories at their edges, and the one matching
// rule every site check uses.
#include "requests/site_directories.hpp"

#include <gtest/gtest.h>

#include "receive/site_names.hpp"

namespace shoplink {
namespace {

TEST(SiteDirectories, HollowayRoundsUpTo500) {
  const std::pair<double, const char*> cases[] = {{0, "0500"},   {1, "0500"},     {500, "0500"},
                                                  {501, "1000"}, {9999, "10000"}, {-501, "0500"}};
  for (const auto& [n, folder] : cases) EXPECT_EQ(holloway_folder(n), folder) << n;
}

TEST(SiteDirectories, FenwickThousands) {
  const std::pair<double, const char*> cases[] = {{-3, "1000"},    {0, "1000"},    {1000, "1000"},
                                                  {1001, "2000"},  {9000, "9000"}, {9001, "10000"},
                                                  {9500, "10000"}, {1e12, "10000"}};
  for (const auto& [n, folder] : cases) EXPECT_EQ(fenwick_folder(n), folder) << n;
}

TEST(SiteDirectories, KzvByTheDirectorysEnd) {
  struct Case {
    const char* dir;
    double n;
    const char* folder;
  };
  const Case cases[] = {
      {"C:\\VA50", 5512, "5500"},  {"C:\\VA50", 123, "0000"},   {"C:\\va50", 5499, "0000"},
      {"C:\\HC630", 3999, "0000"}, {"C:\\HC630", 4000, "4000"}, {"C:\\4NE", 123, "0100"},
      {"C:\\5NE", 12, "0000"},     {"C:\\NC", 5512, ""},        {"C:\\VA50\\X", 5512, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(kzv_folder(c.dir, c.n), c.folder) << c.dir << " " << c.n;
}

TEST(SiteNames, UpperCasedSubstringAnywhere) {
  EXPECT_TRUE(site::matches("The Dun Varley Ltd", "DUN VARLEY"));
  EXPECT_FALSE(site::matches("Dun Varley Ltd", "DUN-VARLEY"));
  EXPECT_TRUE(site::matches("kel-bran", "KEL-BRAN"));
  EXPECT_FALSE(site::matches("", "SKYLARK"));
  EXPECT_FALSE(site::matches("SKY LARK", "SKYLARK"));
}

}  // namespace
}  // namespace shoplink
