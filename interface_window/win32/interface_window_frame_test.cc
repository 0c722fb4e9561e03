// The Win32 interface window under Wine, without a server and without being
// shown: its layout from the business line tables and the display operations
// the window model calls.
#include "interface_window/win32/interface_window_frame.h"

#include <windows.h>
// After windows.h:
#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "interface_window/business_line.h"
#include "testing/win32/driver.h"
#include "text/gbk.h"
#include "window_framework/ui_text.h"

namespace skjk::win32 {
namespace {

using text::literals::operator""_gbk;
using Ids = InterfaceWindowFrame;

RECT ChildRect(HWND parent, HWND child) {
  RECT r{};
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

std::vector<int> ColumnWidths(HWND list) {
  std::vector<int> widths;
  HWND header = ListView_GetHeader(list);
  const int n = Header_GetItemCount(header);
  for (int i = 0; i < n; ++i)
    widths.push_back(ListView_GetColumnWidth(list, i));
  return widths;
}

std::string ColumnCaption(HWND list, int column) {
  return Gbk(e2e::ListColumnCaption(list, column));
}

std::string StatusText(HWND bar, int panel) {
  return Gbk(e2e::StatusText(bar, panel));
}

std::string PickListText(HWND window) {
  return Gbk(
      WindowTextW(GetDlgItem(window, InterfaceWindowFrame::kPickListId)));
}

CalendarDate D(int y, unsigned m, unsigned d) {
  return std::chrono::year{y} / m / d;
}

class InterfaceWindowFrameTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_WIN95_CLASSES | ICC_DATE_CLASSES |
                                             ICC_BAR_CLASSES |
                                             ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&icc);
  }
  std::unique_ptr<InterfaceWindowFrame> Make(
      const BusinessLine& business_line) {
    auto window = std::make_unique<InterfaceWindowFrame>(business_line,
                                                         InterfaceContext{});
    Status s = window->Create();
    EXPECT_TRUE(s.ok()) << s.message();
    return window;
  }
};

