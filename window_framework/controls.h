// Child controls as objects. A control object creates its child window,
// keeps its handle and identifier, and turns what its parent hears from it
// (WM_COMMAND, WM_NOTIFY, WM_DRAWITEM) into calls of the callback it was
// created with. The parent keeps its controls in a ControlSet, which hands
// each of those messages to the control it comes from.
//
// A control's window is a child of its parent and goes with it: the object
// never destroys it. The object must not move in memory while its window
// exists (the ControlSet keeps its address).
#ifndef SKJK_WINDOW_FRAMEWORK_CONTROLS_H_
#define SKJK_WINDOW_FRAMEWORK_CONTROLS_H_

#include <windows.h>
// After windows.h:
#include <commctrl.h>

#include <functional>
#include <string_view>
#include <vector>

namespace skjk::win32 {

// Where a control is created and how it looks: child `id` of `parent` with
// `text` and `font`, `style` besides WS_CHILD | WS_VISIBLE, in the rectangle
// (parent client coordinates; a control placed by a later layout may start
// empty).
struct ControlParams {
  HWND parent = nullptr;
  int id = 0;
  std::wstring_view text = L"";
  DWORD style = 0;
  int x = 0, y = 0, width = 0, height = 0;
  HFONT font = nullptr;
  DWORD ex_style = 0;
};

// A visible child control of `window_class` as `params` says; null when it
// cannot be made.
HWND CreateChildControl(const wchar_t* window_class,
                        const ControlParams& params);

class Control {
 public:
  Control() = default;
  virtual ~Control() = default;
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  // Null until created, and when creation failed.
  HWND hwnd() const { return hwnd_; }
  int id() const { return id_; }
  // Places the control without repainting it (the parent redraws once its
  // layout is done).
  virtual void Move(int x, int y, int width, int height);

  // WM_COMMAND from the control with notification `code`.
  virtual void OnCommand(int /*code*/) {}
  // WM_NOTIFY from the control: true when handled, *result then holds the
  // answer.
  virtual bool OnNotify(NMHDR* /*header*/, LRESULT* /*result*/) {
    return false;
  }
  // WM_DRAWITEM for the control: true when it drew itself.
  virtual bool OnDrawItem(const DRAWITEMSTRUCT& /*item*/) { return false; }

 protected:
  // Creates the window; false when it cannot be made.
  bool CreateAs(const wchar_t* window_class, const ControlParams& params);

  HWND hwnd_ = nullptr;
  int id_ = 0;
};

// A button (class BUTTON) that runs `on_click` when clicked.
class PushButton : public Control {
 public:
  bool Create(const ControlParams& params, std::function<void()> on_click);
  void Enable(bool enabled);

  void OnCommand(int code) override;

 private:
  std::function<void()> on_click_;
};

// A radio button that runs `on_checked` when a click leaves it checked, also
// when it was checked before. Its group is up to the style (WS_GROUP) and
// the order of creation, as for any radio button.
class RadioButton : public Control {
 public:
  bool Create(const ControlParams& params, std::function<void()> on_checked);
  // Checks or unchecks the button; runs no callback.
  void SetChecked(bool checked);
  bool checked() const;

  void OnCommand(int code) override;

 private:
  std::function<void()> on_checked_;
};

// A combo box whose list the user picks from (CBS_DROPDOWNLIST in the
// style). Runs `on_select` with the new selection's index when the user
// changes it.
class DropDownList : public Control {
 public:
  bool Create(const ControlParams& params, std::function<void(int)> on_select);
  void AddItem(std::wstring_view text);
  // Selects item `index` (-1: none); runs no callback.
  void Select(int index);
  // The selected item's index, -1 when none.
  int selection() const;

  void OnCommand(int code) override;

 private:
  std::function<void(int)> on_select_;
};

// A date picker that runs `on_close_up` when its calendar closes.
class DatePicker : public Control {
 public:
  bool Create(const ControlParams& params, std::function<void()> on_close_up);
  SYSTEMTIME date() const;
  // Runs no callback.
  void SetDate(const SYSTEMTIME& date);

  bool OnNotify(NMHDR* header, LRESULT* result) override;

 private:
  std::function<void()> on_close_up_;
};

// The controls of one parent window, found by the identifier or window a
// message names.
class ControlSet {
 public:
  // `control` must be created and outlive the set.
  void Add(Control* control);

  // WM_COMMAND: hands the notification to the control whose identifier is
  // LOWORD(wparam); false when no control of the set has it.
  bool Command(WPARAM wparam);
  // WM_NOTIFY: hands it to the control `header` comes from; false when none
  // of the set did, or it did not handle it.
  bool Notify(NMHDR* header, LRESULT* result);
  // WM_DRAWITEM: false when no control of the set drew the item.
  bool DrawItem(const DRAWITEMSTRUCT& item);

 private:
  Control* ById(int id) const;
  Control* ByWindow(HWND hwnd) const;

  std::vector<Control*> controls_;
};

}  // namespace skjk::win32

#endif  // SKJK_WINDOW_FRAMEWORK_CONTROLS_H_
