#include "settings/settings.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include "settings/profile.h"
#include "testing/memory_env.h"
#include "text/gbk.h"

namespace skjk {
namespace {

using namespace text::literals;

using testing::MemoryEnv;

constexpr const char* kPath = "C:\\HOST\\params.cfg";

TEST(SettingsTest, PathIsBesideTheExecutable) {
  MemoryEnv env;
  EXPECT_EQ(SettingsPath(&env), kPath);
}

TEST(SettingsTest, FirstStartCreatesTheSection) {
  MemoryEnv env;
  Settings values;
  values.invoice_file = "stale";
  values.one_day_range = true;
  ASSERT_TRUE(LoadSettings(&env, kPath, "Bbsk", &values).ok());
  EXPECT_EQ(env.files[kPath],
            "[Bbsk]\r\nread=\r\nwrite1=\r\nwrite2=\r\nfhr=\r\nskr=\r\nsm=\r\n"
            "d=0\r\n");
  EXPECT_EQ(values, Settings());
}

TEST(SettingsTest, LoadReadsAndNeverWrites) {
  MemoryEnv env;
  const std::string file =
      "; shared by other programs\r\n"
      "[Fxsk]\r\nread=F\r\nd=1\r\n"
      "[bbsk]\r\n"
      "READ =  D:\\IN\\销售发票.TXT  \r\n"_gbk +
      "write1=\"D:\\OUT\\a b.TXT\"\r\n"
      "write2=D:\\OUT\\2.TXT\r\n"
      "fhr=复核甲\r\n"_gbk +
      "skr=@YWRY00\r\n"
      "sm=卷烟\r\n"_gbk +
      "d=0x10\r\n";
  env.files[kPath] = file;
  Settings values;
  ASSERT_TRUE(LoadSettings(&env, kPath, "Bbsk", &values).ok());
  EXPECT_EQ(values.invoice_file, "D:\\IN\\销售发票.TXT"_gbk);
  EXPECT_EQ(values.sales_file, "D:\\OUT\\a b.TXT");
  EXPECT_EQ(values.void_file, "D:\\OUT\\2.TXT");
  EXPECT_EQ(values.reviewer, "复核甲"_gbk);
  EXPECT_EQ(values.payee, "@YWRY00");
  EXPECT_EQ(values.tax_item, "卷烟"_gbk);
  EXPECT_TRUE(values.one_day_range);

  // A section that is missing reads as empty and false, and is not created.
  values.invoice_file = "stale";
  ASSERT_TRUE(LoadSettings(&env, kPath, "Jqsk", &values).ok());
  EXPECT_EQ(values, Settings());
  EXPECT_EQ(env.files[kPath], file);
  EXPECT_EQ(env.writes, 0);
}

TEST(SettingsTest, StoreWritesOnlyItsOwnSection) {
  MemoryEnv env;
  env.files[kPath] =
      "[Bbsk]\r\nread=B\r\nd=1\r\n\r\n[Fxsk]\r\nread=old\r\nextra=kept\r\n"
      "\r\n[Jqsk]\r\nread=J\r\n";
  Settings from{"D:\\IN\\销售发票.TXT"_gbk, "w1", "w2", "", "  ", "", true};
  Settings values;
  ASSERT_TRUE(StoreSettings(&env, kPath, "Fxsk", from, &values).ok());
  from.payee = "";  // blanks are not stored
  EXPECT_EQ(values.invoice_file, from.invoice_file);
  EXPECT_EQ(values.payee, "  ");  // the window keeps what was typed
  EXPECT_EQ(
      env.files[kPath],
      "[Bbsk]\r\nread=B\r\nd=1\r\n\r\n[Fxsk]\r\nread=D:\\IN\\销售发票.TXT"
      "\r\nextra=kept\r\nwrite1=w1\r\nwrite2=w2\r\nfhr=\r\nskr=\r\nsm=\r\n"
      "d=1\r\n\r\n[Jqsk]\r\nread=J\r\n"_gbk);
  Settings loaded;
  ASSERT_TRUE(LoadSettings(&env, kPath, "Fxsk", &loaded).ok());
  EXPECT_EQ(loaded, from);
}

TEST(SettingsTest, StoreStopsAtTheFailingKey) {
  MemoryEnv env;
  Settings values{"r0", "a0", "b0", "f0", "s0", "m0", false};
  Settings from{"r1", "a1", "b1", "f1", "s1", "m1", true};
  env.writes_left = 2;  // read and write1 succeed
  Status s = StoreSettings(&env, kPath, "Bbsk", from, &values);
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.message(), std::string("Unable to write to ") + kPath);
  EXPECT_EQ(values, (Settings{"r1", "a1", "b0", "f0", "s0", "m0", false}));
  EXPECT_EQ(env.files[kPath], "[Bbsk]\r\nread=r1\r\nwrite1=a1\r\n");
}

TEST(SettingsTest, LoadReportsAFailedFirstWrite) {
  MemoryEnv env;
  env.writes_left = 3;
  Settings values;
  Status s = LoadSettings(&env, kPath, "Bbsk", &values);
  EXPECT_EQ(s.message(), std::string("Unable to write to ") + kPath);
  EXPECT_EQ(values, Settings());
  EXPECT_EQ(env.files[kPath], "[Bbsk]\r\nread=\r\nwrite1=\r\nwrite2=\r\n");
}

// A new directory of the running test's own under the test temporary
// folder (with a trailing separator), removed with its content at the end.
class ScratchDirectory {
 public:
  ScratchDirectory() {
    const std::string temp = ::testing::TempDir();  // ends in a separator
    const std::string base =
        temp + "settings_test_" +
        ::testing::UnitTest::GetInstance()->current_test_info()->name() + "_";
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    // create_directory() is false for a name that is already taken.
    std::error_code ec;
    for (int i = 0; path_.empty() && i < 100; ++i) {
      std::string dir = base + std::to_string(stamp) + "_" + std::to_string(i);
      if (std::filesystem::create_directory(dir, ec)) path_ = dir + temp.back();
    }
  }
  ~ScratchDirectory() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  // Empty when no directory could be made.
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// The real file system: a directory that does not exist, and a round trip
// through a real file with a Chinese path.
TEST(SettingsFileTest, RealFiles) {
  Env* env = Env::Default();
  ScratchDirectory scratch;
  ASSERT_FALSE(scratch.path().empty());
  const std::string& dir = scratch.path();
  std::string missing = dir + "no such dir/" + "参数"_gbk + "/params.cfg";
  Settings values;
  Status s = LoadSettings(env, missing, "Bbsk", &values);
  EXPECT_EQ(s.message(), "Unable to write to " + missing);
  Settings typed;
  typed.invoice_file = "x";
  s = StoreSettings(env, missing, "Bbsk", typed, &values);
  EXPECT_EQ(s.message(), "Unable to write to " + missing);
  EXPECT_EQ(values, Settings());

  std::string path = dir + "参数_settings_test.cfg"_gbk;
  ASSERT_TRUE(env->WriteFile(path, "[Other]\r\nk=v\r\n").ok());
  Settings from{"C:\\读入\\销售发票.TXT"_gbk,
                "",
                "",
                "复核甲"_gbk,
                "收款乙"_gbk,
                "卷烟"_gbk,
                false};
  ASSERT_TRUE(StoreSettings(env, path, "Jqsk", from, &values).ok());
  Settings loaded;
  ASSERT_TRUE(LoadSettings(env, path, "Jqsk", &loaded).ok());
  EXPECT_EQ(loaded, from);
  EXPECT_EQ(ReadProfileKey(env, path, "Other", "k"), "v");
}

TEST(ParseFlagTest, Table) {
  struct Case {
    const char* value;
    bool want;
  } cases[] = {
      {"1", true},
      {"0", false},
      {"", false},
      {"yes", false},
      {"true", false},
      {"0x10", true},
      {"0X1f", true},
      {"0x0", false},
      {"0x", false},
      {"$ff", true},
      {"$0", false},
      {"$", false},
      {"-1", true},
      {"+2", true},
      {"-0", false},
      {"-", false},
      {" 1", true},
      {"1x", false},
      {"1 ", false},
      {"1.5", false},
      {"00", false},
      {"007", true},
      {"2147483647", true},
      {"2147483648", false},
      {"-2147483648", true},
      {"-2147483649", false},
      {"$FFFFFFFF", true},
      {"0x100000000", false},
      {"99999999999999999999999", false},
      {"0xg", false},
      {"１", false},  // full-width digit
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseFlag(c.value), c.want) << '"' << c.value << '"';
  }
}

}  // namespace
}  // namespace skjk