TEST_F(InterfaceWindowFrameTest, HeadOfficeLayout) {
  auto window = Make(GetBusinessLine(BusinessLineKey::kBbsk));
  HWND w = window->hwnd();
  ASSERT_NE(w, nullptr);
  RECT outer{};
  GetWindowRect(w, &outer);
  EXPECT_EQ(outer.left, 0);
  EXPECT_EQ(outer.top, 79);
  EXPECT_EQ(outer.right - outer.left, 797);
  EXPECT_EQ(outer.bottom - outer.top, 492);
  EXPECT_EQ(Gbk(WindowTextW(w)), "本部税控机接口"_gbk);

  RECT client{};
  GetClientRect(w, &client);
  const RECT bar = ChildRect(w, GetDlgItem(w, Ids::kStatusBarId));
  const int totals_top = bar.top - 42;
  struct Control {
    int id;
    const char* text;  // UTF-8; nullptr: not checked
    LONG left, top, width, height;
  } controls[] = {
      {Ids::kImportId, "读入", 88, 4, 49, 49},
      {Ids::kExportId, "导出", 176, 4, 49, 49},
      {Ids::kSetId, "设置", 392, 4, 49, 49},
      {Ids::kExitId, "退出", 504, 4, 49, 49},
      {Ids::kInvoicedId, "已开发票", 16, 61, 73, 17},
      {Ids::kNotInvoicedId, "未开发票", 96, 61, 73, 17},
      {Ids::kStartDateId, nullptr, 272, 59, 89, 20},
      {Ids::kEndDateId, nullptr, 392, 59, 89, 20},
      {Ids::kRefreshId, "刷新", 496, 59, 55, 20},
      {Ids::kDocumentGridId, nullptr, 0, 81, client.right, 216},
      {Ids::kLineGridId, nullptr, 0, 302, client.right, totals_top - 302},
      {Ids::kTotalsFirstId + 0, nullptr, 444, totals_top + 1, 105, 20},
      {Ids::kTotalsFirstId + 1, nullptr, 550, totals_top + 1, 105, 20},
      {Ids::kTotalsFirstId + 2, nullptr, 656, totals_top + 1, 105, 20},
      {Ids::kTotalsFirstId + 3, nullptr, 444, totals_top + 21, 105, 20},
      {Ids::kTotalsFirstId + 4, nullptr, 550, totals_top + 21, 211, 20},
  };
  for (const Control& c : controls) {
    SCOPED_TRACE(c.id);
    HWND control = GetDlgItem(w, c.id);
    ASSERT_NE(control, nullptr);
    const RECT r = ChildRect(w, control);
    EXPECT_EQ(r.left, c.left);
    EXPECT_EQ(r.top, c.top);
    EXPECT_EQ(r.right - r.left, c.width);
    EXPECT_EQ(r.bottom - r.top, c.height);
    if (c.text != nullptr) {
      EXPECT_EQ(Gbk(WindowTextW(control)), text::Utf8ToGbk(c.text));
    }
  }
  const RECT pick = ChildRect(w, GetDlgItem(w, Ids::kPickListId));
  EXPECT_EQ(pick.left, 624);
  EXPECT_EQ(pick.right - pick.left, 159);
  EXPECT_EQ(bar.bottom, client.bottom);
  EXPECT_EQ(bar.bottom - bar.top, 19);

  HWND documents = GetDlgItem(w, Ids::kDocumentGridId);
  EXPECT_EQ(
      ColumnWidths(documents),
      (std::vector<int>{56, 72, 76, 147, 129, 131, 162, 106, 99, 85, 267}));
  EXPECT_EQ(ColumnCaption(documents, 0), "单号"_gbk);
  EXPECT_EQ(ColumnCaption(documents, 10), "备注"_gbk);
  HWND lines = GetDlgItem(w, Ids::kLineGridId);
  // The DHAO00 column is hidden.
  EXPECT_EQ(ColumnWidths(lines),
            (std::vector<int>{81, 178, 59, 62, 65, 105, 105, 105}));
  EXPECT_EQ(ColumnCaption(lines, 7), "税额（元）"_gbk);
  EXPECT_EQ(ListView_GetItemCount(documents), 0);

  // Start of the window: "未开发票", an empty pick list, 记录数=0.
  EXPECT_EQ(SendMessageW(GetDlgItem(w, Ids::kNotInvoicedId), BM_GETCHECK, 0, 0),
            BST_CHECKED);
  EXPECT_EQ(PickListText(w), "");
  HWND status = GetDlgItem(w, Ids::kStatusBarId);
  EXPECT_EQ(StatusText(status, 0), "记录数=0"_gbk);
  EXPECT_EQ(window->StartDate(), D(2002, 8, 23));
  EXPECT_EQ(window->EndDate(), D(2002, 8, 23));
}

struct TooltipSearch {
  HWND owner, found;
};

