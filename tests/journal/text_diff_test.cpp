// The history's diff compares lines as a machine reads them: parity and line ends never
// show as differences; real changes come as unified hunks with three lines of context.
#include "journal/text_diff.hpp"

#include <gtest/gtest.h>

namespace shoplink {
namespace {

// Sets the parity bit on every character (as an even-parity port may store them).
std::string with_parity(std::string s) {
  for (auto& c : s) c = static_cast<char>(static_cast<unsigned char>(c) | 0x80);
  return s;
}

struct SameCase {
  const char* name;
  std::string a, b;
};

class NoDifference : public ::testing::TestWithParam<SameCase> {};

TEST_P(NoDifference, IsReportedAsNone) {
  EXPECT_EQ(unified_diff(GetParam().a, GetParam().b, "a", "b"), "");
}

INSTANTIATE_TEST_SUITE_P(
    Diff, NoDifference,
    ::testing::Values(SameCase{"CrLfAgainstLf", "O1\r\nG0 X1\r\nM30\r\n", "O1\nG0 X1\nM30\n"},
                      SameCase{"LoneCr", "O1\rG0 X1\rM30\r", "O1\r\nG0 X1\r\nM30\r\n"},
                      SameCase{"NoEndOnTheLastLine", "O1\r\nM30", "O1\r\nM30\r\n"},
                      SameCase{"Parity", with_parity("O1\r\nG0 X1\r\n"), "O1\r\nG0 X1\r\n"},
                      SameCase{"Both", with_parity("O1\rM30\r"), "O1\nM30"}),
    [](const auto& info) { return std::string(info.param.name); });

struct DiffCase {
  const char* name;
  std::string a, b;
  std::string hunks;  // everything after the two label lines
};

class Hunks : public ::testing::TestWithParam<DiffCase> {};

TEST_P(Hunks, AreWrittenAsDiffWritesThem) {
  const DiffCase& c = GetParam();
  EXPECT_EQ(unified_diff(c.a, c.b, "old", "new"), "--- old\n+++ new\n" + c.hunks);
}

std::string numbered(int from, int to, int changed = 0, const char* as = "") {
  std::string out;
  for (int i = from; i <= to; ++i)
    out += (i == changed ? std::string(as) : "N" + std::to_string(i)) + "\r\n";
  return out;
}

INSTANTIATE_TEST_SUITE_P(
    Diff, Hunks,
    ::testing::Values(DiffCase{"OneLineChanged", numbered(1, 10), numbered(1, 10, 5, "N5 CHANGED"),
                               "@@ -2,7 +2,7 @@\n N2\n N3\n N4\n-N5\n+N5 CHANGED\n N6\n N7\n N8\n"},
                      DiffCase{"AtTheStart", numbered(1, 5), numbered(1, 5, 1, "O1"),
                               "@@ -1,4 +1,4 @@\n-N1\n+O1\n N2\n N3\n N4\n"},
                      DiffCase{"AddedAtTheEnd", numbered(1, 4), numbered(1, 5),
                               "@@ -2,3 +2,4 @@\n N2\n N3\n N4\n+N5\n"},
                      DiffCase{"FromNothing", "", "A\r\nB\r\n", "@@ -0,0 +1,2 @@\n+A\n+B\n"},
                      // Changes more than six unchanged lines apart are separate hunks.
                      DiffCase{"TwoHunks", numbered(1, 20),
                               [] {
                                 std::string t = numbered(1, 20, 2, "X2");
                                 return t.replace(t.find("N18\r\n"), 5, "X18\r\n");
                               }(),
                               "@@ -1,5 +1,5 @@\n N1\n-N2\n+X2\n N3\n N4\n N5\n"
                               "@@ -15,6 +15,6 @@\n N15\n N16\n N17\n-N18\n+X18\n N19\n N20\n"},
                      DiffCase{"ControlCharactersShown", "G1\r\n", "G1\x1b\r\n",
                               "@@ -1 +1 @@\n-G1\n+G1<1B>\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ProgramLines, EveryKindOfLineEndEndsALineAndNoneAddsOne) {
  EXPECT_EQ(program_lines("A\r\nB\rC\nD"), (std::vector<std::string>{"A", "B", "C", "D"}));
  EXPECT_EQ(program_lines("A\r\n\r\nB\r\n"), (std::vector<std::string>{"A", "", "B"}));
  EXPECT_TRUE(program_lines("").empty());
}

}  // namespace
}  // namespace shoplink
