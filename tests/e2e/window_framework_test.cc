// The window framework under Wine: errors escaping a handler, the modal loop
// and its owner chain, the deferred release, the control objects and the
// splitter, on real windows of this process.
#include <windows.h>

#include <atomic>
#include <functional>
#include <initializer_list>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "testing/win32/driver.h"
#include "window_framework/base_window.h"
#include "window_framework/controls.h"
#include "window_framework/error_display.h"
#include "window_framework/modal.h"
#include "window_framework/splitter.h"

namespace skjk::win32 {
namespace {

using e2e::W;

constexpr UINT kThrowStd = WM_APP + 1;
constexpr UINT kThrowOther = WM_APP + 2;
// Runs the window's on_run.
constexpr UINT kRun = WM_APP + 3;

class TestWindow : public ModalWindow {
 public:
  explicit TestWindow(bool* destroyed = nullptr) : destroyed_(destroyed) {}
  ~TestWindow() override {
    if (destroyed_ != nullptr) *destroyed_ = true;
  }

  Status Create(HWND owner) {
    CreateParams params;
    params.class_name = L"SkjkFrameworkTest";
    params.caption = W("框架测试");
    params.width = 300;
    params.height = 200;
    params.owner = owner;
    return CreateHandle(params);
  }
  int closes = 0;
  std::function<void()> on_run;

 protected:
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) override {
    if (message == kRun && on_run) {
      on_run();
      return 0;
    }
    if (message == kThrowStd) throw std::runtime_error("Handler failed");
    if (message == kThrowOther) throw 42;
    return ModalWindow::HandleMessage(message, wparam, lparam);
  }
  void OnClose() override { ++closes; }

 private:
  bool* destroyed_;
};

class WindowFrameworkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    owner_ = CreateWindowExW(0, L"STATIC", L"owner",
                             WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100,
                             nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(owner_, nullptr);
  }
  void TearDown() override {
    DestroyPendingWindows();
    DestroyWindow(owner_);
    e2e::PumpMessages();
  }

  HWND owner_ = nullptr;
  e2e::Watchdog watchdog_{15000, "WindowFrameworkTest"};
};

TEST_F(WindowFrameworkTest, ErrorEscapingAHandlerIsShownAndTheWindowStays) {
  TestWindow window;
  ASSERT_TRUE(window.Create(owner_).ok());
  struct Case {
    UINT message;
    std::string text;
  };
  const Case cases[] = {{kThrowStd, "Handler failed."},
                        {kThrowOther, "Unexpected error in window procedure."}};
  std::wstring texts[2];
  std::wstring captions[2];
  bool alive_after_boxes = false;
  std::thread driver([&] {
    HWND hwnd = e2e::WaitForReadyWindow(W("框架测试"), L"", nullptr);
    (void)hwnd;
    for (int i = 0; i < 2; ++i) {
      PostMessageW(window.hwnd(), cases[i].message, 0, 0);
      HWND box = e2e::WaitForMessageBox();
      if (box == nullptr) break;
      texts[i] = e2e::MessageBoxText(box);
      captions[i] = e2e::Caption(box);
      e2e::AnswerMessageBox(box, IDOK);
      e2e::WaitUntilHidden(box);
    }
    alive_after_boxes = IsWindowVisible(window.hwnd()) != FALSE;
    e2e::PostCloseBox(window.hwnd());
  });
  Status status = window.ShowModal(owner_);
  driver.join();
  EXPECT_TRUE(status.ok()) << status.message();
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(e2e::U8(texts[i]), cases[i].text);
    EXPECT_EQ(e2e::U8(captions[i]), "错误");
  }
  EXPECT_TRUE(alive_after_boxes);
  EXPECT_EQ(window.closes, 1);
  EXPECT_TRUE(IsWindow(window.hwnd()));  // closing ends the loop only
}

TEST_F(WindowFrameworkTest, QuitMessageEndsTheLoopAndIsPostedAgain) {
  TestWindow window;
  ASSERT_TRUE(window.Create(owner_).ok());
  std::thread driver([&] {
    e2e::WaitForReadyWindow(W("框架测试"), L"", nullptr);
    // WM_QUIT is a thread message: post it to the window's thread.
    PostThreadMessageW(GetWindowThreadProcessId(window.hwnd(), nullptr),
                       WM_QUIT, 7, 0);
  });
  Status status = window.ShowModal(owner_);
  driver.join();
  EXPECT_TRUE(status.ok());
  EXPECT_TRUE(IsWindowEnabled(owner_));
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 7u);
}

