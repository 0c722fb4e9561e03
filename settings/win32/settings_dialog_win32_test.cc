// The real settings dialog, driven from a second thread with standard
// messages as a user would drive it. Leaves a picture of the dialog in
// settings_dialog.bmp in the working directory.
#include "settings/win32/settings_dialog_win32.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "testing/win32/driver.h"
#include "text/gbk.h"
#include "window_framework/base_window.h"
#include "window_framework/modal.h"
#include "window_framework/ui_text.h"

namespace skjk::win32 {
namespace {

using namespace text::literals;

constexpr SettingsRules kBbsk{"Bbsk", "本部税控机接口参数设置"};
constexpr SettingsRules kFxsk{"Fxsk", "税控机接口参数设置"};
constexpr SettingsRules kJqsk{"Jqsk", "vu税控机接口参数设置"};

bool WaitUntil(const std::function<bool()>& condition) {
  return e2e::WaitUntil(condition, e2e::kDefaultWaitMs);
}

// The settings dialog owned by `owner` once it is visible with its controls.
HWND WaitForDialog(HWND owner) {
  HWND dialog = e2e::WaitForOwnedWindow(owner, kSettingsDialogClass);
  if (dialog == nullptr ||
      e2e::WaitForChild(dialog, L"Button", L"...") == nullptr) {
    return nullptr;
  }
  return dialog;
}

std::string Text(HWND window) { return Gbk(e2e::Text(window)); }

void Type(HWND dialog, int id, std::string_view gbk) {
  // WM_SETTEXT makes the edit send EN_CHANGE, as typing does.
  SendMessageW(GetDlgItem(dialog, id), WM_SETTEXT, 0,
               reinterpret_cast<LPARAM>(Wide(gbk).c_str()));
}

void Click(HWND dialog, int id) { e2e::PostClick(GetDlgItem(dialog, id)); }

// Waits until the thread of `edit` has taken every message posted to it
// before this call: a selection posted behind them is the marker (a thread
// takes its posted messages in order). The edit needs at least two
// characters. False when the marker is not taken in time (the window may be
// gone).
bool WaitForPostedMessages(HWND edit) {
  PostMessageW(edit, EM_SETSEL, 1, 2);
  return WaitUntil([&] {
    DWORD_PTR selection = 0;
    return SendMessageTimeoutW(edit, EM_GETSEL, 0, 0, SMTO_NORMAL, 1000,
                               &selection) != 0 &&
           selection == static_cast<DWORD_PTR>(MAKELONG(1, 2));
  });
}

// What a driver thread found wrong, reported on the test's thread.
class Problems {
 public:
  void Add(std::string what) {
    std::lock_guard<std::mutex> lock(mutex_);
    problems_.push_back(std::move(what));
  }
  void Check(bool ok, const std::string& what) {
    if (!ok) Add(what);
  }
  void Report() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const std::string& p : problems_) ADD_FAILURE() << p;
    problems_.clear();
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> problems_;
};

// Leaves nothing of the dialog open: answers a box over `owner`, closes the
// dialog.
void CloseLeftovers(HWND owner, HWND dialog) {
  if (HWND box = e2e::WaitForOwnedWindow(owner, L"#32770", 0)) {
    e2e::AnswerMessageBox(box, IDOK);
    e2e::AnswerMessageBox(box, IDCANCEL);
  }
  PostMessageW(dialog, WM_CLOSE, 0, 0);
}

class SettingsDialogWin32Test : public testing::Test {
 protected:
  void SetUp() override {
    owner_ = e2e::CreateHostWindow(10, 10, 300, 200);
    ASSERT_NE(owner_, nullptr);
    AdoptOwnerWindow(owner_);
    path_ = SettingsPath(Env::Default());
    DeleteFileW(Wide(path_).c_str());
  }
  void TearDown() override {
    AdoptOwnerWindow(nullptr);
    if (owner_ != nullptr) DestroyWindow(owner_);
    DeleteFileW(Wide(path_).c_str());
  }

  // Runs the settings action on this thread while `user` drives it from
  // another; `user` reports what it found wrong.
  Status Run(const SettingsRules& line, Settings* values,
             const std::function<void(HWND dialog)>& user) {
    std::thread driver([&] {
      HWND dialog = WaitForDialog(owner_);
      if (dialog == nullptr) {
        problems_.Add("the dialog did not appear");
        return;
      }
      user(dialog);
      // Whatever happened, leave nothing open.
      if (!WaitUntil([&] { return !IsWindow(dialog); })) {
        problems_.Add("the dialog is still open");
        CloseLeftovers(owner_, dialog);
      }
    });
    Status status = RunSettingsDialogWin32(owner_, line, values);
    driver.join();
    problems_.Report();
    return status;
  }

