#pragma once
// The main window on Win32: native push buttons over the background picture, the bottom
// panel, the markup labels painted by the shared engine, and the script's progress as a
// common-control bar and on the taskbar button. Each label is an owner-drawn static control
// whose window text is its plain text, so a screen reader reads it through the system's own
// accessibility proxy; its pixels are the window's picture under it.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ui/MainWindowLayout.h"
#include "ui/win32/Win32Toolkit.h"

namespace brek {

class Win32MainWindow {
 public:
  // Created hidden, as the start-up expects.
  Win32MainWindow(MainWindowControls& controls, Win32Toolkit& toolkit);
  ~Win32MainWindow();

  void* Handle() const { return hwnd_; }
  void* Button(const TButton& b) const;
  void* ProgressBar() const { return progress_; }
  void* Label(const THTMLabel& l) const;
  // What the taskbar button's last progress update returned (an HRESULT); S_FALSE (1) until
  // the taskbar has said the button is there.
  long TaskbarResult() const { return taskbarResult_; }
  // The state the taskbar button was last given (a TBPFLAG).
  int TaskbarState() const { return taskbarState_; }
  static const wchar_t* ClassName();
  // A second start asks with this message; the window's thread answers kActivationAnswer.
  static unsigned ActivationMessage();
  static constexpr long kActivationAnswer = 0x42524B;
  // WM_DEVICECHANGE goes here (wParam, lParam).
  std::function<void(std::uintptr_t, std::intptr_t)> OnDeviceChange;

  // The window procedure's work; public for the procedure only.
  std::intptr_t Handle(void* hwnd, unsigned msg, std::uintptr_t wParam, std::intptr_t lParam);

 private:
  struct LabelWindow {
    THTMLabel* label;
    void* hwnd;
    Rect bounds;  // in the window
    std::wstring text;
  };
  void BindLabel(THTMLabel& l, int dy);
  void ShowLabelText(LabelWindow& w);
  // The window's picture composed once a change, then copied out: the part at (left, top).
  void Compose(void* dc);
  void Paint(void* dc, int left, int top, int width, int height);
  void InvalidateControl(const Rect& r);
  void ShowProgress();
  void ShowTaskbarProgress();
  void OnTaskbarButtonCreated();

  MainWindowControls& controls_;
  Win32Toolkit& toolkit_;
  void* hwnd_ = nullptr;
  void* background_ = nullptr;
  void* font_ = nullptr;
  void* progress_ = nullptr;
  void* canvas_ = nullptr;
  bool composed_ = false;
  void* taskbar_ = nullptr;  // ITaskbarList3, once the button is there
  unsigned taskbarButtonCreated_ = 0;
  long taskbarResult_ = 1;
  int taskbarState_ = 0;
  bool comInitialized_ = false;
  std::vector<std::pair<TButton*, void*>> buttons_;
  std::vector<LabelWindow> labels_;
  std::vector<Control*> bound_;
};

}  // namespace brek