TEST_F(WindowFrameworkTest, ReleaseDestroysWindowAndObjectOnTheNextDispatch) {
  bool destroyed = false;
  auto window = std::make_unique<TestWindow>(&destroyed);
  ASSERT_TRUE(window->Create(owner_).ok());
  HWND hwnd = window->hwnd();
  ReleaseLater(std::move(window));
  EXPECT_TRUE(IsWindow(hwnd));
  EXPECT_EQ(PendingWindowCount(), 1u);
  e2e::PumpMessages();
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(PendingWindowCount(), 0u);

  // Still pending at unload: destroyed there.
  destroyed = false;
  window = std::make_unique<TestWindow>(&destroyed);
  ASSERT_TRUE(window->Create(owner_).ok());
  hwnd = window->hwnd();
  ReleaseLater(std::move(window));
  DestroyPendingWindows();
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_TRUE(destroyed);
  e2e::PumpMessages();  // the release message finds no window

  // A window that was never created is simply deleted.
  destroyed = false;
  ReleaseLater(std::make_unique<TestWindow>(&destroyed));
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(PendingWindowCount(), 0u);
}

TEST_F(WindowFrameworkTest, AWindowDestroyedByItsOwnerEndsTheLoop) {
  TestWindow window;
  ASSERT_TRUE(window.Create(owner_).ok());
  std::thread driver([&] {
    e2e::WaitForReadyWindow(W("框架测试"), L"", nullptr);
    // Destroying the owner destroys the windows it owns.
    PostMessageW(owner_, WM_CLOSE, 0, 0);
  });
  Status status = window.ShowModal(owner_);
  driver.join();
  EXPECT_TRUE(status.ok());
  EXPECT_FALSE(IsWindow(owner_));
  EXPECT_EQ(window.hwnd(), nullptr);
}

// A window owned by `owner`, not shown.
HWND OwnedWindow(HWND owner) {
  return CreateWindowExW(0, L"STATIC", L"owned", WS_OVERLAPPED, 0, 0, 100, 50,
                         owner, nullptr, nullptr, nullptr);
}

TEST_F(WindowFrameworkTest, OwnerChainGuardDisablesAgainWhatWasDisabled) {
  HWND middle = OwnedWindow(owner_);
  HWND top = OwnedWindow(middle);
  ASSERT_NE(top, nullptr);
  EXPECT_EQ(OwnerChain(top), (std::vector<HWND>{top, middle, owner_}));
  EXPECT_TRUE(OwnerChain(nullptr).empty());

  // Which of the chain's windows are disabled before a system modal loop
  // owned by `top`; the loop's end enables them all (as a dialog box's end
  // enables its owner); the guard disables again exactly those.
  struct Case {
    bool top, middle, host;
  };
  const Case cases[] = {{false, false, false},
                        {false, false, true},
                        {false, true, true},
                        {true, false, true},
                        {true, true, false}};
  for (const Case& c : cases) {
    EnableWindow(top, !c.top);
    EnableWindow(middle, !c.middle);
    EnableWindow(owner_, !c.host);
    {
      OwnerChainGuard guard(top);
      for (HWND window : {top, middle, owner_}) EnableWindow(window, TRUE);
    }
    SCOPED_TRACE(testing::Message()
                 << "disabled before: top " << c.top << ", middle " << c.middle
                 << ", host " << c.host);
    EXPECT_EQ(!IsWindowEnabled(top), c.top);
    EXPECT_EQ(!IsWindowEnabled(middle), c.middle);
    EXPECT_EQ(!IsWindowEnabled(owner_), c.host);
  }
  EnableWindow(owner_, TRUE);
  DestroyWindow(top);
  DestroyWindow(middle);
}

