// Replays every input kept under fuzz/regressions/<target>/ (inputs that
// once found a fault, and the seeds that reach the interesting paths)
// through the entry function its fuzz target calls.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>

#include "fuzz/entries.h"

namespace skjk::fuzz {
namespace {

namespace fs = std::filesystem;

}  // namespace

// Names the target in test listings (instead of its bytes).
void PrintTo(const Target& target, std::ostream* os) { *os << target.name; }

namespace {

class RegressionTest : public ::testing::TestWithParam<Target> {};

TEST_P(RegressionTest, EveryKeptInputPasses) {
  const Target& target = GetParam();
  fs::path dir = fs::path(SKJK_FUZZ_DIR) / "regressions" / target.name;
  ASSERT_TRUE(fs::is_directory(dir)) << dir;
  int replayed = 0;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    ASSERT_TRUE(in) << "cannot read " << entry.path();
    std::stringstream bytes;
    bytes << in.rdbuf();
    EXPECT_EQ(target.entry(bytes.str()), "") << entry.path();
    ++replayed;
  }
  EXPECT_GT(replayed, 0) << "no inputs in " << dir;
}

INSTANTIATE_TEST_SUITE_P(Targets, RegressionTest, ::testing::ValuesIn(kTargets),
                         [](const ::testing::TestParamInfo<Target>& info) {
                           return std::string(info.param.name);
                         });

// The dialect target's check tells a faithful rewrite from wrong ones, so
// that a replay through it can fail.
TEST(UpdateAliasCheckTest, TellsAFaithfulRewriteFromWrongOnes) {
  const std::string sql =
      "update S.T A set A.C=(select max(B.X) from U B where B.Y=A.Y), "
      "A.D='a.b' where A.E=1";
  struct Case {
    const char* label;
    std::string rewritten;
    const char* failure;  // part of the message; empty: it passes
  };
  const Case cases[] = {
      {"faithful",
       "update S.T AS A set C=(select max(B.X) from U B where B.Y=A.Y), "
       "D='a.b' where A.E=1",
       ""},
      {"other white space and comments",
       "update S.T /* x */ AS A\nset C=(select max(B.X) from U B where "
       "B.Y=A.Y),D='a.b'  where A.E=1",
       ""},
      {"no AS", sql, "in the statement's table and alias"},
      {"another table",
       "update S.U AS A set C=(select max(B.X) from U B where B.Y=A.Y), "
       "D='a.b' where A.E=1",
       "in the statement's table and alias"},
      {"the schema dropped",
       "update T AS A set C=(select max(B.X) from U B where B.Y=A.Y), "
       "D='a.b' where A.E=1",
       "in the statement's table and alias"},
      {"another column",
       "update S.T AS A set C=(select max(B.X) from U B where B.Y=A.Y), "
       "E='a.b' where A.E=1",
       "in a column the statement sets"},
      {"a qualifier left on a column",
       "update S.T AS A set C=(select max(B.X) from U B where B.Y=A.Y), "
       "A.D='a.b' where A.E=1",
       "in a column the statement sets"},
      {"a qualifier dropped in a sub-query",
       "update S.T AS A set C=(select max(B.X) from U B where B.Y=Y), "
       "D='a.b' where A.E=1",
       "outside the alias"},
      {"a qualifier dropped after WHERE",
       "update S.T AS A set C=(select max(B.X) from U B where B.Y=A.Y), "
       "D='a.b' where E=1",
       "outside the alias"},
      {"a piece dropped",
       "update S.T AS A set C=(select max(B.X) from U B where B.Y=A.Y), "
       "D='a.b' where A.E=",
       "outside the alias"},
      {"a piece twice",
       "update S.T AS A set C=(select max(B.X) from from U B where B.Y=A.Y), "
       "D='a.b' where A.E=1",
       "outside the alias"},
      {"a literal changed",
       "update S.T AS A set C=(select max(B.X) from U B where B.Y=A.Y), "
       "D='b' where A.E=1",
       "outside the alias"},
  };
  for (const Case& c : cases) {
    const std::string failure = CheckUpdateAliasRewrite(sql, c.rewritten);
    if (*c.failure == '\0') {
      EXPECT_EQ(failure, "") << c.label;
    } else {
      EXPECT_NE(failure.find(c.failure), std::string::npos)
          << c.label << ": " << failure;
    }
  }
  // Any other statement comes back byte for byte.
  EXPECT_EQ(CheckUpdateAliasRewrite("update T set C=1", "update T set C=1"),
            "");
  EXPECT_NE(CheckUpdateAliasRewrite("update T set C=1", "update T  set C=1"),
            "");
  EXPECT_NE(CheckUpdateAliasRewrite("update T AS A set A.C=1",
                                    "update T AS A set C=1"),
            "");
}

}  // namespace
}  // namespace skjk::fuzz
