#pragma once
// The main window on Win32: native push buttons over the background picture, the bottom
// panel, the window-less markup labels painted by the shared engine, and the script's
// progress as a common-control bar and on the taskbar button.
#include <cstdint>
#include <functional>
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
  void Paint(void* dc);
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
  void* taskbar_ = nullptr;  // ITaskbarList3, once the button is there
  unsigned taskbarButtonCreated_ = 0;
  long taskbarResult_ = 1;
  int taskbarState_ = 0;
  bool comInitialized_ = false;
  std::vector<std::pair<TButton*, void*>> buttons_;
  std::vector<Control*> bound_;
};

}  // namespace brek