// owner_ plays the host window; `outer` is modal over it (the interface
// window), `inner` modal over `outer` (the settings dialog). A box owned by
// the host opened from `inner` enables the host when it ends; the host and
// `outer` must stay disabled until the window that disabled them ends.
TEST_F(WindowFrameworkTest, NestedModalWindowsKeepTheOwnerChainDisabled) {
  struct Box {
    const char* name;
    std::function<void(HWND owner)> show;
  };
  const Box boxes[] = {
      // Only the modal loop disables the host again.
      {"MessageBoxW",
       [](HWND owner) { MessageBoxW(owner, L"plain", L"box", MB_OK); }},
      {"OwnedMessageBox",
       [](HWND owner) { OwnedMessageBox(owner, L"owned", L"box", MB_OK); }},
  };
  TestWindow outer;
  TestWindow inner;
  ASSERT_TRUE(outer.Create(owner_).ok());
  ASSERT_TRUE(inner.Create(outer.hwnd()).ok());
  std::atomic<int> box_index{0};
  Status inner_status;
  outer.on_run = [&] { inner_status = inner.ShowModal(outer.hwnd()); };
  inner.on_run = [&] { boxes[box_index].show(owner_); };

  std::vector<std::string> problems;  // written by the driver only
  HWND host = owner_;
  std::thread driver([&] {
    auto check = [&](bool ok, const std::string& what) {
      if (!ok) problems.push_back(what);
    };
    auto visible = [](HWND window) {
      return e2e::WaitUntil([&] { return IsWindowVisible(window) != FALSE; },
                            e2e::kDefaultWaitMs);
    };
    if (!visible(outer.hwnd())) return problems.push_back("no outer window");
    PostMessageW(outer.hwnd(), kRun, 0, 0);
    if (!visible(inner.hwnd())) {
      problems.push_back("no inner window");
      return e2e::PostCloseBox(outer.hwnd());
    }
    for (int i = 0; i < static_cast<int>(std::size(boxes)); ++i) {
      const std::string name = boxes[i].name;
      box_index = i;
      PostMessageW(inner.hwnd(), kRun, 0, 0);
      HWND box = e2e::WaitForOwnedWindow(host, L"#32770");
      if (box == nullptr) {
        problems.push_back("no " + name);
        break;
      }
      check(!IsWindowEnabled(host) && !IsWindowEnabled(outer.hwnd()),
            "chain enabled with the " + name + " open");
      e2e::AnswerMessageBox(box, IDOK);
      check(e2e::WaitUntil([&] { return !IsWindow(box); }, e2e::kDefaultWaitMs),
            name + " stays");
      check(e2e::RoundTrip(inner.hwnd()), "inner window busy");
      check(!IsWindowEnabled(host), "host enabled after the " + name);
      check(!IsWindowEnabled(outer.hwnd()),
            "outer window enabled after the " + name);
    }
    e2e::PostCloseBox(inner.hwnd());
    check(e2e::WaitUntilHidden(inner.hwnd()), "inner window stays");
    check(e2e::RoundTrip(outer.hwnd()), "outer window busy");
    check(IsWindowEnabled(outer.hwnd()) != FALSE,
          "outer window disabled after the inner one");
    check(!IsWindowEnabled(host), "host enabled after the inner window");
    e2e::PostCloseBox(outer.hwnd());
  });
  Status status = outer.ShowModal(owner_);
  driver.join();
  for (const std::string& p : problems) ADD_FAILURE() << p;
  EXPECT_TRUE(status.ok()) << status.message();
  EXPECT_TRUE(inner_status.ok()) << inner_status.message();
  EXPECT_TRUE(IsWindowEnabled(owner_))
      << "host disabled after the outer window";
}

// One control of each kind on the owner window; each callback writes what
// it heard into `heard`.
class ControlSetTest : public WindowFrameworkTest {
 protected:
  enum : int {
    kButtonId = 201,
    kFirstRadioId,
    kSecondRadioId,
    kListId,
    kPickerId
  };

  void SetUp() override {
    WindowFrameworkTest::SetUp();
    ASSERT_TRUE(button_.Create(Params(kButtonId, BS_PUSHBUTTON),
                               [this] { heard_.push_back("button"); }));
    ASSERT_TRUE(first_radio_.Create(
        Params(kFirstRadioId, BS_AUTORADIOBUTTON | WS_GROUP),
        [this] { heard_.push_back("first radio"); }));
    ASSERT_TRUE(
        second_radio_.Create(Params(kSecondRadioId, BS_AUTORADIOBUTTON),
                             [this] { heard_.push_back("second radio"); }));
    ASSERT_TRUE(
        list_.Create(Params(kListId, CBS_DROPDOWNLIST), [this](int item) {
          heard_.push_back("item " + std::to_string(item));
        }));
    list_.AddItem(L"a");
    list_.AddItem(L"b");
    ASSERT_TRUE(picker_.Create(Params(kPickerId, 0),
                               [this] { heard_.push_back("picker"); }));
    for (Control* c : std::initializer_list<Control*>{
             &button_, &first_radio_, &second_radio_, &list_, &picker_}) {
      set_.Add(c);
    }
  }

  ControlParams Params(int id, DWORD style) {
    return {
        .parent = owner_, .id = id, .style = style, .width = 80, .height = 20};
  }

  PushButton button_;
  RadioButton first_radio_, second_radio_;
  DropDownList list_;
  DatePicker picker_;
  ControlSet set_;
  std::vector<std::string> heard_;
};

