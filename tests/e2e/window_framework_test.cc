// The window framework under Wine: errors escaping a handler, the modal loop
// and the deferred release, on real windows of this process.
#include <windows.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "gtest/gtest.h"
#include "tests/e2e/driver.h"
#include "framework/base_window.h"
#include "framework/modal.h"

namespace skjk::win32 {
namespace {

using e2e::W;

constexpr UINT kThrowStd = WM_APP + 1;
constexpr UINT kThrowOther = WM_APP + 2;

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

 protected:
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) override {
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

}  // namespace
}  // namespace skjk::win32
