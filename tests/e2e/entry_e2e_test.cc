// The plug-in as a host sees it: loaded with LoadLibrary, entry points called
// by ordinal from a host window on this thread, the opened window driven from
// a second thread.
#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include "entry/entry_points.h"
#include "gtest/gtest.h"
#include "testing/win32/driver.h"

namespace skjk::e2e {
namespace {

struct LineCase {
  int ordinal;
  const char* name;
  const char* caption;       // UTF-8
  const char* dialog_title;  // UTF-8, the settings dialog
  const wchar_t* window_class;
};

const LineCase kLines[] = {
    {1, "ShowDllJqsk", "vu税控机接口", "vu税控机接口参数设置", L"TFrmJqsk"},
    {2, "ShowDllFxsk", "税控机接口", "税控机接口参数设置", L"TFrmFxsk"},
    {3, "ShowDllBbsk", "本部税控机接口", "本部税控机接口参数设置", L"TFrmBbsk"},
};

// What the driver thread saw of an open interface window.
struct Seen {
  HWND window = nullptr;
  HWND owner = nullptr;
  bool host_enabled = true;
  std::wstring class_name;
  std::wstring count_panel;
  std::vector<std::wstring> boxes;  // message boxes met while opening
};

class EntryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ProgramDirectory();
    config_ = dir_ + L"params.cfg";
    RemoveConfig();
    library_ = LoadLibraryW((dir_ + L"skjk.dll").c_str());
    ASSERT_NE(library_, nullptr) << "cannot load skjk.dll next to the test";

    host_ = CreateHostWindow(0, 0, 300, 200);
    ASSERT_NE(host_, nullptr);
  }

  void TearDown() override {
    PumpMessages();
    if (host_ != nullptr) DestroyWindow(host_);
    if (library_ != nullptr) FreeLibrary(library_);
    RemoveConfig();
  }

  void RemoveConfig() {
    DeleteFileW(config_.c_str());
    RemoveDirectoryW(config_.c_str());
  }

  // File settings for every business line, so that the windows open without
  // asking for them first (only the first-start tests need that path).
  void SeedSettings() {
    std::string text;
    for (const char* section : {"Jqsk", "Fxsk", "Bbsk"}) {
      text += std::string("[") + section +
              "]\r\nread=C:\\fp.txt\r\nwrite1=C:\\xs.txt\r\n"
              "write2=C:\\bf.txt\r\n";
    }
    HANDLE h = CreateFileW(config_.c_str(), GENERIC_WRITE, 0, nullptr,
                           CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD n = 0;
    WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &n, nullptr);
    CloseHandle(h);
  }

  ShowDllFunction Entry(int ordinal) {
    return reinterpret_cast<ShowDllFunction>(reinterpret_cast<void*>(
        GetProcAddress(library_, MAKEINTRESOURCEA(ordinal))));
  }

  // Runs on the driver thread: waits for the business line's window (answering
  // what it asks while opening, e.g. a missing application server or missing
  // settings), records what it sees and closes it with "退出" (or the close
  // box). Checks are made afterwards on the main thread.
  static void DriveAndClose(const LineCase& line, HWND host, bool close_box,
                            Seen* seen) {
    HWND window = WaitForReadyWindow(W(line.caption), W("退出"), &seen->boxes,
                                     W(line.dialog_title));
    if (window == nullptr) {
      // Still end the call if the window is there at all; else the watchdog
      // ends the hung call.
      window = FindTopLevel(L"", W(line.caption));
      if (window != nullptr) PostMessageW(window, WM_CLOSE, 0, 0);
      return;
    }
    seen->window = window;
    HWND exit = FindChild(window, L"Button", W("退出"));
    HWND status = FindChild(window, L"msctls_statusbar32");
    seen->owner = GetWindow(window, GW_OWNER);
    seen->host_enabled = IsWindowEnabled(host) != FALSE;
    seen->class_name = ClassName(window);
    if (status != nullptr) seen->count_panel = StatusText(status, 0);
    CloseAndWait(window, close_box ? nullptr : exit, &seen->boxes,
                 W(line.dialog_title));
  }

