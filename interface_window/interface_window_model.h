// The interface window's rules (TFrmBbsk, TFrmFxsk, TFrmJqsk), without any
// window: the handlers decide, a Display shows.
//
// The window owns its connection (DCOMConnection1), its nine document sets
// and its window values. documents() and lines() are the view binding: the
// master and detail set of the current view.
//
// Long actions and re-entry. Query, export, import and the settings dialog
// are long actions: while one runs, Display::ProcessMessages() lets the
// window repaint and handle input, so handlers can be called again from
// inside the running one. A second long action never starts in the middle of
// the first:
//  - a query asked for meanwhile (Refresh, a date picker closing) and a view
//    change are remembered and carried out once the running action ends;
//  - closing the window is remembered likewise and carried out last (the
//    window never goes away under a running action);
//  - export, import and the settings dialog are refused (LongAction fails
//    to start) and nothing happens.
// Everything runs on the window's one thread; nothing is locked.
//
// No method throws; failures are shown through the Display.
#ifndef SKJK_INTERFACE_WINDOW_INTERFACE_WINDOW_MODEL_H_
#define SKJK_INTERFACE_WINDOW_INTERFACE_WINDOW_MODEL_H_

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/env.h"
#include "client/connection.h"
#include "documents/document_set.h"
#include "documents/window_sets.h"
#include "interface_window/business_line.h"
#include "interface_window/display.h"
#include "settings/settings.h"

namespace skjk {

// The pick list's items, in their order in the list.
inline constexpr int kSalesItem = 0;  // "销售单据"
inline constexpr int kVoidItem = 1;   // "报废单据"
inline constexpr int kNoItem = -1;    // nothing chosen (the list is empty)

// Told about each get-records request of a window's sets, on the window's
// thread: before it goes out and after it ended (answered or failed), so
// that its caller can count the requests or time the server's answers.
class RequestObserver {
 public:
  virtual ~RequestObserver() = default;
  virtual void RequestBegins() = 0;
  virtual void RequestEnds() = 0;
};

class InterfaceWindowModel {
 public:
  // `env`, `display` and `requests` (when given) are not owned and must
  // outlive the window.
  InterfaceWindowModel(const BusinessLine& business_line, Env* env,
                       Display* display, RequestObserver* requests = nullptr);
  InterfaceWindowModel(const InterfaceWindowModel&) = delete;
  InterfaceWindowModel& operator=(const InterfaceWindowModel&) = delete;
  ~InterfaceWindowModel();

  // ---- Handlers: what the window does on the user's and the system's
  // events. The comments name the form's components where that helps.
  // Loads the settings into the window values (window creation).
  void LoadSettings();
  // Connects to `machine_name` (host text 5), resets the view and runs the
  // line's copy step (the customer window's synchronisation), which nothing
  // runs when the connection failed (window shown).
  void Connect(std::string_view machine_name);
  // Asks for the settings when a file location is missing (activation);
  // only the first call does anything.
  void AskForMissingSettings();
  // The view controls' events, with the value the user chose: RB1
  // "已开发票" (`invoiced`) or RB2 "未开发票" became checked; the pick list's
  // selection became `item`. Each runs ChooseView when the choice differs
  // from the one the window holds (clicking the checked radio button again
  // does nothing).
  void RadioChecked(bool invoiced);
  void PickListChanged(int item);
  // Binds the view of the chosen radio button and pick-list item ("销售单据"
  // means sales documents, any other item or none void documents) and
  // queries its set when it is closed; an open set is shown as last loaded,
  // and the document count and panel 0 then give its number of documents.
  void ChooseView();
  // Queries the bound set (button fbRefresh).
  void Refresh();
  // The start date was chosen (DateTimePicker1 closed up): with the
  // one-day setting the end date becomes the start date and the set is
  // queried; otherwise the end date picker gets the focus.
  void StartDateChosen();
  // The end date was chosen (DateTimePicker2 closed up): queries the set.
  void EndDateChosen() { Refresh(); }
  // Runs the settings dialog on the window values (button fbSet).
  void EditSettings();
  // Writes the not-invoiced documents of the view into the sales-document or
  // void-document file (exchange/export.h; button fbExport).
  void ExportDocuments();
  // Reads the issued-invoice file and writes its invoice numbers back
  // (exchange/import.h; button fbImport); on success selects the invoiced
  // view.
  void ImportInvoices();
  // Closes the window unless a long action runs; it then closes once the
  // action has ended (button fbExit).
  void Exit();
  // The user moved past the last document of the document grid (down arrow
  // or page down on it, or scrolling on at the end): the bound set's cursor
  // goes to its last document, unless the set holds all there is and the
  // cursor stands elsewhere, and then past it. For a set loaded in packets
  // that runs the scroll step, which fetches the next packet.
  void MovePastLastDocument();
  // Whether the window may close now (close box, Alt+F4): false while a
  // long action runs; it then closes once the action has ended.
  bool CanClose();
  // The window closes: the open sets are closed and no handler does
  // anything any more.
  void Close();

