#pragma once
// The main window on Win32: native push buttons over the background picture, the bottom
// panel, and the window-less markup labels painted by the shared engine.
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
  // WM_DEVICECHANGE goes here (wParam, lParam).
  std::function<void(std::uintptr_t, std::intptr_t)> OnDeviceChange;

  // The window procedure's work; public for the procedure only.
  std::intptr_t Handle(void* hwnd, unsigned msg, std::uintptr_t wParam, std::intptr_t lParam);

 private:
  void Paint(void* dc);
  void InvalidateControl(const Rect& r);

  MainWindowControls& controls_;
  Win32Toolkit& toolkit_;
  void* hwnd_ = nullptr;
  void* background_ = nullptr;
  void* font_ = nullptr;
  std::vector<std::pair<TButton*, void*>> buttons_;
  std::vector<Control*> bound_;
};

}  // namespace brek