  std::wstring dir_;
  std::wstring config_;
  HMODULE library_ = nullptr;
  HWND host_ = nullptr;
  Watchdog watchdog_{20000, "EntryTest"};
};

TEST_F(EntryTest, ExportsByOrdinalAndUndecoratedName) {
  for (const LineCase& v : kLines) {
    void* by_ordinal = reinterpret_cast<void*>(Entry(v.ordinal));
    EXPECT_NE(by_ordinal, nullptr) << v.ordinal;
    EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(library_, v.name)),
              by_ordinal)
        << v.name;
    std::string decorated = std::string(v.name) + "@24";
    EXPECT_EQ(GetProcAddress(library_, decorated.c_str()), nullptr);
    EXPECT_EQ(GetProcAddress(library_, ("_" + decorated).c_str()), nullptr);
  }
  EXPECT_EQ(GetProcAddress(library_, MAKEINTRESOURCEA(4)), nullptr);
}

TEST_F(EntryTest, HeadOfficeFirstStartOwnsDisablesAndWritesSettings) {
  const LineCase& bbsk = kLines[2];
  Seen seen;
  std::thread driver([&] { DriveAndClose(bbsk, host_, false, &seen); });
  Entry(bbsk.ordinal)(host_, "u1", nullptr, "u3", nullptr, "");
  driver.join();

  ASSERT_NE(seen.window, nullptr);
  EXPECT_EQ(seen.owner, host_);
  EXPECT_FALSE(seen.host_enabled);
  EXPECT_EQ(seen.class_name, bbsk.window_class);
  EXPECT_EQ(U8(seen.count_panel), "记录数=0");

  // The call has returned: host usable again, window hidden, its release
  // pending until this thread dispatches messages.
  EXPECT_TRUE(IsWindowEnabled(host_));
  EXPECT_TRUE(IsWindow(seen.window));
  EXPECT_FALSE(IsWindowVisible(seen.window));
  PumpMessages();
  EXPECT_FALSE(IsWindow(seen.window));

  EXPECT_EQ(ReadWholeFile(config_),
            "[Bbsk]\r\nread=\r\nwrite1=\r\nwrite2=\r\nfhr=\r\nskr=\r\nsm=\r\n"
            "d=0\r\n");
}