BOOL CALLBACK FindTooltip(HWND hwnd, LPARAM lparam) {
  auto* s = reinterpret_cast<TooltipSearch*>(lparam);
  wchar_t name[64] = {};
  GetClassNameW(hwnd, name, 64);
  if (GetWindow(hwnd, GW_OWNER) == s->owner &&
      lstrcmpiW(name, TOOLTIPS_CLASSW) == 0) {
    s->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

// The tooltip control owned by `window`.
HWND OwnedTooltip(HWND window) {
  TooltipSearch search{window, nullptr};
  EnumThreadWindows(GetCurrentThreadId(), &FindTooltip,
                    reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// True when the grid's header refuses to start sizing a column.
bool RefusesColumnSizing(HWND list) {
  NMHEADERW nm{};
  nm.hdr.hwndFrom = ListView_GetHeader(list);
  nm.hdr.code = HDN_BEGINTRACKW;
  return SendMessageW(list, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&nm)) !=
         FALSE;
}

TEST_F(InterfaceWindowFrameTest, ToolbarHintsAndFixedColumns) {
  auto window = Make(GetBusinessLine(BusinessLineKey::kBbsk));
  HWND w = window->hwnd();
  HWND hints = OwnedTooltip(w);
  ASSERT_NE(hints, nullptr);
  const char* expected[] = {"读入税控机的传出文件", "导出指定的文件到税控机",
                            "设置税控机接口的参数", "退出"};
  ASSERT_EQ(SendMessageW(hints, TTM_GETTOOLCOUNT, 0, 0), 4);
  for (int i = 0; i < 4; ++i) {
    wchar_t text[128] = {};
    TTTOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.lpszText = text;
    ASSERT_TRUE(SendMessageW(hints, TTM_ENUMTOOLSW, i,
                             reinterpret_cast<LPARAM>(&tool)));
    EXPECT_EQ(Gbk(text), text::Utf8ToGbk(expected[i])) << i;
    EXPECT_EQ(GetDlgCtrlID(reinterpret_cast<HWND>(tool.uId)),
              Ids::kImportId + i);
  }

  // Columns are never moved; only the customer line grid's may be sized.
  for (BusinessLineKey key : {BusinessLineKey::kBbsk, BusinessLineKey::kFxsk,
                              BusinessLineKey::kJqsk}) {
    auto other = Make(GetBusinessLine(key));
    HWND documents = GetDlgItem(other->hwnd(), Ids::kDocumentGridId);
    HWND lines = GetDlgItem(other->hwnd(), Ids::kLineGridId);
    for (HWND grid : {documents, lines}) {
      EXPECT_EQ(ListView_GetExtendedListViewStyle(grid) & LVS_EX_HEADERDRAGDROP,
                0u);
    }
    EXPECT_TRUE(RefusesColumnSizing(documents));
    EXPECT_EQ(RefusesColumnSizing(lines), key != BusinessLineKey::kJqsk);
  }
}

TEST_F(InterfaceWindowFrameTest, DisplayOperations) {
  auto window = Make(GetBusinessLine(BusinessLineKey::kBbsk));
  HWND w = window->hwnd();
  HWND status = GetDlgItem(w, Ids::kStatusBarId);

  window->StartProgress(3);
  HWND bar = FindWindowExW(status, nullptr, PROGRESS_CLASSW, nullptr);
  ASSERT_NE(bar, nullptr);
  const RECT r = ChildRect(status, bar);
  EXPECT_EQ(r.left, 101);
  EXPECT_EQ(r.top, 1);
  EXPECT_EQ(r.right - r.left, 148);
  EXPECT_EQ(r.bottom - r.top, 18);
  EXPECT_EQ(SendMessageW(bar, PBM_GETRANGE, FALSE, 0), 3);
  EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 0);
  window->StepProgress();
  window->StepProgress();
  EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 2);
  window->EndProgress();
  EXPECT_FALSE(IsWindow(bar));
  window->EndProgress();  // nothing to end

  window->SetStatusText(kBusyPanel, "查询中，请稍候……"_gbk);
  EXPECT_EQ(StatusText(status, 2), "查询中，请稍候……"_gbk);
  window->SetStatusText(kCountPanel, "记录数=12"_gbk);
  EXPECT_EQ(StatusText(status, 0), "记录数=12"_gbk);

  window->SetEndDate(D(2002, 9, 1));
  EXPECT_EQ(window->EndDate(), D(2002, 9, 1));
  window->SelectPickListItem(1);
  EXPECT_EQ(PickListText(w), "报废单据"_gbk);
  window->EnableRefresh(false);
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(w, Ids::kRefreshId)));
  window->EnableRefresh(true);
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(w, Ids::kRefreshId)));
}