  // ---- Document filter (a line whose document columns are filterable).
  // Lets only the documents whose column `column` (index into the line's
  // document columns) shows `text` (GBK) through, together with the other
  // columns' filters; nullopt drops the column's filter. The filter belongs
  // to the bound master set itself, so the export walks only what passes;
  // it moves with the binding to the set of another view. The document
  // count and panel 0 then give the number of documents that pass. Refused
  // (false) while a long action runs or for a column that is not
  // filterable.
  bool SetColumnFilter(int column, std::optional<std::string> text);
  // The text column `column` is filtered by, or nullptr.
  const std::string* ColumnFilter(int column) const;
  // The texts the column shows over the bound set's documents that pass the
  // other columns' filters, each once, in ascending order of their values.
  std::vector<std::string> FilterChoices(int column) const;

  // ---- State.
  Settings& values() { return values_; }
  int document_count() const { return document_count_; }
  View view() const { return view_; }
  bool invoiced() const { return invoiced_; }
  int pick_item() const { return pick_item_; }
  // The pick list's text: "销售单据", "报废单据" or empty (GBK).
  std::string PickListText() const;
  // The master and detail set of the current view (DataSource1 and
  // DataSource2).
  DocumentSet& documents() { return sets_->master(view_); }
  DetailSet& lines() { return sets_->detail(view_); }
  WindowSets& sets() { return *sets_; }
  Display& display() { return *display_; }
  bool busy() const { return busy_; }

  // ---- Display operations for the export and import.
  // Hourglass, `text` in status panel 2, pending messages processed.
  void BeginBusy(std::string_view text);
  void EndBusy();
  void StartProgress(int n) { display_->StartProgress(n); }
  void StepProgress() { display_->StepProgress(); }
  void EndProgress() { display_->EndProgress(); }
  void ProcessMessages() { display_->ProcessMessages(); }

  // Marks a long action for its lifetime. started() is false when another
  // one runs: the caller must then do nothing. When the last one ends, what
  // was asked for meanwhile runs (view change, query, close).
  class LongAction {
   public:
    explicit LongAction(InterfaceWindowModel* window);
    ~LongAction();
    LongAction(const LongAction&) = delete;
    LongAction& operator=(const LongAction&) = delete;
    bool started() const { return started_; }

   private:
    InterfaceWindowModel* window_;
    bool started_;
  };

 private:
  void Bind(View view);
  void Query();
  void AfterOpen(DocumentSet& set);
  // ClientDataSet5AfterScroll: at the end of a set loaded in packets, the
  // next packet is fetched with the busy display.
  void ScrollStep(DocumentSet& set);
  // Puts the document filter on the bound master set (none when empty).
  void ApplyFilter();
  // Document count and panel 0 := the number of documents of `set`.
  void ShowCount(DocumentSet& set);
  void RunDeferred();
  void RunSettingsDialog();
  // The line's copy step of the show step, in one transaction; a failure is
  // told in the status bar only.
  void Synchronise();

  const BusinessLine& business_line_;
  Env* env_;
  Display* display_;
  Connection connection_;
  std::unique_ptr<WindowSets> sets_;
  Settings values_;
  int document_count_ = 0;
  View view_ = View::kOpenSales;
  bool invoiced_ = false;  // RB2 "未开发票" starts checked
  int pick_item_;          // the pick list's selection
  bool activated_ = false;

  bool busy_ = false;
  bool pending_view_ = false;
  bool pending_query_ = false;
  bool pending_close_ = false;
  bool closed_ = false;
  int queries_started_ = 0;
  std::map<int, std::string> filters_;  // document column -> text
};

}  // namespace skjk

#endif  // SKJK_INTERFACE_WINDOW_INTERFACE_WINDOW_MODEL_H_
