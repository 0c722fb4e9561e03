// The interface window's query of 1,000,000 documents, from pressing "刷新"
// to the grids showing them, through skjk-server; and the longest time the
// window's thread goes without processing window messages meanwhile, the
// wait for the server's answer included: a window that waits for the server
// without processing messages is as frozen as one that decodes.
//
//   skjk-ui-stall-bench --machine HOST:PORT [--from YYYY-MM-DD]
//                       [--to YYYY-MM-DD] [--runs N]
//
// Runs the window model with a display that stands for the Win32 window: it
// notes when messages would be processed, and its grids read what a visible
// page of the document and line grids shows whenever the sets change.
// Prints the times (with the time spent in the get-records request, for
// information) and "ratio: ui-stall <longest stall in ms / 100>".
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "base/env.h"
#include "documents/document_set.h"
#include "interface_window/business_line.h"
#include "interface_window/display.h"
#include "interface_window/grid_columns.h"
#include "interface_window/interface_window_model.h"
#include "testing/recording_display.h"
#include "text/forms.h"
#include "text/gbk.h"

namespace skjk {
namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// The window's thread as the benchmark sees it: a stall runs from one
// round of message processing to the next, whatever the thread does
// meanwhile (decoding, freeing, waiting for the server). The time inside
// the get-records request is added up apart, for information.
class Timeline : public RequestObserver {
 public:
  void Start() {
    last_ = Clock::now();
    longest_ = Clock::duration::zero();
    request_ = Clock::duration::zero();
  }
  // The thread processes messages: a stall ends here.
  void Responsive() {
    const Clock::time_point now = Clock::now();
    longest_ = std::max(longest_, now - last_);
    last_ = now;
  }
  void RequestBegins() override { request_start_ = Clock::now(); }
  void RequestEnds() override { request_ += Clock::now() - request_start_; }
  Clock::duration longest() const { return longest_; }
  Clock::duration request() const { return request_; }

 private:
  Clock::time_point last_;
  Clock::time_point request_start_;
  Clock::duration longest_{};
  Clock::duration request_{};
};

// A grid of the window: on every change it re-reads the item count and the
// cells of one visible page, as the owner-data list view does.
class PageGrid : public RecordSetObserver {
 public:
  explicit PageGrid(std::span<const GridColumn> columns) : columns_(columns) {}
  ~PageGrid() override { Bind(nullptr); }
  void Bind(RecordSet* set) {
    if (set_ != nullptr) set_->RemoveObserver(this);
    set_ = set;
    if (set_ != nullptr) {
      set_->AddObserver(this);
      fields_ = ResolveColumns(set_->fields(), columns_);
    }
    DataChanged();
  }
  void DataChanged() override {
    if (set_ == nullptr) return;
    count_ = set_->RecordCount();
    const int first = std::max(0, set_->RecNo());
    for (int row = first; row < std::min(count_, first + kPage); ++row) {
      for (size_t c = 0; c < columns_.size(); ++c) {
        if (fields_[c] < 0) continue;
        chars_ += CellText(set_->fields()[fields_[c]].type,
                           set_->Cell(row, fields_[c]), columns_[c].format)
                      .size();
      }
    }
  }
  void CursorMoved() override { DataChanged(); }
  int count() const { return count_; }

 private:
  static constexpr int kPage = 12;
  std::span<const GridColumn> columns_;
  std::vector<int> fields_;
  RecordSet* set_ = nullptr;
  int count_ = 0;
  size_t chars_ = 0;
};

// The Win32 window as the benchmark sees it: message processing marks the
// timeline, the grids read a page on every change, and whatever it shows
// otherwise is recorded (a message or an error fails the run).
class BenchDisplay : public testing::RecordingDisplay {
 public:
  explicit BenchDisplay(Timeline* timeline) : timeline_(timeline) {
    start = std::chrono::year{2024} / 1 / 1;
    end = std::chrono::year{2024} / 12 / 31;
  }
  void Attach(InterfaceWindowModel* window) {
    window_ = window;
    RebindGrids();
  }
  bool ShowMessage(std::string_view text, MessageKind kind,
                   MessageOwner owner) override {
    std::fprintf(stderr, "ui-bench: message: %s\n", std::string(text).c_str());
    return RecordingDisplay::ShowMessage(text, kind, owner);
  }
  void ShowError(std::string_view text) override {
    std::fprintf(stderr, "ui-bench: error: %s\n", std::string(text).c_str());
    RecordingDisplay::ShowError(text);
  }
  // Marks the timeline only: the log would grow with every round.
  void ProcessMessages() override { timeline_->Responsive(); }
  void RebindGrids() override {
    documents_.Bind(&window_->documents());
    lines_.Bind(&window_->lines());
  }