TEST_F(ControlSetTest, EachMessageReachesTheControlItComesFrom) {
  struct Case {
    const char* name;
    std::function<void()> prepare;
    int id;
    UINT code;  // WM_COMMAND notification, or WM_NOTIFY code when notify
    bool notify;
    bool handled;
    std::vector<std::string> heard;
  };
  const Case cases[] = {
      {"button clicked",
       nullptr,
       kButtonId,
       BN_CLICKED,
       false,
       true,
       {"button"}},
      {"button gets focus", nullptr, kButtonId, BN_SETFOCUS, false, true, {}},
      {"second radio checked by the click",
       [&] { second_radio_.SetChecked(true); },
       kSecondRadioId,
       BN_CLICKED,
       false,
       true,
       {"second radio"}},
      {"first radio clicked but left unchecked",
       [&] { first_radio_.SetChecked(false); },
       kFirstRadioId,
       BN_CLICKED,
       false,
       true,
       {}},
      {"list selection changed",
       [&] { list_.Select(1); },
       kListId,
       CBN_SELCHANGE,
       false,
       true,
       {"item 1"}},
      {"list dropped down", nullptr, kListId, CBN_DROPDOWN, false, true, {}},
      {"unknown identifier", nullptr, 999, BN_CLICKED, false, false, {}},
      {"picker calendar closed",
       nullptr,
       kPickerId,
       DTN_CLOSEUP,
       true,
       true,
       {"picker"}},
      {"picker date changed",
       nullptr,
       kPickerId,
       DTN_DATETIMECHANGE,
       true,
       false,
       {}},
      {"close-up from a button",
       nullptr,
       kButtonId,
       DTN_CLOSEUP,
       true,
       false,
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    heard_.clear();
    if (c.prepare) c.prepare();
    bool handled = false;
    if (c.notify) {
      NMHDR header{GetDlgItem(owner_, c.id), static_cast<UINT_PTR>(c.id),
                   c.code};
      LRESULT result = -1;
      handled = set_.Notify(&header, &result);
      if (handled) {
        EXPECT_EQ(result, 0);
      }
    } else {
      handled = set_.Command(MAKEWPARAM(c.id, c.code));
    }
    EXPECT_EQ(handled, c.handled);
    EXPECT_EQ(heard_, c.heard);
  }
}

TEST_F(ControlSetTest, ControlsChangedByCodeRunNoCallback) {
  list_.Select(1);
  EXPECT_EQ(list_.selection(), 1);
  second_radio_.SetChecked(true);
  EXPECT_TRUE(second_radio_.checked());
  SYSTEMTIME day{};
  day.wYear = 2002;
  day.wMonth = 8;
  day.wDay = 23;
  picker_.SetDate(day);
  const SYSTEMTIME shown = picker_.date();
  EXPECT_EQ(shown.wYear, 2002);
  EXPECT_EQ(shown.wMonth, 8);
  EXPECT_EQ(shown.wDay, 23);
  e2e::PumpMessages();
  EXPECT_TRUE(heard_.empty());
}

TEST_F(WindowFrameworkTest, SplitterReportsWhereItIsDraggedTo) {
  // The band lies at y 100..104; each case presses at `press`, then moves
  // the mouse through `moves` with the button held, the capture ended
  // before the last move when `ended`.
  enum class End { kNone, kButtonUp, kCaptureLost };
  struct Case {
    const char* name;
    int press;
    End end;
    std::vector<int> moves;
    std::vector<int> tops;
  };
  const Case cases[] = {
      {"pressed on the band's top edge", 100, End::kNone, {150, 40}, {150, 40}},
      {"pressed inside the band", 103, End::kNone, {150, 0}, {147, -3}},
      {"pressed above the band", 99, End::kNone, {150}, {}},
      {"pressed below the band", 105, End::kNone, {150}, {}},
      {"button released", 102, End::kButtonUp, {150}, {}},
      {"capture taken away", 102, End::kCaptureLost, {150}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<int> tops;
    Splitter splitter([&](int top) { tops.push_back(top); });
    splitter.Place(RECT{0, 100, 200, 105});
    splitter.MouseDown(owner_, MAKELPARAM(10, c.press));
    const bool on_band = c.press >= 100 && c.press < 105;
    EXPECT_EQ(splitter.dragging(), on_band);
    EXPECT_EQ(GetCapture() == owner_, on_band);
    if (c.end != End::kNone) splitter.EndDrag(c.end == End::kButtonUp);
    if (c.end == End::kButtonUp) {
      EXPECT_EQ(GetCapture(), nullptr);
    }
    for (int y : c.moves) splitter.MouseMove(MAKELPARAM(10, y));
    EXPECT_EQ(tops, c.tops);
    ReleaseCapture();
  }
}

}  // namespace
}  // namespace skjk::win32
