#include "interface_window/interface_window_model.h"

#include <algorithm>
#include <cstddef>
#include <set>
#include <utility>

#include "client/transaction.h"
#include "exchange/export.h"
#include "exchange/import.h"
#include "text/forms.h"
#include "text/gbk.h"

namespace skjk {

using namespace text::literals;

namespace {
// Blocks of records freed between two rounds of message processing.
constexpr int kFreeStep = 32;
}  // namespace

InterfaceWindowModel::InterfaceWindowModel(const BusinessLine& business_line,
                                           Env* env, Display* display,
                                           RequestObserver* requests)
    : business_line_(business_line),
      env_(env),
      display_(display),
      pick_item_(business_line.look.pick_list_preset ? kSalesItem : kNoItem) {
  DocumentSet::ReceiveRecordsFn receive_records = RequestsOver(connection_);
  if (requests != nullptr) {
    receive_records =
        [requests, over = std::move(receive_records)](
            std::string_view provider, int packet_size, bool with_layout,
            const std::vector<std::string>& params, RecordReceiver* receiver) {
          requests->RequestBegins();
          Status status =
              over(provider, packet_size, with_layout, params, receiver);
          requests->RequestEnds();
          return status;
        };
  }
  sets_ = std::make_unique<WindowSets>(business_line_.sets,
                                       std::move(receive_records));
  // The answer of a large query takes seconds to come and to be stored:
  // meanwhile the window goes on answering (its busy state holds back
  // anything that would use the connection or the sets).
  connection_.set_waiting([this] { display_->ProcessMessages(); });
  connection_.set_desk(env_->ComputerName(), env_->UserName());
  for (int v = 0; v < 4; ++v) {
    DocumentSet& master = sets_->master(static_cast<View>(v));
    master.set_after_open([this](DocumentSet& set) { AfterOpen(set); });
    if (master.is_packet_set()) {
      master.set_after_scroll(
          [this, &master](RecordSet&) { ScrollStep(master); });
    }
  }
}

InterfaceWindowModel::~InterfaceWindowModel() = default;

void InterfaceWindowModel::LoadSettings() {
  Status status = skjk::LoadSettings(
      env_, SettingsPath(env_), business_line_.settings().section, &values_);
  if (!status.ok()) display_->ShowError(status.message());
}

void InterfaceWindowModel::Connect(std::string_view machine_name) {
  connection_.Close();
  connection_.set_machine_name(std::string(machine_name));
  if (!connection_.Open().ok()) {
    display_->ShowMessage("无法建立数据库连接！"_gbk, MessageKind::kError,
                          MessageOwner::kOwnerWindow);
    return;
  }
  // Selecting the item by code sends no change notification: no query.
  pick_item_ = kSalesItem;
  display_->SelectPickListItem(kSalesItem);
  document_count_ = 0;
  if (!business_line_.show_sync.empty()) Synchronise();
}

void InterfaceWindowModel::Synchronise() {
  // A query asked for meanwhile waits for the copy.
  LongAction action(this);
  if (!action.started()) return;
  display_->SetStatusText(kBusyPanel, "正在同步数据库，请稍候……"_gbk);
  display_->SetBusyCursor(true);
  display_->ProcessMessages();
  // Leaving without a commit rolls the whole copy back.
  Transaction transaction(&connection_);
  Status status = transaction.Begin();
  for (std::string_view sql : business_line_.show_sync) {
    if (status.ok()) status = transaction.Execute(text::Utf8ToGbk(sql));
  }
  if (status.ok()) status = transaction.Commit();
  display_->SetStatusText(kBusyPanel,
                          status.ok() ? "" : "同步化发生错误！"_gbk);
  display_->SetBusyCursor(false);
}

void InterfaceWindowModel::AskForMissingSettings() {
  if (activated_) return;
  activated_ = true;
  if (values_.invoice_file.empty() || values_.sales_file.empty() ||
      values_.void_file.empty()) {
    display_->ShowMessage("请先设置接口参数！"_gbk, MessageKind::kInfo,
                          MessageOwner::kNone);
    EditSettings();
  }
}

void InterfaceWindowModel::RadioChecked(bool invoiced) {
  if (invoiced == invoiced_) return;
  invoiced_ = invoiced;
  ChooseView();
}

void InterfaceWindowModel::PickListChanged(int item) {
  if (item == pick_item_) return;
  pick_item_ = item;
  ChooseView();
}

void InterfaceWindowModel::ChooseView() {
  if (closed_) return;
  if (busy_) {
    // Rebinding now would pull the set from under the running action.
    pending_view_ = true;
    return;
  }
  const bool sales = pick_item_ == kSalesItem;
  Bind(invoiced_ ? (sales ? View::kDoneSales : View::kDoneVoid)
                 : (sales ? View::kOpenSales : View::kOpenVoid));
  if (!documents().active()) {
    Refresh();
  } else {
    // Shown as last loaded, without a query; the count is the one of the
    // documents shown, not of the set queried last.
    ShowCount(documents());
  }
}

void InterfaceWindowModel::Bind(View view) {
  if (view == view_) return;
  // The document filter goes along with the binding.
  if (!filters_.empty()) documents().SetFilter(nullptr);
  view_ = view;
  if (!filters_.empty()) ApplyFilter();
  display_->RebindGrids();
}

void InterfaceWindowModel::Refresh() {
  if (closed_) return;
  if (busy_) {
    pending_query_ = true;
    return;
  }
  Query();
}

void InterfaceWindowModel::Query() {
  const CalendarDate start = display_->StartDate();
  const CalendarDate end = display_->EndDate();
  if (start > end) {
    display_->ShowMessage("查询截至日期不能小于起始日期！"_gbk,
                          MessageKind::kError, MessageOwner::kOwnerWindow);
    return;
  }
  LongAction action(this);
  if (!action.started()) return;
  ++queries_started_;
  display_->SetBusyCursor(true);
  display_->EnableRefresh(false);
  display_->SetStatusText(kBusyPanel, "查询中，请稍候……"_gbk);
  display_->ProcessMessages();

  DocumentSet& set = documents();
  // Freeing a million documents with their lines at once would keep the
  // window from answering for longer than the user should wait: the old
  // records go in steps, with messages processed in between.
  std::unique_ptr<RecordStore> released;
  set.Close(&released);
  for (bool more = released != nullptr; more;) {
    more = released->FreeSome(kFreeStep);
    display_->ProcessMessages();
  }
  released.reset();
  Status status = set.Open({text::IsoDate(start), text::IsoDate(end)});
  if (status.ok()) set.First();

  // Also after a failure the window comes back to its normal state, so
  // that the Refresh button is usable again.
  display_->EnableRefresh(true);
  display_->SetStatusText(kBusyPanel, "");
  display_->SetBusyCursor(false);
  if (!status.ok()) display_->ShowError(status.message());
}

void InterfaceWindowModel::AfterOpen(DocumentSet& set) { ShowCount(set); }

void InterfaceWindowModel::MovePastLastDocument() {
  if (closed_) return;
  DocumentSet& set = documents();
  // An export walking the set has it detached from the grid.
  if (set.ControlsDisabled() || set.RecordCount() == 0) return;
  const int last = set.RecordCount() - 1;
  if (set.RecNo() != last) {
    // Scrolling on at the end of a set that holds everything there is moves
    // nothing.
    if (set.exhausted()) return;
    set.MoveTo(last);
  }
  set.Next();
}

void InterfaceWindowModel::ScrollStep(DocumentSet& set) {
  if (&set != &documents() || !set.Eof() || set.exhausted()) return;
  // A query, view change or close asked for meanwhile waits for the packet.
  LongAction action(this);
  if (!action.started()) return;
  BeginBusy("查询中，请稍候……"_gbk);
  Result<int> added = set.NextPacket();
  // The document count keeps the number loaded when the set was opened.
  display_->SetStatusText(kCountPanel,
                          "记录数="_gbk + std::to_string(set.RecordCount()));
  EndBusy();
  if (!added.ok()) display_->ShowError(added.status().message());
}

bool InterfaceWindowModel::SetColumnFilter(int column,
                                           std::optional<std::string> text) {
  const auto& columns = business_line_.look.document_columns;
  if (busy_ || closed_ || column < 0 ||
      column >= static_cast<int>(columns.size()) ||
      !columns[static_cast<size_t>(column)].filterable) {
    return false;
  }
  if (text) {
    filters_[column] = std::move(*text);
  } else {
    filters_.erase(column);
  }
  ApplyFilter();
  if (documents().active()) ShowCount(documents());
  return true;
}

const std::string* InterfaceWindowModel::ColumnFilter(int column) const {
  auto it = filters_.find(column);
  return it == filters_.end() ? nullptr : &it->second;
}

namespace {

// A document column's text as the grid shows it for raw record `row`; a
// column whose field the set lacks shows nothing.
struct ShownColumn {
  ShownColumn(const DocumentSet& set, const GridColumn& column)
      : field(set.FieldIndex(column.field)), format(column.format) {
    if (field >= 0) type = set.fields()[static_cast<size_t>(field)].type;
  }
  std::string Text(const DocumentSet& set, int record) const {
    return field < 0 ? std::string()
                     : CellText(type, set.RawValue(record, field), format);
  }
  int field;
  FieldType type = FieldType::kText;
  CellFormat format;
};

struct ColumnMatch {
  ShownColumn column;
  std::string text;
};

bool Passes(const DocumentSet& set, int record,
            const std::vector<ColumnMatch>& matches) {
  for (const ColumnMatch& m : matches) {
    if (m.column.Text(set, record) != m.text) return false;
  }
  return true;
}

}  // namespace

void InterfaceWindowModel::ApplyFilter() {
  DocumentSet& set = documents();
  if (filters_.empty()) {
    if (set.filtered()) set.SetFilter(nullptr);
    return;
  }
  std::vector<ColumnMatch> matches;
  for (const auto& [column, text] : filters_) {
    matches.push_back(
        {ShownColumn(set, business_line_.look.document_columns[column]), text});
  }
  set.SetFilter(
      [matches = std::move(matches)](const DocumentSet& s, int record) {
        return Passes(s, record, matches);
      });
}

std::vector<std::string> InterfaceWindowModel::FilterChoices(int column) const {
  const auto& columns = business_line_.look.document_columns;
  if (column < 0 || column >= static_cast<int>(columns.size())) return {};
  const DocumentSet& set = sets_->master(view_);
  const ShownColumn shown(set, columns[static_cast<size_t>(column)]);
  std::vector<ColumnMatch> others;
  for (const auto& [other, text] : filters_) {
    if (other != column)
      others.push_back({ShownColumn(set, columns[other]), text});
  }
  std::vector<CellValue> values;
  for (int record = 0; record < set.raw_count(); ++record) {
    if (!Passes(set, record, others)) continue;
    values.push_back(shown.field < 0 ? CellValue()
                                     : set.RawValue(record, shown.field));
  }
  std::stable_sort(values.begin(), values.end(),
                   [](const CellValue& a, const CellValue& b) {
                     return CompareValues(a, b) < 0;
                   });
  std::vector<std::string> choices;
  std::set<std::string> seen;
  for (const CellValue& v : values) {
    std::string text =
        shown.field < 0 ? std::string() : CellText(shown.type, v, shown.format);
    if (seen.insert(text).second) choices.push_back(std::move(text));
  }
  return choices;
}

void InterfaceWindowModel::ShowCount(DocumentSet& set) {
  document_count_ = set.RecordCount();
  display_->SetStatusText(kCountPanel,
                          "记录数="_gbk + std::to_string(document_count_));
}

void InterfaceWindowModel::StartDateChosen() {
  if (closed_) return;
  if (values_.one_day_range) {
    display_->SetEndDate(display_->StartDate());
    Refresh();
  } else {
    display_->FocusEndDate();
  }
}

void InterfaceWindowModel::EditSettings() {
  if (closed_) return;
  LongAction action(this);
  if (!action.started()) return;
  RunSettingsDialog();
}

void InterfaceWindowModel::RunSettingsDialog() {
  Status status =
      display_->RunSettingsDialog(business_line_.settings(), &values_);
  if (!status.ok()) display_->ShowError(status.message());
}

namespace {

// Messages and the settings dialog of the export and the import.
template <class Host>
class ExchangeSite : public Host {
 public:
  using Notice = ExchangeHost::Notice;

