// The real settings dialog, driven from a second thread with standard
// messages as a user would drive it. Leaves a picture of the dialog in
// settings_dialog.bmp in the working directory.
#include "settings/win32/settings_dialog_win32.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "entry/stored_texts.h"
#include "tests/e2e/driver.h"
#include "text/gbk.h"
#include "framework/ui_text.h"

namespace skjk::win32 {
namespace {

using namespace text::literals;

// Polls `find` until it gives a window or five seconds have passed.
HWND WaitFor(const std::function<HWND()>& find) {
  HWND found = nullptr;
  e2e::WaitUntil([&] { return (found = find()) != nullptr; }, 5000);
  return found;
}

bool WaitUntil(const std::function<bool()>& condition) {
  return e2e::WaitUntil(condition, 5000);
}

HWND VisibleDialog() {
  HWND dialog = FindWindowW(kSettingsDialogClass, nullptr);
  return dialog != nullptr && IsWindowVisible(dialog) &&
                 GetDlgItem(dialog, kBtnApplyId) != nullptr
             ? dialog
             : nullptr;
}

struct BoxSearch {
  HWND found = nullptr;
};
BOOL CALLBACK FindBox(HWND hwnd, LPARAM lparam) {
  wchar_t name[16] = {};
  GetClassNameW(hwnd, name, 16);
  if (lstrcmpW(name, L"#32770") == 0 && IsWindowVisible(hwnd)) {
    reinterpret_cast<BoxSearch*>(lparam)->found = hwnd;
    return FALSE;
  }
  return TRUE;
}
HWND VisibleMessageBox(DWORD thread) {
  BoxSearch search;
  EnumThreadWindows(thread, &FindBox, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::string Text(HWND window) { return Gbk(WindowTextW(window)); }

void Type(HWND dialog, int id, std::string_view gbk) {
  // WM_SETTEXT makes the edit send EN_CHANGE, as typing does.
  SendMessageW(GetDlgItem(dialog, id), WM_SETTEXT, 0,
               reinterpret_cast<LPARAM>(Wide(gbk).c_str()));
}

void Click(HWND dialog, int id) {
  PostMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

class SettingsDialogWin32Test : public testing::Test {
 protected:
  void SetUp() override {
    owner_ = CreateWindowExW(0, L"STATIC", L"owner", WS_OVERLAPPEDWINDOW, 10,
                             10, 300, 200, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(owner_, nullptr);
    ShowWindow(owner_, SW_SHOW);
    GlobalEntryState().AdoptOwner(reinterpret_cast<std::uintptr_t>(owner_));
    path_ = SettingsPath(Env::Default());
    DeleteFileW(Wide(path_).c_str());
  }
  void TearDown() override {
    GlobalEntryState().AdoptOwner(0);
    if (owner_ != nullptr) DestroyWindow(owner_);
    DeleteFileW(Wide(path_).c_str());
  }

  // Runs the settings action on this thread while `user` drives it from
  // another; `user` reports what it found wrong.
  Status Run(const Variant& variant, Settings* values,
             const std::function<void(HWND dialog)>& user) {
    DWORD ui_thread = GetCurrentThreadId();
    ui_thread_ = ui_thread;
    std::thread driver([&] {
      HWND dialog = WaitFor(VisibleDialog);
      if (dialog == nullptr) {
        Problem("the dialog did not appear");
        return;
      }
      user(dialog);
      // Whatever happened, leave nothing open.
      if (!WaitUntil([&] { return !IsWindow(dialog); })) {
        Problem("the dialog is still open");
        if (HWND box = VisibleMessageBox(ui_thread)) {
          PostMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
        }
        PostMessageW(dialog, WM_CLOSE, 0, 0);
      }
    });
    Status status = RunSettingsDialogWin32(owner_, variant, values);
    driver.join();
    std::lock_guard<std::mutex> lock(mutex_);
    for (const std::string& p : problems_) ADD_FAILURE() << p;
    problems_.clear();
    return status;
  }

  void Problem(std::string what) {
    std::lock_guard<std::mutex> lock(mutex_);
    problems_.push_back(std::move(what));
  }
  void Check(bool ok, const std::string& what) {
    if (!ok) Problem(what);
  }

  std::string FileContents() {
    std::string data;
    if (!Env::Default()->ReadFile(path_, &data).ok()) return "(no file)";
    return data;
  }

  // Ends the process when a test hangs (a dialog nobody answers).
  e2e::Watchdog watchdog_{60000, "SettingsDialogWin32Test"};
  HWND owner_ = nullptr;
  DWORD ui_thread_ = 0;
  std::string path_;
  std::mutex mutex_;
  std::vector<std::string> problems_;
};

TEST_F(SettingsDialogWin32Test, EmptyFileFieldIsRefusedThenOkStores) {
  Settings values{"C:\\IN\\销售发票.TXT"_gbk,
                  "D:\\OUT\\1.TXT",
                  "D:\\OUT\\2.TXT",
                  "复核甲"_gbk,
                  "",
                  "",
                  false};
  Status status = Run(kFxsk, &values, [&](HWND dialog) {
    Check(Text(dialog) == "税控机接口参数设置"_gbk, "caption");
    Check(Text(GetDlgItem(dialog, kLabelBtId)) == "税控机接口参数设置"_gbk,
          "LabelBt");
    Check(Text(GetDlgItem(dialog, kBEReadId)) == values.read, "BERead");
    Check(Text(GetDlgItem(dialog, kEfhrId)) == "复核甲"_gbk, "Efhr");
    Check(!IsWindowEnabled(GetDlgItem(dialog, kBtnApplyId)),
          "Apply enabled at open");
    Check(!IsWindowEnabled(owner_), "owner not disabled");
    RECT r;
    GetWindowRect(dialog, &r);
    Check(r.right - r.left == 443 && r.bottom - r.top == 328, "size");
    RedrawWindow(dialog, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Sleep(300);
    Check(e2e::SaveScreenBitmap(dialog, L"settings_dialog.bmp"), "picture");

    // Escape and Enter close nothing.
    HWND edit = GetDlgItem(dialog, kBEReadId);
    PostMessageW(edit, WM_KEYDOWN, VK_ESCAPE, 0);
    PostMessageW(edit, WM_KEYDOWN, VK_RETURN, 0);
    Sleep(300);
    Check(IsWindowVisible(dialog) != FALSE, "closed by Escape or Enter");

    Type(dialog, kBEWrite1Id, "");
    Check(IsWindowEnabled(GetDlgItem(dialog, kBtnApplyId)) != FALSE,
          "Apply not enabled by a change");
    Click(dialog, kBtnApplyId);
    HWND box = WaitFor([&] { return VisibleMessageBox(ui_thread_); });
    if (box == nullptr) return Problem("no message box");
    Check(Text(GetDlgItem(box, 0xFFFF)) == "文件设置不能有空值！"_gbk,
          "message text");
    Check(Text(box) == "错误"_gbk, "message caption");
    Check(GetWindow(box, GW_OWNER) == owner_, "message box owner");
    PostMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
    Check(WaitUntil([&] { return !IsWindow(box); }), "box stays");
    Check(IsWindowVisible(dialog) != FALSE, "dialog closed by the refusal");

    Type(dialog, kBEWrite1Id, "E:\\新\\销售.TXT"_gbk);
    Type(dialog, kEsmId, "卷烟"_gbk);
    Click(dialog, kCEDayId);
    Click(dialog, kBtnOkId);
  });
  ASSERT_TRUE(status.ok()) << status.message();
  EXPECT_TRUE(IsWindowEnabled(owner_));
  EXPECT_EQ(values,
            (Settings{"C:\\IN\\销售发票.TXT"_gbk, "E:\\新\\销售.TXT"_gbk,
                      "D:\\OUT\\2.TXT", "复核甲"_gbk, "", "卷烟"_gbk, true}));
  EXPECT_EQ(
      FileContents(),
      "[Fxsk]\r\nread=C:\\IN\\销售发票.TXT\r\nwrite1=E:\\新\\销售.TXT\r\n"
      "write2=D:\\OUT\\2.TXT\r\nfhr=复核甲\r\nskr=\r\nsm=卷烟\r\nd=1\r\n"_gbk);
}

TEST_F(SettingsDialogWin32Test, ApplyThenCancelOrCloseBoxStoresNothing) {
  const Settings before{"r", "w1", "w2", "", "", "", true};
  Settings values = before;
  Status status = Run(kBbsk, &values, [&](HWND dialog) {
    Check(Text(dialog) == "本部税控机接口参数设置"_gbk, "caption");
    Type(dialog, kEfhrId, "changed");
    Click(dialog, kBtnApplyId);
    Check(WaitUntil([&] {
            return !IsWindowEnabled(GetDlgItem(dialog, kBtnApplyId));
          }),
          "Apply not disabled by Apply");
    Click(dialog, kBtnCancelId);
  });
  EXPECT_TRUE(status.ok()) << status.message();
  EXPECT_EQ(values, before);

  status = Run(kJqsk, &values, [&](HWND dialog) {
    Type(dialog, kBEReadId, "changed");
    PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
  });
  EXPECT_TRUE(status.ok()) << status.message();
  EXPECT_EQ(values, before);
  EXPECT_FALSE(Env::Default()->FileExists(path_));
}

}  // namespace
}  // namespace skjk::win32
