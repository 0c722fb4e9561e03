// The Win32 interface window (TFrmBbsk; TFrmFxsk and TFrmJqsk from the same
// tables): lays out the controls of the business line's look and forwards their
// events to the window model (interface_window/interface_window_model.h),
// for which it is the Display. Each control is an object created with the
// model handler it calls (window_framework/controls.h); the window hands a
// control's messages to it through a ControlSet. The splitter between the
// grids sizes the document grid.
#ifndef SKJK_INTERFACE_WINDOW_WIN32_INTERFACE_WINDOW_FRAME_H_
#define SKJK_INTERFACE_WINDOW_WIN32_INTERFACE_WINDOW_FRAME_H_

#include <windows.h>

#include <array>
#include <memory>
#include <string>

#include "documents/document_set.h"
#include "interface_window/display.h"
#include "interface_window/grid_columns.h"
#include "interface_window/interface_window_model.h"
#include "interface_window/win32/interface_factory.h"
#include "interface_window/win32/picture_button.h"
#include "interface_window/win32/record_grid.h"
#include "window_framework/controls.h"
#include "window_framework/splitter.h"

namespace skjk::win32 {

class InterfaceWindowFrame final : public InterfaceWindow,
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

  InterfaceWindowFrame(const BusinessLine& business_line,
                       const InterfaceContext& context);
  ~InterfaceWindowFrame() override;

  Status Create() override;
  InterfaceWindowModel& model() { return *model_; }

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

  // The controls, in the order of their windows (which is the tab order),
  // each created with its callback and added to controls_.
  void CreateControls();
  void CreateToolbar(HFONT font);
  void CreateQueryBar();
  void CreateViewButtons();
  void CreateDatePickers();
  void CreateGrids(HFONT font);
  void CreateTotals();
  void CreateStatusBar();

  void Layout();
  void UpdateTotals();
  // The user chose row `row` of the document grid.
  void SelectDocument(int row);
  // The user dragged the splitter's top edge to `top`: the document grid
  // takes the height above it.
  void MoveSplitter(int top);
  // The filter menu of document column `column` at screen point `below`:
  // "（全部）" and the column's texts; the choice filters the documents.
  void ShowFilterMenu(int column, POINT below);
  void Paint();
  // The messages of the controls (commands, notifications, drawing and
  // colours) and of the mouse (busy cursor, splitter): true when handled,
  // *result then holds the answer.
  bool OnControlMessage(UINT message, WPARAM wparam, LPARAM lparam,
                        LRESULT* result);
  bool OnMouseMessage(UINT message, WPARAM wparam, LPARAM lparam,
                      LRESULT* result);
  int WorkTop() const { return kToolbarHeight; }

  const BusinessLine& business_line_;
  const WindowLook& look_;
  InterfaceContext context_;
  std::unique_ptr<InterfaceWindowModel> model_;

  HFONT simsun_ = nullptr;       // SimSun 9 (or the Chinese fallback)
  HFONT window_font_ = nullptr;  // toolbar and grids
  HBRUSH background_ = nullptr;

  std::array<PictureButton, 4> toolbar_;  // fbImport, fbExport, fbSet, fbExit
  HWND hints_ = nullptr;             // the toolbar buttons' hints, never shown
  RadioButton invoiced_button_;      // RB1 "已开发票"
  RadioButton not_invoiced_button_;  // RB2 "未开发票"
  HWND date_label_ = nullptr, to_label_ = nullptr;
  DatePicker start_date_, end_date_;
  PictureButton refresh_;   // fbRefresh
  DropDownList pick_list_;  // dxPickEdit1
  HWND status_bar_ = nullptr, progress_ = nullptr;
  HWND totals_label1_ = nullptr, totals_label2_ = nullptr;
  std::array<HWND, 5> totals_{};
  RecordGrid documents_;
  RecordGrid lines_;
  Splitter splitter_{[this](int top) { MoveSplitter(top); }};
  ControlSet controls_;
  DocumentSet* totals_set_ = nullptr;

  int document_height_ = kDocumentGridHeight;
  bool busy_cursor_ = false;
  bool shown_ = false;
  bool activated_ = false;
};

}  // namespace skjk::win32

#endif  // SKJK_INTERFACE_WINDOW_WIN32_INTERFACE_WINDOW_FRAME_H_