  ExchangeSite(InterfaceWindowModel* window,
               std::function<void()> open_settings)
      : window_(window), open_settings_(std::move(open_settings)) {}

  void Tell(Notice kind, std::string_view text) override {
    const MessageKind box = kind == Notice::kWarning ? MessageKind::kWarning
                            : kind == Notice::kError ? MessageKind::kError
                                                     : MessageKind::kInfo;
    display().ShowMessage(text, box, MessageOwner::kOwnerWindow);
  }
  bool Confirm(std::string_view text) override {
    return display().ShowMessage(text, MessageKind::kConfirm,
                                 MessageOwner::kOwnerWindow);
  }
  bool ConfirmWarning(std::string_view text) override {
    return display().ShowMessage(text, MessageKind::kWarningQuestion,
                                 MessageOwner::kOwnerWindow);
  }
  void OpenSettings() override { open_settings_(); }

 protected:
  Display& display() { return window_->display(); }
  InterfaceWindowModel* window() { return window_; }

 private:
  InterfaceWindowModel* window_;
  std::function<void()> open_settings_;
};

// The export's view of the window.
class ExportSite final : public ExchangeSite<ExportHost> {
 public:
  using ExchangeSite::ExchangeSite;

  void BeginWalk(int count, std::string_view status) override {
    window()->StartProgress(count);
    window()->BeginBusy(status);
  }
  void StepWalk() override {
    window()->StepProgress();
    window()->ProcessMessages();
  }
  void EndWalk() override {
    window()->EndProgress();
    window()->EndBusy();
  }
  std::string RegionalDateTime(double value) override {
    return display().RegionalDateTime(value);
  }
};

// The import's view of the window.
class ImportSite final : public ExchangeSite<ImportHost> {
 public:
  using ExchangeSite::ExchangeSite;