TEST_F(InterfaceWindowFrameTest, DraggingTheSplitterSizesTheGrids) {
  // The head-office window: the document grid from y 81, 216 high, the
  // splitter band under it (297..301), the line grid from 302 down to the
  // totals. Each case presses at `press` and lets go at `release`.
  struct Case {
    const char* name;
    int press, release;
    int document_height;  // -1: all the room there is
  };
  const Case cases[] = {
      {"down by 50", 299, 349, 266},
      {"up by 16", 297, 281, 200},
      {"above the query bar", 301, 10, 0},
      {"into the totals", 299, 2000, -1},
      {"pressed under the band", 302, 349, 216},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto window = Make(GetBusinessLine(BusinessLineKey::kBbsk));
    HWND w = window->hwnd();
    SendMessageW(w, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, c.press));
    SendMessageW(w, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(10, c.release));
    SendMessageW(w, WM_LBUTTONUP, 0, MAKELPARAM(10, c.release));
    // Moves after the release change nothing.
    SendMessageW(w, WM_MOUSEMOVE, 0, MAKELPARAM(10, c.release + 7));
    const RECT documents = ChildRect(w, GetDlgItem(w, Ids::kDocumentGridId));
    const RECT lines = ChildRect(w, GetDlgItem(w, Ids::kLineGridId));
    const RECT bar = ChildRect(w, GetDlgItem(w, Ids::kStatusBarId));
    const int totals_top = bar.top - 42;
    const int height =
        c.document_height >= 0 ? c.document_height : totals_top - 81 - 5;
    EXPECT_EQ(documents.top, 81);
    EXPECT_EQ(documents.bottom - documents.top, height);
    EXPECT_EQ(lines.top, 81 + height + 5);
    EXPECT_EQ(lines.bottom, std::max<LONG>(lines.top, totals_top));
  }
}

TEST_F(InterfaceWindowFrameTest, OtherBusinessLinesFollowTheirTables) {
  struct Case {
    const BusinessLine* line;
    LONG left, top;
    const char* date_label;
    int document_columns;
    int line_columns;
  } cases[] = {
      {&GetBusinessLine(BusinessLineKey::kFxsk), 1, 81, "日期区间：", 8, 10},
      {&GetBusinessLine(BusinessLineKey::kJqsk), -1, 80, "业务日期区间：", 11,
       8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.line->name));
    auto window = Make(*c.line);
    HWND w = window->hwnd();
    RECT outer{};
    GetWindowRect(w, &outer);
    EXPECT_EQ(outer.left, c.left);
    EXPECT_EQ(outer.top, c.top);
    EXPECT_EQ(Gbk(WindowTextW(w)), text::Utf8ToGbk(c.line->caption));
    // No totals; the line grid and under it its footer reach down to the
    // status bar.
    EXPECT_EQ(GetDlgItem(w, Ids::kTotalsFirstId), nullptr);
    const RECT bar = ChildRect(w, GetDlgItem(w, Ids::kStatusBarId));
    const RECT lines = ChildRect(w, GetDlgItem(w, Ids::kLineGridId));
    const RECT footer = ChildRect(w, GetDlgItem(w, Ids::kLineFooterId));
    EXPECT_EQ(lines.bottom, footer.top);
    EXPECT_EQ(footer.left, lines.left);
    EXPECT_EQ(footer.right, lines.right);
    EXPECT_EQ(footer.bottom, bar.top);
    // The pick list reads "销售单据" from the start.
    EXPECT_EQ(PickListText(w), "销售单据"_gbk);
    EXPECT_NE(FindWindowExW(w, nullptr, L"Static",
                            WideFromUtf8(c.date_label).c_str()),
              nullptr);
    EXPECT_EQ(ColumnWidths(GetDlgItem(w, Ids::kDocumentGridId)).size(),
              static_cast<size_t>(c.document_columns));
    EXPECT_EQ(ColumnWidths(GetDlgItem(w, Ids::kLineGridId)).size(),
              static_cast<size_t>(c.line_columns));
  }
}

}  // namespace
}  // namespace skjk::win32
