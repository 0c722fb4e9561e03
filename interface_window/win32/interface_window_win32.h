// The Win32 interface window (TFrmBbsk; TFrmFxsk and TFrmJqsk from the same
// tables): lays out the controls of the business line's look and forwards their
// events to the window model (interface_window/interface_window.h), for which
// it is the Display.
#ifndef SKJK_INTERFACE_WINDOW_WIN32_INTERFACE_WINDOW_WIN32_H_
#define SKJK_INTERFACE_WINDOW_WIN32_INTERFACE_WINDOW_WIN32_H_

#include <windows.h>

#include <array>
#include <memory>
#include <string>

#include "documents/document_set.h"
#include "interface_window/display.h"
#include "interface_window/grid_columns.h"
#include "interface_window/interface_window.h"
#include "interface_window/win32/interface_factory.h"
#include "interface_window/win32/record_grid.h"

namespace skjk::win32 {

class InterfaceWindowWin32 final : public InterfaceWindow,
                                   public Display,
                                   private RecordSetObserver {
 public:
  // Control identifiers (the end-to-end tests find the controls by them).
  enum ControlId : int {
    kImportId = 1101,
    kExportId,
    kSetId,
    kExitId,
    kInvoicedId,     // RB1 "已开发票"
    kNotInvoicedId,  // RB2 "未开发票"
    kStartDateId,    // DateTimePicker1
    kEndDateId,      // DateTimePicker2
    kRefreshId,
    kPickListId,      // dxPickEdit1
    kDocumentGridId,  // dxDBGrid1
    kLineGridId,      // dxDBGrid2
    kStatusBarId,
    kTotalsFirstId,                      // dxDBEdit1..5
    kLineFooterId = kTotalsFirstId + 5,  // the line grid's summary footer
  };

  InterfaceWindowWin32(const BusinessLine& business_line,
                       const InterfaceContext& context);
  ~InterfaceWindowWin32() override;

  Status Create() override;
  skjk::InterfaceWindow& model() { return *model_; }

  // ---- Display.
  bool ShowMessage(std::string_view text, MessageKind kind,
                   MessageOwner owner) override;
  void ShowError(std::string_view text) override;
  void SetStatusText(int panel, std::string_view text) override;
  void SetBusyCursor(bool busy) override;
  void StartProgress(int n) override;
  void StepProgress() override;
  void EndProgress() override;
  void ProcessMessages() override;
  void RebindGrids() override;
  CalendarDate StartDate() override;
  CalendarDate EndDate() override;
  void SetStartDate(CalendarDate date) override;
  void SetEndDate(CalendarDate date) override;
  void CheckInvoiced() override;
  void FocusEndDate() override;
  void EnableRefresh(bool enabled) override;
  void SelectPickListItem(int index) override;
  Status RunSettingsDialog(const SettingsRules& line,
                           Settings* values) override;
  std::string RegionalDateTime(double value) override;
  void CloseWindow() override;

 protected:
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) override;
  void OnClose() override;

 private:
  // Master set moved or reloaded: the totals follow it.
  void DataChanged() override { UpdateTotals(); }
  void CursorMoved() override { UpdateTotals(); }

  void CreateControls();
  void Layout();
  void UpdateTotals();
  // The filter menu of document column `column` at screen point `below`:
  // "（全部）" and the column's texts; the choice filters the documents.
  void ShowFilterMenu(int column, POINT below);
  void DrawButton(const DRAWITEMSTRUCT& item);
  void Paint();
  bool OnCommand(int id, int code);
  bool OnNotify(NMHDR* header, LRESULT* result);
  // The splitter band between the grids, in client coordinates.
  RECT SplitterRect() const;
  int WorkTop() const { return kToolbarHeight; }

  const BusinessLine& business_line_;
  const WindowLook& look_;
  InterfaceContext context_;
  std::unique_ptr<skjk::InterfaceWindow> model_;

  HFONT simsun_ = nullptr;       // SimSun 9 (or the Chinese fallback)
  HFONT window_font_ = nullptr;  // toolbar and grids
  HBRUSH background_ = nullptr;

  std::array<HWND, 4> toolbar_{};
  HWND hints_ = nullptr;  // the toolbar buttons' hints, never shown
  HWND rb1_ = nullptr, rb2_ = nullptr, date_label_ = nullptr,
       to_label_ = nullptr;
  HWND start_date_ = nullptr, end_date_ = nullptr, refresh_ = nullptr;
  HWND pick_list_ = nullptr, status_bar_ = nullptr, progress_ = nullptr;
  HWND totals_label1_ = nullptr, totals_label2_ = nullptr;
  std::array<HWND, 5> totals_{};
  RecordGrid documents_;
  RecordGrid lines_;
  DocumentSet* totals_set_ = nullptr;

  int document_height_ = kDocumentGridHeight;
  bool dragging_ = false;
  int drag_offset_ = 0;
  bool busy_cursor_ = false;
  bool shown_ = false;
  bool activated_ = false;
};

}  // namespace skjk::win32

#endif  // SKJK_INTERFACE_WINDOW_WIN32_INTERFACE_WINDOW_WIN32_H_
