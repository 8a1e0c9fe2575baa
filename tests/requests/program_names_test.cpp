#include "requests/program_names.hpp"

#include <gtest/gtest.h>

#include "requests/command_interpreter.hpp"
#include "requests/request_station.hpp"

namespace shoplink::testing {
namespace {

struct ProgramNames : RequestStation {
  CommandParse p;
  // The command's first character is its command character.
  NameResult parse(const std::string& cmd, RequestKind kind = RequestKind::File) {
    s.rx_line = cmd;
    p = {};
    set_up_command(s, p);
    return parse_program_name(s, p, kind, 2);
  }
  std::string name_of(const std::string& cmd) {
    EXPECT_EQ(parse(cmd), NameResult::Named) << cmd;
    return p.program_name;
  }
  std::string file_of(const std::string& cmd) {
    s.rx_line = cmd;
    p = {};
    set_up_command(s, p);
    EXPECT_EQ(resolve_file_name(s, p, RequestKind::File, 2), NameResult::Named) << cmd;
    return s.Filename;
  }
};

struct NameCase {
  const char* code_line;
  DefaultFileType station_default;
  const char* command;
  const char* name;
};

TEST_F(ProgramNames, CuttingRulesInTheirOrder) {
  using D = DefaultFileType;
  const NameCase cases[] = {
      {"0", D::None, "T O1234 (PART A)", "O1234"},  // blanks trimmed, cut at "(" then space
      {"0", D::None, "TO1234.NCXY", "O1234.NCX"},   // three characters after the dot
      {"0", D::None, "TO12/X", "O12"},
      {"0", D::None, "TO12\"X\"", "O12"},
      {"0", D::None, "T+O12", "O12"},
      {"0", D::None, "TO12)", "O12"},
      {"0", D::None, "T\x01 O7 \x02", "O7"},
      {"0", D::PCNC, "T12", "0012"},          // four digits
      {"0", D::PCNC, "TO1234", "O123"},       // cut to four, then padded
      {"0", D::ASCII, "T5.NC", "0005"},       // cut at the dot
      {"0 HAAS", D::PCNC, "TO1234", "1234"},  // first character dropped, next four
      {"0 HAAS", D::PCNC, "T123", "0123"},
      {"0 HAAS", D::None, "TO1234", "O1234"},  // only with a four-digit default
      {"0 HAAS WINDOWS", D::PCNC, "TO1234", "O1234"},
      {"0 GE", D::None, "T12", "1200"},  // padded at the end
      {"0 ge", D::None, "TAB", "AB00"},
      {"0 WINDOWS", D::None, "TMY PART.PROGRAM", "MY PART.PROGRAM"},  // long names kept
      {"0 WINDOWS", D::None, "TMY PART)X", "MY PART"},
      {"0 DOS", D::WINDOWS, "TMY PART", "MY"},
      {"0", D::WINDOWS, "TA B", "A B"},
  };
  for (const auto& c : cases) {
    port().code_line = c.code_line;
    s.config.default_file_type = c.station_default;
    EXPECT_EQ(name_of(c.command), c.name) << c.code_line << " / " << c.command;
  }
}

TEST_F(ProgramNames, ThirtyTwoCharacterNamesKeepSpacesAndParentheses) {
  port().code_line = "0 /32";
  EXPECT_EQ(name_of("TBRACKET (LEFT) FOR THE BIG PRESS AND MORE"),
            "BRACKET (LEFT");  // 32 characters, then cut at ")"
  EXPECT_EQ(name_of("TAN OVERLONG NAME OF THIRTY-FIVE CHARS"), "AN OVERLONG NAME OF THIRTY-FIVE ");
}

TEST_F(ProgramNames, DripAndTheDunVarleyLeadingN) {
  EXPECT_EQ(name_of("TO12 (DRIP)"), "O12");
  EXPECT_EQ(s.Drip, 1);
  s.Dun_Varley = true;
  EXPECT_EQ(name_of("TN123"), "123");
}

TEST_F(ProgramNames, DriveAndPathInTheCommand) {
  EXPECT_EQ(name_of("TC:\\NC\\O55"), "O55");
  EXPECT_EQ(s.HSTR, "C:\\NC");
  EXPECT_TRUE(p.explicit_dir);
  EXPECT_EQ(p.command, "TO55");  // the command keeps only the name part

  EXPECT_EQ(name_of("TC:\\O55"), "O55");
  EXPECT_EQ(s.HSTR, "C:\\");

  EXPECT_EQ(name_of("TC:O55"), "O55");
  EXPECT_EQ(s.HSTR, "C:");

  EXPECT_EQ(name_of("T\\SUB\\O55"), "O55");
  EXPECT_EQ(s.HSTR, s.station_dir() + "\\SUB");

  EXPECT_EQ(name_of("TO55"), "O55");
  EXPECT_EQ(s.HSTR, s.station_dir());
  EXPECT_FALSE(p.explicit_dir);

  // The port's own drive and path characters.
  port().command_chars = "TRPSFD;/N";
  EXPECT_EQ(name_of("TD;/NC/SUB/O9"), "O9");
  EXPECT_EQ(s.HSTR, "D:\\NC\\SUB");
}

TEST_F(ProgramNames, DirectoryRequestsTakeTheWholePathAndMayNameNothing) {
  port().receive_dir = s.station_dir() + "\\IN\\";
  EXPECT_EQ(parse("P", RequestKind::Directory), NameResult::Named);
  EXPECT_EQ(p.program_name, "");
  EXPECT_EQ(s.HSTR, s.station_dir() + "\\IN");  // one trailing "\" removed
  EXPECT_EQ(parse("P\\SUB\\X", RequestKind::Directory), NameResult::Named);
  EXPECT_EQ(s.HSTR, s.station_dir() + "\\IN\\SUB\\X");
}

TEST_F(ProgramNames, AnEmptyNameIsAnsweredAsNotFound) {
  port().subdir = "RUN";
  s.Timer6.stop();
  // A file request stays handed over to transmission: the reply is sent to the machine.
  s.mode = Mode::Settling;
  EXPECT_EQ(parse("T \x01  "), NameResult::Ended);
  EXPECT_EQ(s.Filename, at_station("notfound.alm"));
  EXPECT_EQ(dir.read("notfound.alm"), "RUN\r\n(FILE NOT FOUND)\r\n");
  EXPECT_EQ(s.mode, Mode::Settling);
  EXPECT_FALSE(s.Timer6.enabled());
  EXPECT_EQ(log_messages(), std::vector<std::string>{"File not found"});
  // A store request has nothing to send and goes back to scanning on the reception timer.
  EXPECT_EQ(parse("R", RequestKind::Store), NameResult::Ended);
  EXPECT_EQ(s.mode, Mode::Scanning);
  EXPECT_TRUE(s.Timer6.enabled());
}

TEST_F(ProgramNames, NamedAndNumberedForms) {
  port().extension = ".NC";
  EXPECT_EQ(file_of("TO1234"), s.station_dir() + "\\O1234.NC");
  EXPECT_EQ(file_of("TO1234.NCX"), s.station_dir() + "\\O1234.NCX");  // already holds .NC
  EXPECT_EQ(file_of("TO1234.nc"), s.station_dir() + "\\O1234.nc.NC");

  s.config.default_file_type = DefaultFileType::PCNC;
  EXPECT_EQ(file_of("T12"), s.station_dir() + "\\PROG0012");
  EXPECT_EQ(s.pcnc_file_no, "0012");
  port().code_line = "0 DOS";
  EXPECT_EQ(file_of("T12"), s.station_dir() + "\\12.NC");

  port().code_line = "0";
  s.config.default_file_type = DefaultFileType::ASCII;
  EXPECT_EQ(file_of("T7"), s.station_dir() + "\\PROG0007");
}

struct ContentsLookup : ProgramNames {
  void SetUp() override {
    dir.write("CONTENTS",
              "\"0003\",\"SHAFT\", 120\r\n\"0007\",\"BRACKET\", 2201\r\n\"0009\",\"BRACK\", 9\r\n");
    port().code_line = "0 /32";
  }
  LookupResult lookup(const std::string& cmd, RequestKind kind = RequestKind::File) {
    s.rx_line = cmd;
    p = {};
    set_up_command(s, p);
    return lookup_contents_name(s, p, kind, 2);
  }
};

TEST_F(ContentsLookup, TheFirstRecordThatBeginsWithTheNameMatches) {
  ASSERT_EQ(lookup("TBRACK"), LookupResult::Matched);
  EXPECT_EQ(s.Filename, s.station_dir() + "\\PROG0007");
  EXPECT_EQ(s.pcnc_file_no, "0007");
  EXPECT_EQ(s.pcnc_file_name, "BRACK");
  port().code_line = "0 /32 /F";
  ASSERT_EQ(lookup("TBRACK"), LookupResult::Matched);  // only the whole name
  EXPECT_EQ(s.pcnc_file_no, "0009");
}

TEST_F(ContentsLookup, StoresNeedTheWholeNameAndNothingMatchesAnEmptyName) {
  EXPECT_EQ(lookup("RBRACKE", RequestKind::Store), LookupResult::NoMatch);
  EXPECT_EQ(lookup("RSHAFT", RequestKind::Store), LookupResult::Matched);
  EXPECT_EQ(lookup("T)"), LookupResult::NoMatch);
  dir.write("CONTENTS", "");
  EXPECT_EQ(lookup("TSHAFT"), LookupResult::NoMatch);
  std::filesystem::remove(dir.path() / "CONTENTS");
  EXPECT_EQ(lookup("TSHAFT"), LookupResult::NoMatch);
}

}  // namespace
}  // namespace shoplink::testing
