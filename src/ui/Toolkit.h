#pragma once
// What the controller needs of a window toolkit: the event loop, message boxes and the main
// window. The Qt and Win32 front ends implement it for real; tests use a virtual-time
// implementation whose clock moves only when told.
#include <string>

#include "common/EventLoop.h"

namespace brek {

inline constexpr unsigned MB_ICONERROR = 16;

class Toolkit : public EventLoop {
 public:
  // A modal message box; texts are Windows-1251.
  virtual void ShowMessageBox(const std::string& text, const std::string& caption, unsigned flags) = 0;
  virtual void ShowMainWindow() = 0;
  virtual void CloseMainWindow() = 0;
};

}  // namespace brek