  void Check(bool ok, const std::string& what) { problems_.Check(ok, what); }

  std::string FileContents() {
    std::string data;
    if (!Env::Default()->ReadFile(path_, &data).ok()) return "(no file)";
    return data;
  }

  // Ends the process when a test hangs (a dialog nobody answers).
  e2e::Watchdog watchdog_{60000, "SettingsDialogWin32Test"};
  HWND owner_ = nullptr;
  std::string path_;
  Problems problems_;
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
    Check(Text(GetDlgItem(dialog, kBEReadId)) == values.invoice_file, "BERead");
    Check(Text(GetDlgItem(dialog, kEfhrId)) == "复核甲"_gbk, "Efhr");
    Check(!IsWindowEnabled(GetDlgItem(dialog, kBtnApplyId)),
          "Apply enabled at open");
    Check(!IsWindowEnabled(owner_), "owner not disabled");
    RECT r;
    GetWindowRect(dialog, &r);
    Check(r.right - r.left == 443 && r.bottom - r.top == 328, "size");
    RedrawWindow(dialog, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Sleep(300);  // for the picture only: the screen catches up
    Check(e2e::SaveScreenBitmap(dialog, L"settings_dialog.bmp"), "picture");

    // Escape and Enter close nothing.
    HWND edit = GetDlgItem(dialog, kBEReadId);
    PostMessageW(edit, WM_KEYDOWN, VK_ESCAPE, 0);
    PostMessageW(edit, WM_KEYDOWN, VK_RETURN, 0);
    Check(WaitForPostedMessages(edit), "keys not taken");
    Check(IsWindowVisible(dialog) != FALSE, "closed by Escape or Enter");

    Type(dialog, kBEWrite1Id, "");
    Check(IsWindowEnabled(GetDlgItem(dialog, kBtnApplyId)) != FALSE,
          "Apply not enabled by a change");
    Click(dialog, kBtnApplyId);
    HWND box = e2e::WaitForOwnedWindow(owner_, L"#32770");
    if (box == nullptr) return problems_.Add("no message box");
    Check(e2e::U8(e2e::MessageBoxText(box)) == "文件设置不能有空值！",
          "message text");
    Check(e2e::U8(e2e::Caption(box)) == "错误", "message caption");
    e2e::AnswerMessageBox(box, IDOK);
    Check(WaitUntil([&] { return !IsWindow(box); }), "box stays");
    Check(e2e::RoundTrip(dialog) && IsWindowVisible(dialog) != FALSE,
          "dialog closed by the refusal");

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
    e2e::PostCloseBox(dialog);
  });
  EXPECT_TRUE(status.ok()) << status.message();
  EXPECT_EQ(values, before);
  EXPECT_FALSE(Env::Default()->FileExists(path_));
}

// The library's unload unregisters the dialog's class with the others: the
// system would keep it, with a window procedure in the unloaded library.
TEST_F(SettingsDialogWin32Test, ClassIsUnregisteredAtUnload) {
  Settings values;
  ASSERT_TRUE(Run(kBbsk, &values, [&](HWND dialog) {
                Click(dialog, kBtnCancelId);
              }).ok());
  WNDCLASSEXW info{};
  info.cbSize = sizeof info;
  EXPECT_TRUE(GetClassInfoExW(ModuleHandle(), kSettingsDialogClass, &info));
  UnregisterWindowClasses();
  EXPECT_FALSE(GetClassInfoExW(ModuleHandle(), kSettingsDialogClass, &info));
}

// The interface window's place: a modal window over the host window that
// opens the settings dialog from inside its own modal loop.
class MiddleWindow : public ModalWindow {
 public:
  static constexpr UINT kOpenSettings = WM_APP + 7;

  Status Create(HWND host) {
    CreateParams params;
    params.class_name = L"SkjkSettingsTestMiddle";
    params.caption = e2e::W("中间窗口");
    params.x = 40;
    params.y = 40;
    params.width = 500;
    params.height = 400;
    params.owner = host;
    return CreateHandle(params);
  }

  Status dialog_status = Status::Error("the dialog was not opened");

 protected:
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) override {
    if (message == kOpenSettings) {
      Settings values{"r", "w1", "w2", "", "", "", false};
      dialog_status = RunSettingsDialogWin32(hwnd(), kFxsk, &values);
      return 0;
    }
    return ModalWindow::HandleMessage(message, wparam, lparam);
  }
};