TEST_F(EntryTest, OtherWindowsOfTheThreadAreDisabledOnlyWhileModal) {
  SeedSettings();
  HWND other = CreateWindowExW(
      0, L"SkjkE2eHost", L"other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 320, 0,
      200, 100, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  HWND disabled = CreateWindowExW(
      0, L"SkjkE2eHost", L"disabled",
      WS_OVERLAPPEDWINDOW | WS_VISIBLE | WS_DISABLED, 540, 0, 200, 100, nullptr,
      nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(other, nullptr);
  ASSERT_NE(disabled, nullptr);
  const LineCase& fxsk = kLines[1];
  Seen seen;
  bool other_enabled = true;
  std::thread driver([&] {
    if (WaitForReadyWindow(W(fxsk.caption), W("退出"), nullptr,
                           W(fxsk.dialog_title)) != nullptr) {
      other_enabled = IsWindowEnabled(other) != FALSE;
    }
    DriveAndClose(fxsk, host_, false, &seen);
  });
  Entry(fxsk.ordinal)(host_, nullptr, nullptr, nullptr, nullptr, nullptr);
  driver.join();
  EXPECT_FALSE(other_enabled);
  EXPECT_FALSE(seen.host_enabled);
  EXPECT_TRUE(IsWindowEnabled(other));
  EXPECT_TRUE(IsWindowEnabled(host_));
  EXPECT_FALSE(IsWindowEnabled(disabled)) << "was disabled before the call";
  DestroyWindow(other);
  DestroyWindow(disabled);
}

TEST_F(EntryTest, EveryWindowEndsByExitButtonOrCloseBox) {
  SeedSettings();
  for (bool close_box : {false, true}) {
    for (const LineCase& v : kLines) {
      SCOPED_TRACE(std::string(v.name) + (close_box ? " close box" : " 退出"));
      Seen seen;
      std::thread driver([&] { DriveAndClose(v, host_, close_box, &seen); });
      Entry(v.ordinal)(host_, nullptr, nullptr, nullptr, nullptr, nullptr);
      driver.join();
      EXPECT_EQ(seen.owner, host_);
      EXPECT_FALSE(seen.host_enabled);
      EXPECT_EQ(seen.class_name, v.window_class);
      EXPECT_TRUE(IsWindowEnabled(host_));
      PumpMessages();
      EXPECT_FALSE(IsWindow(seen.window));
    }
  }
}

TEST_F(EntryTest, SecondCallBeforeReleaseDestroysTheOldWindow) {
  SeedSettings();
  const LineCase& fxsk = kLines[1];
  Seen first;
  std::thread driver([&] { DriveAndClose(fxsk, host_, false, &first); });
  Entry(fxsk.ordinal)(host_, nullptr, nullptr, nullptr, nullptr, nullptr);
  driver.join();
  ASSERT_TRUE(IsWindow(first.window));  // release not yet dispatched

  Seen second;
  bool old_gone_while_open = false;
  driver = std::thread([&] {
    DriveAndClose(fxsk, host_, false, &second);
    old_gone_while_open = !IsWindow(first.window);
  });
  Entry(fxsk.ordinal)(host_, nullptr, nullptr, nullptr, nullptr, nullptr);
  driver.join();
  EXPECT_NE(second.window, first.window);
  EXPECT_TRUE(old_gone_while_open);
  PumpMessages();
  EXPECT_FALSE(IsWindow(second.window));
}

TEST_F(EntryTest, UnloadDestroysAWindowWhoseReleaseIsPending) {
  SeedSettings();
  const LineCase& jqsk = kLines[0];
  Seen seen;
  std::thread driver([&] { DriveAndClose(jqsk, host_, true, &seen); });
  Entry(jqsk.ordinal)(host_, nullptr, nullptr, nullptr, nullptr, nullptr);
  driver.join();
  ASSERT_TRUE(IsWindow(seen.window));
  ASSERT_TRUE(FreeLibrary(library_));
  library_ = nullptr;
  EXPECT_FALSE(IsWindow(seen.window));
  PumpMessages();  // the posted release finds no window: nothing happens
}

TEST_F(EntryTest, WithoutUsableHostWindowTheWindowHasNoOwner) {
  SeedSettings();
  const LineCase& bbsk = kLines[2];
  for (HWND host : {static_cast<HWND>(nullptr),
                    reinterpret_cast<HWND>(static_cast<INT_PTR>(0x7654320))}) {
    Seen seen;
    std::thread driver([&] { DriveAndClose(bbsk, host_, false, &seen); });
    Entry(bbsk.ordinal)(host, nullptr, nullptr, nullptr, nullptr, nullptr);
    driver.join();
    ASSERT_NE(seen.window, nullptr);
    EXPECT_EQ(seen.owner, nullptr);
    EXPECT_TRUE(IsWindowEnabled(host_));
  }
}

TEST_F(EntryTest, SettingsFailureIsShownAndTheWindowStillOpens) {
  // A folder named params.cfg: the file cannot be created.
  ASSERT_TRUE(CreateDirectoryW(config_.c_str(), nullptr));
  const LineCase& bbsk = kLines[2];
  std::wstring text, caption;
  HWND box_owner = nullptr;
  Seen seen;
  std::thread driver([&] {
    // The creation step comes first: its box is up before anything else.
    HWND box = WaitForMessageBox();
    if (box == nullptr) return;  // the watchdog ends the hung call
    text = MessageBoxText(box);
    caption = Caption(box);
    box_owner = GetWindow(box, GW_OWNER);
    AnswerMessageBox(box, IDOK);
    WaitUntilHidden(box);
    DriveAndClose(bbsk, host_, false, &seen);
  });
  Entry(bbsk.ordinal)(host_, nullptr, nullptr, nullptr, nullptr, nullptr);
  driver.join();
  EXPECT_EQ(U8(caption), "错误");
  EXPECT_EQ(box_owner, host_);
  EXPECT_EQ(U8(text), "Unable to write to " + U8(config_) + ".");
  EXPECT_NE(seen.window, nullptr);
  EXPECT_TRUE(IsWindowEnabled(host_));
}

}  // namespace
}  // namespace skjk::e2e
