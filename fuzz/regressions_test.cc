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

}  // namespace
}  // namespace skjk::fuzz
