#pragma once
// The toolkit seam on Win32: window timers and posted calls go through a message-only
// window; every handler runs under the application's exception hook.
#include <cstdint>
#include <map>
#include <memory>

#include "ui/Toolkit.h"

namespace brek {

class Win32Toolkit : public Toolkit {
 public:
  Win32Toolkit();
  ~Win32Toolkit() override;

  void SetMainWindow(void* hwnd) { window_ = hwnd; }

  std::unique_ptr<Timer> CreateTimer(unsigned intervalMs, bool enabled, std::function<void()> onTimer) override;
  void PostToUiThread(std::function<void()> call) override;
  void Sleep(unsigned ms) override;
  void ProcessMessagesFor(unsigned ms) override;
  void ShowMessageBox(const std::string& text, const std::string& caption, unsigned flags) override;
  void ShowMainWindow() override;
  void CloseMainWindow() override;
  void SetApplicationExceptionHandler(std::function<void(const std::exception&)> handler) override;

  void Dispatch(const std::function<void()>& call) const;
  void HandleException(const std::exception& e) const;
  // The message loop, until the main window is gone; the program's exit code.
  int Run();
  // Ends the loop for good (the main window's WM_DESTROY): also when the quit message was
  // posted inside a wait that then goes on (Wine handles the close box's message inside
  // MsgWaitForMultipleObjectsEx and waits on for the next timer).
  void EndLoop(int code);
  // One message through the dialog keys (Tab) of the main window, then its window procedure.
  void DispatchOne(void* msg);

  // Used by the message window's procedure.
  void OnTimerMessage(std::uintptr_t id);
  void OnPostedMessage();

 private:
  friend class Win32Timer;
  // A window timer fires on the system's tick after its time, under Wine a millisecond or
  // two late as well. The toolkit's own loops wait for each timer's time on the precise
  // clock and fire it then; the window timer stays to drive it in loops that are not ours
  // (a message box, a window being moved).
  struct TimerEntry {
    std::shared_ptr<std::function<void()>> handler;
    unsigned interval = 0;
    double dueMs = -1;  // on the precise clock; below 0 while the timer is off
  };
  void Arm(std::uintptr_t id);
  void Fire(std::uintptr_t id);
  void FireDueTimers();
  double NextDueMs() const;  // below 0 when no timer runs
  // Fires what is due, dispatches what is queued, then waits for input or the next timer
  // at most that long; false when the quit message came (its code in quitCode).
  bool PumpOnce(unsigned waitMs, int* quitCode);
  void* messageWindow_ = nullptr;
  void* waitTimer_ = nullptr;  // the wait for the next timer's time, finer than a millisecond
  void* endEvent_ = nullptr;   // set once the loop is ended
  void* window_ = nullptr;
  std::function<void(const std::exception&)> onException_;
  std::map<std::uintptr_t, TimerEntry> timers_;
  std::uintptr_t nextTimerId_ = 1;
  PostedCalls posted_;
  bool quitting_ = false;
  int quitCode_ = 0;
};

std::wstring ToWide(const std::string& cp1251);

}  // namespace brek
