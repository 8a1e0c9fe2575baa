// The CONTENTS index of numbered programs: order, replacement, the kept name, and that a
// failed rewrite leaves the index as it was.
#include "receive/contents_index.hpp"

#include <gtest/gtest.h>

#include "support/temp_dir.hpp"

namespace shoplink {
namespace {

using testing::TempDir;

class ContentsIndex : public ::testing::Test {
 protected:
  TempDir dir;
  std::filesystem::path contents() const { return dir.path() / "CONTENTS"; }
  bool rewrite(const std::string& number, const std::string& name, double size) {
    return rewrite_contents(contents(), dir.path() / "TEMPFILE", number, name, size);
  }
};

TEST_F(ContentsIndex, NewNumberGoesInOrderAndExecLinesAreDropped) {
  dir.write("CONTENTS", "\"0100\",\"HUB\", 10\r\n\"EXEC\",\"RUN\", 1\r\n\"0300\",\"ARM\", 30\r\n");
  ASSERT_TRUE(rewrite("0200", "BRACKET", 2201));
  EXPECT_EQ(dir.read("CONTENTS"),
            "\"0100\",\"HUB\", 10\r\n\"0200\",\"BRACKET\", 2201\r\n\"0300\",\"ARM\", 30\r\n");
  EXPECT_FALSE(dir.exists("TEMPFILE"));
}

TEST_F(ContentsIndex, SameNumberIsReplacedAndLaterDuplicatesGo) {
  dir.write("CONTENTS", "\"0100\",\"HUB\", 10\r\n\"0300\",\"ARM\", 30\r\n\"0300\",\"OLD\", 3\r\n");
  ASSERT_TRUE(rewrite("0300", "LEVER", 44));
  EXPECT_EQ(dir.read("CONTENTS"), "\"0100\",\"HUB\", 10\r\n\"0300\",\"LEVER\", 44\r\n");
}

TEST_F(ContentsIndex, DncLinkUploadKeepsTheIndexedNameAndTakesTheNewSize) {
  dir.write("CONTENTS", "\"0300\",\"ARM\", 30\r\n");
  ASSERT_TRUE(rewrite("0300", "INPUT VIA DNC LINK ON 12-07-2026", 99));
  EXPECT_EQ(dir.read("CONTENTS"), "\"0300\",\"ARM\", 99\r\n");
}

TEST_F(ContentsIndex, HighestNumberIsAppendedAndMissingIndexIsCreated) {
  ASSERT_TRUE(rewrite("0005", "FIRST", 7));
  ASSERT_TRUE(rewrite("0009", "LAST", 8));
  EXPECT_EQ(dir.read("CONTENTS"), "\"0005\",\"FIRST\", 7\r\n\"0009\",\"LAST\", 8\r\n");
  ASSERT_TRUE(append_contents(contents(), "0001", "TAIL", 3));
  EXPECT_EQ(dir.read("CONTENTS"),
            "\"0005\",\"FIRST\", 7\r\n\"0009\",\"LAST\", 8\r\n\"0001\",\"TAIL\", 3\r\n");
}

TEST_F(ContentsIndex, UnwritableTemporaryFileLeavesTheIndexUnchanged) {
  dir.write("CONTENTS", "\"0100\",\"HUB\", 10\r\n");
  EXPECT_FALSE(rewrite_contents(contents(), dir.path() / "missing" / "TEMPFILE", "0200", "X", 1));
  EXPECT_EQ(dir.read("CONTENTS"), "\"0100\",\"HUB\", 10\r\n");
}

}  // namespace
}  // namespace shoplink
