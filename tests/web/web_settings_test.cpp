// WEB= says where the status page listens: numeric addresses only (no name lookup decides
// what is exposed), loopback unless told; the starter HOSTMAP of `shoplink init` turns it on
// for this machine only.
#include "web/web_settings.hpp"

#include <gtest/gtest.h>

#include <sstream>

#include "base/host_paths.hpp"
#include "station/commissioning.hpp"
#include "support/temp_dir.hpp"

namespace shoplink {
namespace {

struct Listen {
  const char* text;
  bool ok;
  const char* address = "";
  int port = 0;
};

TEST(WebSettings, ListenAddresses) {
  const Listen cases[] = {
      {"127.0.0.1:8080", true, "127.0.0.1", 8080},
      {"0.0.0.0:80", true, "0.0.0.0", 80},
      {"[::1]:8080", true, "::1", 8080},
      {"8080", true, "127.0.0.1", 8080},
      {"127.0.0.1:0", true, "127.0.0.1", 0},
      {"localhost:8080", true, "127.0.0.1", 8080},
      {"example.com:8080", false},
      {"127.0.0.1:65536", false},
      {"127.0.0.1:", false},
      {"127.0.0.1:80x", false},
      {"[::1:8080", false},
      {"", false},
  };
  for (const Listen& c : cases) {
    std::string why;
    const auto l = parse_listen_address(c.text, &why);
    ASSERT_EQ(l.has_value(), c.ok) << c.text << ": " << why;
    if (!c.ok) {
      EXPECT_FALSE(why.empty()) << c.text;
      continue;
    }
    EXPECT_EQ(l->address, c.address) << c.text;
    EXPECT_EQ(l->port, c.port) << c.text;
  }
}

TEST(WebSettings, TheStarterHostmapServesThisMachineOnly) {
  testing::TempDir dir;
  std::ostringstream out, err;
  ASSERT_EQ(init_station_dir(dir.path(), out, err), 0) << err.str();
  HostPaths paths(dir.path());
  paths.load_hostmap_file();
  std::vector<std::string> problems;
  const auto web = web_settings(paths, &problems);
  EXPECT_TRUE(problems.empty());
  ASSERT_TRUE(web);
  EXPECT_EQ(web->listen.address, "127.0.0.1");
  EXPECT_EQ(web->listen.port, 8080);
  EXPECT_TRUE(is_loopback(web->listen.address));
  EXPECT_TRUE(web->password.empty());
  // Off unless configured.
  paths.map_assignment("WEB=OFF");
  EXPECT_FALSE(web_settings(paths, &problems));
}

}  // namespace
}  // namespace shoplink