// A system modal loop that the dialog opens: opened by a click on
// `open_button`, found as a #32770 window owned by the host with a child of
// class `marker` (text `marker_text` unless empty), ended by a click on
// `close_button`.
struct Interruption {
  const char* name;
  int open_button;
  const wchar_t* marker;
  const char* marker_text;  // UTF-8
  int close_button;
};
constexpr Interruption kInterruptions[] = {
    {"refusal box", kBtnOkId, L"Static", "文件设置不能有空值！", IDOK},
    {"folder browser", kBEWrite1ButtonId, L"SysTreeView32", "", IDCANCEL},
};

class SettingsDialogOwnerChainTest : public testing::Test {
 protected:
  void SetUp() override {
    host_ = e2e::CreateHostWindow(0, 0, 600, 500);
    ASSERT_NE(host_, nullptr);
    AdoptOwnerWindow(host_);
    path_ = SettingsPath(Env::Default());
    DeleteFileW(Wide(path_).c_str());
  }
  void TearDown() override {
    AdoptOwnerWindow(nullptr);
    if (host_ != nullptr) DestroyWindow(host_);
    DeleteFileW(Wide(path_).c_str());
  }

  e2e::Watchdog watchdog_{60000, "SettingsDialogOwnerChainTest"};
  HWND host_ = nullptr;
  std::string path_;
  Problems problems_;
};

// Host window -> modal middle window -> settings dialog. A box or a dialog
// box enables its owner when it ends; the host and the middle window must
// stay disabled until the window that disabled them ends, and then be
// exactly as that window found them.
TEST_F(SettingsDialogOwnerChainTest, BoxesAndBrowserLeaveTheChainDisabled) {
  MiddleWindow middle;
  ASSERT_TRUE(middle.Create(host_).ok());
  HWND host = host_;
  HWND mid = middle.hwnd();
  auto check_chain_disabled = [&](const std::string& when) {
    problems_.Check(!IsWindowEnabled(host), "host enabled " + when);
    problems_.Check(!IsWindowEnabled(mid), "middle window enabled " + when);
  };

  std::thread driver([&] {
    if (!WaitUntil(
            [&] { return IsWindowVisible(mid) && IsWindowEnabled(mid); })) {
      problems_.Add("the middle window did not appear");
      e2e::PostCloseBox(mid);
      return;
    }
    PostMessageW(mid, MiddleWindow::kOpenSettings, 0, 0);
    HWND dialog = WaitForDialog(mid);
    if (dialog == nullptr) {
      problems_.Add("the dialog did not appear");
      e2e::PostCloseBox(mid);
      return;
    }
    check_chain_disabled("with the dialog open");
    Type(dialog, kBEWrite2Id, "");

    for (const Interruption& c : kInterruptions) {
      const std::string name = c.name;
      Click(dialog, c.open_button);
      // The folder browser may take a while to fill its tree.
      HWND box = e2e::WaitForOwnedWindow(host, L"#32770", 10000);
      HWND marker = box == nullptr ? nullptr
                                   : e2e::WaitForChild(box, c.marker,
                                                       e2e::W(c.marker_text));
      if (marker == nullptr) {
        problems_.Add("no " + name);
        break;
      }
      check_chain_disabled("with the " + name + " open");
      e2e::AnswerMessageBox(box, c.close_button);
      if (!WaitUntil([&] { return !IsWindow(box); })) {
        problems_.Add(name + " stays");
        break;
      }
      problems_.Check(e2e::RoundTrip(dialog) && IsWindowVisible(dialog),
                      "dialog closed by the " + name);
      check_chain_disabled("after the " + name);
    }

    Click(dialog, kBtnCancelId);
    if (!WaitUntil([&] { return !IsWindow(dialog); })) {
      problems_.Add("the dialog is still open");
      CloseLeftovers(host, dialog);
    }
    // Handled once the dialog's action has returned to the middle window.
    problems_.Check(e2e::RoundTrip(mid), "middle window busy");
    problems_.Check(IsWindowEnabled(mid) != FALSE,
                    "middle window disabled after the dialog");
    problems_.Check(!IsWindowEnabled(host), "host enabled after the dialog");
    e2e::PostCloseBox(mid);
  });
  Status status = middle.ShowModal(host_);
  driver.join();
  problems_.Report();
  EXPECT_TRUE(status.ok()) << status.message();
  EXPECT_TRUE(middle.dialog_status.ok()) << middle.dialog_status.message();
  EXPECT_TRUE(IsWindowEnabled(host_))
      << "host disabled after the middle window";
  EXPECT_FALSE(Env::Default()->FileExists(path_));
}

}  // namespace
}  // namespace skjk::win32
