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
  // One message through the dialog keys (Tab) of the main window, then its window procedure.
  void DispatchOne(void* msg);

  // Used by the message window's procedure.
  void OnTimerMessage(std::uintptr_t id);
  void OnPostedMessage();

 private:
  friend class Win32Timer;
  void* messageWindow_ = nullptr;
  void* window_ = nullptr;
  std::function<void(const std::exception&)> onException_;
  std::map<std::uintptr_t, std::shared_ptr<std::function<void()>>> timers_;
  std::uintptr_t nextTimerId_ = 1;
  PostedCalls posted_;
  bool quitting_ = false;
};

std::wstring ToWide(const std::string& cp1251);

}  // namespace brek
