// Programs for VISION controls: each line's M80-M83 and M32-M38 codes become a G83 cycle
// call, and the converted scratch file is what the machine receives.
#include "receive/vision_conversion.hpp"

#include <gtest/gtest.h>

#include <filesystem>

#include "transmit/transmit_story.hpp"

namespace shoplink {
namespace {

using testing::even;
using testing::port1_dncdata;
using testing::TransmitStory;

struct LineCase {
  const char* in;
  const char* out;
};

class VisionLine : public ::testing::TestWithParam<LineCase> {};

TEST_P(VisionLine, IsConvertedByItsCodes) {
  EXPECT_EQ(vision_line(GetParam().in), GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, VisionLine,
    ::testing::Values(LineCase{"G0 X1. Y2.", "G0 X1. Y2."},  // no M at all
                      LineCase{"M5 X1.", "M5 X1."},          // an M, none of the codes
                      LineCase{"M80 X1.", "G83IJ0 X1."},     // variant, no tool
                      LineCase{"M81 X1.", "G83IJ1 X1."}, LineCase{"M82 X1.", "G83IJ2 X1."},
                      LineCase{"M83 X1.", "G83IJ3 X1."},
                      LineCase{"M34 M36 M81 X1.",
                               "G83I13J1   X1."},                   // spaces kept where codes were
                      LineCase{"M32 M83 X1.", "G83I12345J3  X1."},  // all tools
                      LineCase{"M32 M33 M80", "G83IJ0  "},          // M33 empties what M32 set
                      LineCase{"M32M33M35M80X1.", "G83I2J0X1."},    // M34-M38 add again after M33
                      LineCase{"M35M36M37M38M34M82", "G83I12345J2"},  // tools in ascending order
                      LineCase{"M83M80Y2.", "G83IJ0Y2."},  // the first variant in M80..M83 order
                      LineCase{"M800", "G83IJ00"},         // M80 cut, the digit stays
                      LineCase{"M80 M80 X1.", "G83IJ0 M80 X1."},  // only the first occurrence
                      LineCase{"M36 X1. M5", " X1. M5"},          // tool codes only: cut out
                      LineCase{"m80 X1.", "m80 X1."},             // case-sensitive
                      LineCase{"N10 M37 M38 M83 Z-1.", "G83I45J3N10    Z-1."}));

struct VisionStory : TransmitStory {
  explicit VisionStory(const std::string& code_line = "0 VISION", const std::string& line2 = "=5")
      : TransmitStory(port1_dncdata(code_line, "", line2)) {}
  std::string scratch() const { return f.read_file(kVisionScratch); }
};

const std::string kStored =
    "%\r\nO10\r\nG0 X0 Y0\r\nM80 M32 X1.\r\nM81 M33 M35 X2.\r\nM82 M34 M36 X3.\r\n"
    "M83 M37 M38 X4.\r\nM36 X5.\r\nM5\r\nM30\r\n%\r\n";
const std::string kConverted =
    "%\r\nO10\r\nG0 X0 Y0\r\nG83I12345J0  X1.\r\nG83I2J1   X2.\r\nG83I13J2   X3.\r\n"
    "G83I45J3   X4.\r\n X5.\r\nM5\r\nM30\r\n%\r\n";

TEST(VisionRequest, TheConvertedFileIsSentAndTheStoredOneStaysAsItWas) {
  VisionStory t;
  t.f.write_file("O10", kStored);
  t.request("TO10");
  t.xon_and_finish();
  EXPECT_EQ(t.scratch(), kConverted);
  EXPECT_EQ(t.f.read_file("O10"), kStored);
  EXPECT_EQ(t.machine().received_text().find("M80"), std::string::npos);
  EXPECT_NE(t.machine().received_bytes().find(even(kConverted)), std::string::npos);
  EXPECT_TRUE(t.logged("Port 1 Converting file " + t.s().station_dir() + "/O10 for Vision CNC"));
  EXPECT_TRUE(t.logged("Autopath/Vision file conversion successful"));
  EXPECT_FALSE(t.logged("Autopath/Vision file conversion error"));
  EXPECT_TRUE(t.logged("File " + t.s().station_dir() + "/" + kVisionScratch + " transmitted"));
  EXPECT_TRUE(t.status_shown("Converting file"));
}

TEST(VisionRequest, TheQuotedLineFormLosesItsHeaderAndItsQuotes) {
  VisionStory t("0 VISION", "=5 PCNC");
  t.f.write_file("PROG0012", "\"O12 (HEADER)\"\r\n\"O12\"\r\n\"M80 M34 X1.\"\r\n\"M30\"\r\n");
  t.request("T12");
  t.xon_and_finish();
  EXPECT_EQ(t.scratch(), "O12\r\nG83I1J0  X1.\r\nM30\r\n");
  EXPECT_NE(t.machine().received_bytes().find(even("O12\r\nG83I1J0  X1.\r\nM30\r\n")),
            std::string::npos);
  EXPECT_EQ(t.machine().received_text().find("HEADER"), std::string::npos);
  EXPECT_TRUE(t.logged("Autopath/Vision file conversion successful"));
}

TEST(VisionRequest, AFailedConversionSendsTheStoredProgramUnconverted) {
  VisionStory t;
  t.f.write_file("O10", kStored);
  // The scratch file cannot be created where a directory of its name stands.
  std::filesystem::create_directory(t.f.dir.path() / kVisionScratch);
  t.request("TO10");
  t.xon_and_finish();
  EXPECT_TRUE(t.logged("Autopath/Vision file conversion error"));
  EXPECT_FALSE(t.logged("Autopath/Vision file conversion successful"));
  EXPECT_NE(t.machine().received_bytes().find(even(kStored)), std::string::npos);
  EXPECT_TRUE(t.logged("File " + t.s().station_dir() + "/O10 transmitted"));
}

TEST(VisionRequest, OnlyVisionPortsAreConverted) {
  VisionStory t("0");
  t.f.write_file("O10", kStored);
  t.request("TO10");
  t.xon_and_finish();
  EXPECT_FALSE(std::filesystem::exists(t.f.dir.path() / kVisionScratch));
  EXPECT_NE(t.machine().received_bytes().find(even(kStored)), std::string::npos);
}

TEST(VisionConversion, AMissingInputIsAConversionError) {
  VisionStory t;
  t.f.start();
  EXPECT_EQ(Autopath_Vision(t.s(), t.s().station_file("NOSUCH")), kConversionError);
}

}  // namespace
}  // namespace shoplink
