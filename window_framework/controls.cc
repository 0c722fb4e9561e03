#include "window_framework/controls.h"

#include <algorithm>
#include <string>
#include <utility>

#include "window_framework/base_window.h"

namespace skjk::win32 {

HWND CreateChildControl(const wchar_t* window_class,
                        const ControlParams& params) {
  HWND control = CreateWindowExW(
      params.ex_style, window_class, std::wstring(params.text).c_str(),
      WS_CHILD | WS_VISIBLE | params.style, params.x, params.y, params.width,
      params.height, params.parent,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(params.id)), ModuleHandle(),
      nullptr);
  if (control != nullptr) {
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(params.font),
                 FALSE);
  }
  return control;
}

void Control::Move(int x, int y, int width, int height) {
  MoveWindow(hwnd_, x, y, width, height, FALSE);
}

bool Control::CreateAs(const wchar_t* window_class,
                       const ControlParams& params) {
  id_ = params.id;
  hwnd_ = CreateChildControl(window_class, params);
  return hwnd_ != nullptr;
}

bool PushButton::Create(const ControlParams& params,
                        std::function<void()> on_click) {
  on_click_ = std::move(on_click);
  return CreateAs(WC_BUTTONW, params);
}

void PushButton::Enable(bool enabled) {
  EnableWindow(hwnd_, enabled ? TRUE : FALSE);
}

void PushButton::OnCommand(int code) {
  if (code == BN_CLICKED && on_click_) on_click_();
}

bool RadioButton::Create(const ControlParams& params,
                         std::function<void()> on_checked) {
  on_checked_ = std::move(on_checked);
  return CreateAs(WC_BUTTONW, params);
}

void RadioButton::SetChecked(bool checked) {
  SendMessageW(hwnd_, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool RadioButton::checked() const {
  return SendMessageW(hwnd_, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void RadioButton::OnCommand(int code) {
  if (code == BN_CLICKED && checked() && on_checked_) on_checked_();
}

bool DropDownList::Create(const ControlParams& params,
                          std::function<void(int)> on_select) {
  on_select_ = std::move(on_select);
  return CreateAs(WC_COMBOBOXW, params);
}

void DropDownList::AddItem(std::wstring_view text) {
  SendMessageW(hwnd_, CB_ADDSTRING, 0,
               reinterpret_cast<LPARAM>(std::wstring(text).c_str()));
}

void DropDownList::Select(int index) {
  // CB_SETCURSEL sends no CBN_SELCHANGE.
  SendMessageW(hwnd_, CB_SETCURSEL, index, 0);
}

int DropDownList::selection() const {
  return static_cast<int>(SendMessageW(hwnd_, CB_GETCURSEL, 0, 0));
}

void DropDownList::OnCommand(int code) {
  if (code == CBN_SELCHANGE && on_select_) on_select_(selection());
}

bool DatePicker::Create(const ControlParams& params,
                        std::function<void()> on_close_up) {
  on_close_up_ = std::move(on_close_up);
  return CreateAs(DATETIMEPICK_CLASSW, params);
}

SYSTEMTIME DatePicker::date() const {
  SYSTEMTIME st{};
  SendMessageW(hwnd_, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&st));
  return st;
}

void DatePicker::SetDate(const SYSTEMTIME& date) {
  SendMessageW(hwnd_, DTM_SETSYSTEMTIME, GDT_VALID,
               reinterpret_cast<LPARAM>(&date));
}

bool DatePicker::OnNotify(NMHDR* header, LRESULT* result) {
  if (header->code != DTN_CLOSEUP) return false;
  if (on_close_up_) on_close_up_();
  *result = 0;
  return true;
}

void ControlSet::Add(Control* control) { controls_.push_back(control); }

Control* ControlSet::ById(int id) const {
  auto it = std::find_if(controls_.begin(), controls_.end(),
                         [id](const Control* c) { return c->id() == id; });
  return it == controls_.end() ? nullptr : *it;
}

Control* ControlSet::ByWindow(HWND hwnd) const {
  if (hwnd == nullptr) return nullptr;
  auto it =
      std::find_if(controls_.begin(), controls_.end(),
                   [hwnd](const Control* c) { return c->hwnd() == hwnd; });
  return it == controls_.end() ? nullptr : *it;
}

bool ControlSet::Command(WPARAM wparam) {
  Control* control = ById(LOWORD(wparam));
  if (control == nullptr) return false;
  control->OnCommand(HIWORD(wparam));
  return true;
}

bool ControlSet::Notify(NMHDR* header, LRESULT* result) {
  Control* control = ByWindow(header->hwndFrom);
  return control != nullptr && control->OnNotify(header, result);
}

bool ControlSet::DrawItem(const DRAWITEMSTRUCT& item) {
  Control* control = ByWindow(item.hwndItem);
  return control != nullptr && control->OnDrawItem(item);
}

}  // namespace skjk::win32