  int shown() const { return documents_.count(); }
  bool failed() const { return !messages.empty() || !errors.empty(); }

 private:
  Timeline* timeline_;
  InterfaceWindowModel* window_ = nullptr;
  PageGrid documents_{
      GetBusinessLine(BusinessLineKey::kBbsk).look.document_columns};
  PageGrid lines_{GetBusinessLine(BusinessLineKey::kBbsk).look.line_columns};
};

bool ParseDate(const char* text, CalendarDate* date) {
  std::optional<text::Day> day = text::ParseIsoDate(text);
  if (day) *date = *day;
  return day.has_value();
}

int Main(int argc, char** argv) {
  std::string machine;
  int runs = 3;
  Timeline timeline;
  BenchDisplay display(&timeline);
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--machine") == 0) {
      machine = argv[i + 1];
    } else if (std::strcmp(argv[i], "--runs") == 0) {
      runs = std::max(1, std::atoi(argv[i + 1]));
    } else if (std::strcmp(argv[i], "--from") == 0) {
      if (!ParseDate(argv[i + 1], &display.start)) return 2;
    } else if (std::strcmp(argv[i], "--to") == 0) {
      if (!ParseDate(argv[i + 1], &display.end)) return 2;
    } else {
      std::fprintf(stderr, "ui-bench: unknown option %s\n", argv[i]);
      return 2;
    }
  }
  if (machine.empty()) {
    std::fprintf(stderr,
                 "usage: skjk-ui-stall-bench --machine HOST:PORT [--from D] "
                 "[--to D] [--runs N]\n");
    return 2;
  }

  InterfaceWindowModel window(GetBusinessLine(BusinessLineKey::kBbsk),
                              Env::Default(), &display, &timeline);
  display.Attach(&window);
  window.Connect(machine);
  if (display.failed()) return 1;

  double worst_stall = 0, best_total = 1e300, request_of_best = 0;
  int documents = 0;
  for (int run = 0; run < runs; ++run) {
    timeline.Start();
    const Clock::time_point press = Clock::now();
    window.Refresh();
    // Back in the message loop, with the grids showing the documents.
    timeline.Responsive();
    const double total = Ms(Clock::now() - press);
    if (display.failed()) return 1;
    documents = display.shown();
    const double stall = Ms(timeline.longest());
    std::printf(
        "ui: run %d: %d documents shown %.0f ms after the press "
        "(server answer %.0f ms), longest stall %.1f ms\n",
        run + 1, documents, total, Ms(timeline.request()), stall);
    worst_stall = std::max(worst_stall, stall);
    if (total < best_total) {
      best_total = total;
      request_of_best = Ms(timeline.request());
    }
  }
  std::printf(
      "ui: press to %d documents shown: %.0f ms (server answer %.0f "
      "ms), %s\n",
      documents, best_total, request_of_best,
      display.status[kCountPanel] ==
              text::Utf8ToGbk("记录数=") + std::to_string(documents)
          ? "count shown"
          : "count NOT shown");
  std::printf(
      "ui: longest stall without processing messages, the server's answer "
      "included: %.1f ms\n",
      worst_stall);
  std::printf("ratio: ui-stall %.2f\n", worst_stall / 100.0);
  return 0;
}

}  // namespace
}  // namespace skjk

int main(int argc, char** argv) { return skjk::Main(argc, argv); }
