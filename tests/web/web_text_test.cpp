// Station text is bytes: whatever a machine, a path or the log holds must reach a page as
// text and a JSON string as a string, never as markup, and must be valid UTF-8 either way.
#include "web/web_text.hpp"

#include <gtest/gtest.h>

namespace shoplink {
namespace {

struct Escape {
  const char* name;
  std::string bytes;
  std::string as_html;
  std::string as_json;
};
void PrintTo(const Escape& e, std::ostream* os) {
  *os << e.name;
}

const std::vector<Escape> kEscapes = {
    {"Markup", R"(<script>alert("x")</script>&')",
     "&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt;&amp;&#39;",
     R"("\u003cscript>alert(\"x\")\u003c/script>&'")"},
    {"ControlCharacters", "TO12\x07\x1b[2J\r\n", "TO12&lt;07&gt;&lt;1B&gt;[2J&lt;0D&gt;&lt;0A&gt;",
     R"("TO12\u0007\u001b[2J\u000d\u000a")"},
    {"Latin1ByteReadAsItsCharacter", "FR\xc4S", "FR\xc3\x84S", "\"FR\xc3\x84S\""},
    {"ValidUtf8Kept",
     "/srv/nc/Gr\xc3\xb6\xc3\x9f"
     "e",
     "/srv/nc/Gr\xc3\xb6\xc3\x9f"
     "e",
     "\"/srv/nc/Gr\xc3\xb6\xc3\x9f"
     "e\""},
    {"BackslashInJson", R"(C:\NC\O1)", R"(C:\NC\O1)", R"("C:\\NC\\O1")"},
};

class WebText : public ::testing::TestWithParam<Escape> {};

TEST_P(WebText, EscapesForHtmlAndJson) {
  const Escape& e = GetParam();
  EXPECT_EQ(html(e.bytes), e.as_html);
  EXPECT_EQ(json(e.bytes), e.as_json);
}

INSTANTIATE_TEST_SUITE_P(Web, WebText, ::testing::ValuesIn(kEscapes),
                         [](const ::testing::TestParamInfo<Escape>& i) { return i.param.name; });

TEST(WebTextParts, UrlsDatesAndDurations) {
  EXPECT_EQ(url_encoded("/srv/nc/O 1?&#.NC"), "%2Fsrv%2Fnc%2FO%201%3F%26%23.NC");
  LocalTime t;
  EXPECT_TRUE(parse_time("2024-02-29", &t));
  EXPECT_FALSE(parse_time("2023-02-29", &t));
  EXPECT_FALSE(parse_time("2026-12-01 24:00:00", &t));
  EXPECT_FALSE(parse_time("2026-12-1", &t));
  ASSERT_TRUE(parse_time("2026-03-01", &t));
  EXPECT_EQ(day_text(t, -1), "2026-02-28");
  EXPECT_EQ(duration_text(3725), "1:02:05");
  EXPECT_EQ(grouped(1234567), "1,234,567");
}

}  // namespace
}  // namespace shoplink
