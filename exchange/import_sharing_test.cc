// The import's reading of the issued-invoice file under the system's file
// sharing, with another process holding the file open (Windows only).
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "exchange/import.h"
#include "testing/win32/held_file.h"
#include "text/gbk.h"

namespace skjk {
namespace {

using e2e::HeldFile;

class RecordingHost final : public ImportHost {
 public:
  void Tell(Notice, std::string_view text) override {
    told.push_back(text::GbkToUtf8(text));
  }
  bool Confirm(std::string_view) override { return true; }
  bool ConfirmWarning(std::string_view) override { return true; }
  void OpenSettings() override {}
  void SetStatus(std::string_view) override {}
  // The dates are taken from a file that was read.
  void SetStartDate(text::Day) override { dates_taken = true; }
  void SetEndDate(text::Day) override { dates_taken = true; }
  void BeginWalk(int) override {}
  void StepWalk() override {}
  void EndWalk() override {}
  void ShowInvoiced() override {}

  std::vector<std::string> told;
  bool dates_taken = false;
};

class ImportSharingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t folder[MAX_PATH + 1];
    ASSERT_GT(GetTempPathW(MAX_PATH + 1, folder), 0u);
    path_ = std::wstring(folder) + L"skjk-发票-" +
            std::to_wstring(GetCurrentProcessId()) + L".txt";
    gbk_path_ = text::WideToGbk(path_);
    ASSERT_TRUE(Env::Default()->WriteFile(gbk_path_, kFile).ok());
  }
  void TearDown() override { DeleteFileW(path_.c_str()); }

  const std::string kFile =
      "SJJK0201\r\n1~~20240101~~20240131\r\n"
      "0~~x~~x~~110012~~0001234~~0~~20240115~~x~~101\r\n";
  std::wstring path_;
  std::string gbk_path_;
};

// Held open for writing by another program, the file is not read: the
// import ends through its failure path before anything goes to the server.
TEST_F(ImportSharingTest, AFileOpenForWritingElsewhereIsNotImported) {
  HeldFile writer(HeldFile::Mode::kWrite, path_);
  ASSERT_TRUE(writer.held()) << writer.error();
  std::string bytes;
  EXPECT_FALSE(Env::Default()->ReadFile(gbk_path_, &bytes).ok());

  RecordingHost host;
  Connection connection;  // never asked: the reading fails first
  RunImport(ImportRules{.line = "Bbsk", .sales_table = "XSTXSFP1"}, gbk_path_,
            Env::Default(), &connection, &host);
  EXPECT_EQ(host.told, std::vector<std::string>{"文件读入发生意外错误！"});
  EXPECT_FALSE(host.dates_taken);
  EXPECT_FALSE(connection.connected());
}

// Other readers are no obstacle, and neither is a writer that has gone.
TEST_F(ImportSharingTest, ReadersBesideAndWritersGoneAreNoObstacle) {
  {
    HeldFile reader(HeldFile::Mode::kRead, path_);
    ASSERT_TRUE(reader.held()) << reader.error();
    std::string bytes;
    Status read = Env::Default()->ReadFile(gbk_path_, &bytes);
    EXPECT_TRUE(read.ok()) << read.message();
    EXPECT_EQ(bytes, kFile);
  }
  {
    HeldFile writer(HeldFile::Mode::kWrite, path_);
    ASSERT_TRUE(writer.held()) << writer.error();
  }
  std::string bytes;
  Status read = Env::Default()->ReadFile(gbk_path_, &bytes);
  EXPECT_TRUE(read.ok()) << read.message();
  EXPECT_EQ(bytes, kFile);
}

}  // namespace
}  // namespace skjk
