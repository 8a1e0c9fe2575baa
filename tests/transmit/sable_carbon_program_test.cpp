// The SABLE CARBON program changes: what a "/M" machine receives for each kind of line.
#include "transmit/sable_carbon_program.hpp"

#include <gtest/gtest.h>

#include "transmit/transmit_story.hpp"

namespace shoplink {
namespace {

using testing::even;
using testing::even_default_trailer;
using testing::port1_dncdata;
using testing::TransmitStory;

// What a machine receives for program O1, `line`, N999 on port 1 (code line `code_line`)
// at the site named `customer`.
std::string received(const std::string& code_line, const std::string& line,
                     const std::string& customer = "SABLE CARBON Co.") {
  TransmitStory t(port1_dncdata(code_line));
  t.f.write_file("CUSTOMER", customer + "\r\n");
  t.f.write_file("O1", "O1\r\n" + line + "\r\nN999\r\n");
  t.request("TO1");
  t.xon_and_finish();
  return t.machine().received_bytes();
}

// No parity (code type 2): the bytes read as written.
const std::string kPlainTrailer = std::string(10, '\0') + "%\r\n\x04\x14";

struct Change {
  const char* line;
  const char* sent;  // between O1 CR LF and N999 CR LF
};

const Change kChanges[] = {
    {"N5M42", "N5M42\r\nG60"},
    {"N100M00", "G61N100M00\r\nG62"},
    {"N110M02", "G61N110M02\r\nG62"},
    {"N120M0", "G61N120M0\r\nG62"},  // end of block after M0: no digit follows
    {"N130M01", "N130M01\r\n"},      // a digit follows M0: unchanged
    {"N140M05", "N140M05\r\n"},
    {"N150M2X1", "G61N150M2X1\r\nG62"},
    {"N160M21", "N160M21\r\n"},
    {"N200M30", "N200G61\r\nM30"},
    {"N210M05M30", "N210M05M30\r\n"},  // M0 is found first and decides
    {"N300G01X1.0", "N300G01X1.0\r\n"},
};

TEST(SableCarbonProgram, EachKindOfLineOnASlashMPort) {
  for (const auto& c : kChanges) {
    EXPECT_EQ(received("2 /M", c.line),
              "\r\nO1\r\n" + std::string(c.sent) + "N999\r\n" + kPlainTrailer)
        << c.line;
  }
}

TEST(SableCarbonProgram, WithoutSlashMOrAtOtherSitesNothingChanges) {
  const std::string plain = "\r\nO1\r\nN100M00\r\nN999\r\n" + kPlainTrailer;
  EXPECT_EQ(received("2", "N100M00"), plain);
  EXPECT_EQ(received("2 /M", "N100M00", "Carbon Sable"), plain);
}

// The codes are found whatever the port's parity, and the additions reach the machine in
// the port's own code.
TEST(SableCarbonProgram, ParityPortsGetTheSameChangesInTheirCode) {
  EXPECT_EQ(received("0 /M", "N5M42"),
            even("\r\nO1\r\nN5M42\r\nG60N999\r\n") + even_default_trailer());
  EXPECT_EQ(received("0 /M", "N100M02"),
            even("\r\nO1\r\nG61N100M02\r\nG62N999\r\n") + even_default_trailer());
}

}  // namespace
}  // namespace shoplink
