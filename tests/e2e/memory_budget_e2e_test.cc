// The head-office window of the real 32-bit plug-in against more documents
// than its sets may hold. A 32-bit host has 2 GB of address space for itself
// and all its plug-ins; the window's sets may take 1.25 GiB of it. The
// fixture's 7,500,000 sales documents of 2003-01-01 (every field but the
// number and the date empty: 188 bytes each in the sets) go beyond that at
// about 7.1 million. Only the 32-bit build shows whether the budget, and not
// the address space, ends such a query, and whether what it took is given
// back to the process.
#include <windows.h>
// After windows.h:
#include <psapi.h>

#include <cstdio>
#include <string>
#include <thread>

#include "entry/entry_points.h"
#include "gtest/gtest.h"
#include "interface_window/win32/interface_window_frame.h"
#include "testing/win32/driver.h"

namespace skjk::e2e {
namespace {

using Ids = win32::InterfaceWindowFrame;

constexpr char kSettings[] =
    "[BBSK]\r\nread=C:\\in.txt\r\nwrite1=C:\\s.txt\r\nwrite2=C:\\v.txt\r\n"
    "fhr=\r\nskr=\r\nsm=\r\nd=0\r\n";

// The box's text around the number of documents received (the error box
// adds the last full stop).
constexpr char kBoxHead[] = "内存不足，容纳不下查询到的单据（收到 ";
constexpr char kBoxTail[] =
    " 张时停止），本次查询已放弃。请缩小日期区间后重新查询。.";

// The documents a 1.25 GiB budget holds at 188 bytes each, less the text
// table and a block's rounding: a query stopped before this was stopped by
// the system, not by the budget.
constexpr long long kDocumentsWithinTheBudget = 7000000;

PROCESS_MEMORY_COUNTERS MemoryCounters() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  return counters;
}
size_t WorkingSet() { return MemoryCounters().WorkingSetSize; }

struct Seen {
  bool window = false;
  std::string box;  // the message box of the large query, as UTF-8
  bool box_answered = false;
  std::string count_after_box;
  std::string small_query;  // panel 0 after the smaller query
  // Working set before the large query, its peak, and after the smaller one.
  size_t before = 0, peak = 0, after = 0;
};

void Drive(Seen* seen) {
  HWND window = WaitForWindow(W("本部税控机接口"), 10000);
  if (window == nullptr) return;
  seen->window = true;
  HWND status = WaitForChild(window, L"msctls_statusbar32");
  WaitUntilIdle(status);
  seen->before = WorkingSet();

  SetDate(GetDlgItem(window, Ids::kStartDateId), 2003, 1, 1);
  SetDate(GetDlgItem(window, Ids::kEndDateId), 2003, 1, 1);
  PostClick(GetDlgItem(window, Ids::kRefreshId));
  // Natively the 32-bit window takes about 10 s to reach the budget.
  HWND box = WaitForMessageBox(120000);
  if (box != nullptr) {
    seen->peak = MemoryCounters().PeakWorkingSetSize;
    seen->box = U8(MessageBoxText(box));
    seen->box_answered = AnswerMessageBox(box, IDOK);
    WaitUntilIdle(status);
    seen->count_after_box = U8(StatusText(status, 0));
  }

  SetDate(GetDlgItem(window, Ids::kStartDateId), 2002, 8, 1);
  SetDate(GetDlgItem(window, Ids::kEndDateId), 2002, 8, 31);
  PostClick(GetDlgItem(window, Ids::kRefreshId));
  WaitForCount(status, "记录数=2");
  seen->small_query = U8(StatusText(status, 0));
  seen->after = WorkingSet();
  PostClick(GetDlgItem(window, Ids::kExitId));
}

TEST(MemoryBudgetE2eTest,
     QueryBeyondTheBudgetStopsFreesAllAndASmallerOneWorks) {
  static_assert(sizeof(void*) == 4, "the budget under test is the 32-bit one");
  Watchdog watchdog(240000, "MemoryBudgetE2eTest");
  const std::wstring dir = ProgramDirectory();
  const std::string machine = ServerMachine(dir);
  ASSERT_FALSE(machine.empty())
      << "no server.port: the server fixture did not run";
  ASSERT_TRUE(WriteWholeFile(dir + L"params.cfg", kSettings));
  HMODULE library = LoadLibraryW((dir + L"skjk.dll").c_str());
  ASSERT_NE(library, nullptr);
  auto entry = reinterpret_cast<ShowDllFunction>(
      reinterpret_cast<void*>(GetProcAddress(library, "ShowDllBbsk")));
  ASSERT_NE(entry, nullptr);
  HWND host = CreateHostWindow(900, 0, 200, 100);
  ASSERT_NE(host, nullptr);

  Seen seen;
  std::thread driver([&] { Drive(&seen); });
  entry(host, nullptr, nullptr, nullptr, nullptr, machine.c_str());
  driver.join();
  PumpMessages();
  DestroyWindow(host);
  FreeLibrary(library);

  ASSERT_TRUE(seen.window);
  ASSERT_TRUE(seen.box.starts_with(kBoxHead) && seen.box.ends_with(kBoxTail))
      << "the large query ended with \"" << seen.box << "\"";
  const long long received = std::stoll(seen.box.substr(sizeof kBoxHead - 1));
  EXPECT_GT(received, kDocumentsWithinTheBudget)
      << "the query stopped before the budget was reached";
  EXPECT_LT(received, 7500000);
  EXPECT_TRUE(seen.box_answered);
  // Nothing half-loaded shows.
  EXPECT_EQ(seen.count_after_box, "记录数=0");
  EXPECT_EQ(seen.small_query, "记录数=2");
  std::printf(
      "working set: %.0f MB before, %.0f MB at its peak, %.0f MB after\n",
      seen.before / 1048576.0, seen.peak / 1048576.0, seen.after / 1048576.0);
  EXPECT_GT(seen.peak, seen.before + (size_t{1024} << 20))
      << "the sets never held the budget's memory";
  EXPECT_LT(seen.after, seen.before + (size_t{256} << 20))
      << "the memory of the stopped query was not given back";
}

}  // namespace
}  // namespace skjk::e2e