  void SetStatus(std::string_view text) override {
    display().SetStatusText(kBusyPanel, text);
    if (!text.empty()) display().ProcessMessages();
  }
  void SetStartDate(text::Day day) override { display().SetStartDate(day); }
  void SetEndDate(text::Day day) override { display().SetEndDate(day); }
  void BeginWalk(int count) override {
    display().SetBusyCursor(true);
    display().StartProgress(count);
    display().ProcessMessages();
  }
  void StepWalk() override {
    display().StepProgress();
    display().ProcessMessages();
  }
  void EndWalk() override {
    display().EndProgress();
    display().SetBusyCursor(false);
  }
  void ShowInvoiced() override {
    display().CheckInvoiced();
    // Runs once the import has ended (a view change waits for the running
    // action).
    window()->RadioChecked(true);
  }
};

}  // namespace

void InterfaceWindowModel::ImportInvoices() {
  if (closed_) return;
  LongAction action(this);
  if (!action.started()) return;
  ImportSite site(this, [this] { RunSettingsDialog(); });
  RunImport(business_line_.importing, values_.invoice_file, env_, &connection_,
            &site);
}

std::string InterfaceWindowModel::PickListText() const {
  switch (pick_item_) {
    case kSalesItem:
      return "销售单据"_gbk;
    case kVoidItem:
      return "报废单据"_gbk;
    default:
      return std::string();
  }
}

namespace {

// The settings the export reads, as views into `values`.
ExportSettings ExportSettingsOf(const Settings& values) {
  return {.sales_file = values.sales_file,
          .void_file = values.void_file,
          .reviewer = values.reviewer,
          .payee = values.payee,
          .tax_item = values.tax_item};
}

}  // namespace

void InterfaceWindowModel::ExportDocuments() {
  if (closed_) return;
  LongAction action(this);
  if (!action.started()) return;
  const std::string list_text = PickListText();
  ExportRequest request;
  request.settings = ExportSettingsOf(values_);
  request.document_count = document_count_;
  request.not_invoiced = !invoiced_;
  request.list_text = list_text;
  request.start = display_->StartDate();
  request.end = display_->EndDate();
  request.documents = &documents();
  ExportSite site(this, [this] { RunSettingsDialog(); });
  RunExport(business_line_.exporting, request, env_, &connection_, &site);
}

void InterfaceWindowModel::Exit() {
  if (CanClose()) display_->CloseWindow();
}

bool InterfaceWindowModel::CanClose() {
  if (busy_) {
    pending_close_ = true;
    return false;
  }
  return true;
}

void InterfaceWindowModel::Close() {
  closed_ = true;
  sets_->master(View::kOpenSales).Close();
  sets_->master(View::kOpenVoid).Close();
}

void InterfaceWindowModel::BeginBusy(std::string_view text) {
  display_->SetBusyCursor(true);
  display_->SetStatusText(kBusyPanel, text);
  display_->ProcessMessages();
}

void InterfaceWindowModel::EndBusy() {
  display_->SetStatusText(kBusyPanel, "");
  display_->SetBusyCursor(false);
}

InterfaceWindowModel::LongAction::LongAction(InterfaceWindowModel* window)
    : window_(window), started_(!window->busy_) {
  if (started_) window_->busy_ = true;
}

InterfaceWindowModel::LongAction::~LongAction() {
  if (!started_) return;
  window_->busy_ = false;
  window_->RunDeferred();
}

void InterfaceWindowModel::RunDeferred() {
  if (pending_close_) {
    pending_close_ = pending_view_ = pending_query_ = false;
    display_->CloseWindow();
    return;
  }
  bool want_query = pending_query_;
  const bool want_view = pending_view_;
  pending_query_ = pending_view_ = false;
  if (want_view) {
    const int queries_before = queries_started_;
    ChooseView();
    // The view change queried already: that serves the query asked for.
    if (queries_started_ != queries_before) want_query = false;
  }
  if (want_query && !busy_ && !closed_) Query();
}

}  // namespace skjk
