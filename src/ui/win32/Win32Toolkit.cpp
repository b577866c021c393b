#include "ui/win32/Win32Toolkit.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>
#include <vector>

#include "common/Cp1251.h"
#include "common/win32/PreciseTimer.h"

#include <windows.h>

namespace brek {
namespace {

constexpr UINT kPostedMessage = WM_APP + 1;
const wchar_t* const kMessageWindowClass = L"BrekGSMDemoToolkit";

LRESULT CALLBACK MessageWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* tk = reinterpret_cast<Win32Toolkit*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (tk && msg == WM_TIMER) {
    tk->OnTimerMessage(static_cast<std::uintptr_t>(wParam));
    return 0;
  }
  if (tk && msg == kPostedMessage) {
    tk->OnPostedMessage();
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

HWND Hwnd(void* h) { return static_cast<HWND>(h); }

double NowMs() {  // the precise clock (the performance counter)
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

std::wstring ToWide(const std::string& cp1251) {
  const std::u16string u = Cp1251ToUtf16(cp1251);
  return std::wstring(u.begin(), u.end());
}

class Win32Timer : public Timer {
 public:
  // Its interval and whether it runs are its entry's (off while the entry has no time due).
  Win32Timer(Win32Toolkit& tk, unsigned interval, std::function<void()> onTimer) : tk_(tk), id_(tk.nextTimerId_++) {
    tk_.timers_[id_] = {std::make_shared<std::function<void()>>(std::move(onTimer)), interval, -1};
  }
  ~Win32Timer() override {
    // Safe inside the timer's own tick: the tick holds its own reference to the handler.
    KillTimer(Hwnd(tk_.messageWindow_), id_);
    tk_.timers_.erase(id_);
  }
  void SetEnabled(bool enabled) override {
    if (enabled == Enabled()) return;
    if (enabled) {
      tk_.Arm(id_);
    } else {
      KillTimer(Hwnd(tk_.messageWindow_), id_);
      Entry().dueMs = -1;
    }
  }
  bool Enabled() const override { return Entry().dueMs >= 0; }
  void SetInterval(unsigned ms) override {
    Entry().interval = ms;
    if (Enabled()) tk_.Arm(id_);  // restarts the count
  }
  unsigned Interval() const override { return Entry().interval; }

 private:
  Win32Toolkit::TimerEntry& Entry() const { return tk_.timers_.at(id_); }
  Win32Toolkit& tk_;
  std::uintptr_t id_;
};

Win32Toolkit::Win32Toolkit() {
  WNDCLASSW wc{};
  wc.lpfnWndProc = MessageWindowProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = kMessageWindowClass;
  RegisterClassW(&wc);
  HWND h = CreateWindowExW(0, kMessageWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
  SetWindowLongPtrW(h, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  messageWindow_ = h;
  waitTimer_ = MakePreciseTimer();
  endEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

Win32Toolkit::~Win32Toolkit() {
  if (waitTimer_) CloseHandle(static_cast<HANDLE>(waitTimer_));
  if (endEvent_) CloseHandle(static_cast<HANDLE>(endEvent_));
  SetWindowLongPtrW(Hwnd(messageWindow_), GWLP_USERDATA, 0);
  DestroyWindow(Hwnd(messageWindow_));
}

std::unique_ptr<Timer> Win32Toolkit::CreateTimer(unsigned intervalMs, bool enabled, std::function<void()> onTimer) {
  auto t = std::make_unique<Win32Timer>(*this, intervalMs, std::move(onTimer));
  t->SetEnabled(enabled);
  return t;
}

void Win32Toolkit::Arm(std::uintptr_t id) {
  TimerEntry& t = timers_[id];
  t.dueMs = NowMs() + t.interval;
  SetTimer(Hwnd(messageWindow_), id, t.interval, nullptr);
}

void Win32Toolkit::Fire(std::uintptr_t id) {
  const auto it = timers_.find(id);
  if (it == timers_.end() || it->second.dueMs < 0) return;
  // The next tick counts from now on both clocks: neither fires it twice.
  Arm(id);
  const std::shared_ptr<std::function<void()>> handler = it->second.handler;
  Dispatch(*handler);
}

void Win32Toolkit::OnTimerMessage(std::uintptr_t id) {
  const auto it = timers_.find(id);
  if (it == timers_.end()) return;
  // A window tick that was under way when the timer was armed again is not its time yet.
  if (it->second.dueMs - NowMs() > it->second.interval / 2.0) return;
  Fire(id);
}

void Win32Toolkit::FireDueTimers() {
  const double now = NowMs();
  std::vector<std::pair<double, std::uintptr_t>> due;
  for (const auto& [id, t] : timers_)
    if (t.dueMs >= 0 && t.dueMs <= now) due.emplace_back(t.dueMs, id);
  std::sort(due.begin(), due.end());
  for (const auto& [at, id] : due) {
    const auto it = timers_.find(id);  // an earlier handler may have stopped or ended it
    if (it != timers_.end() && it->second.dueMs >= 0 && it->second.dueMs <= now) Fire(id);
  }
}

double Win32Toolkit::NextDueMs() const {
  double next = -1;
  for (const auto& [id, t] : timers_)
    if (t.dueMs >= 0 && (next < 0 || t.dueMs < next)) next = t.dueMs;
  return next;
}

bool Win32Toolkit::PumpOnce(unsigned waitMs, int* quitCode) {
  if (quitting_) {
    if (quitCode) *quitCode = quitCode_;
    return false;
  }
  FireDueTimers();
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      if (quitCode) *quitCode = static_cast<int>(msg.wParam);
      return false;
    }
    DispatchOne(&msg);
  }
  if (quitting_) return PumpOnce(0, quitCode);  // ended by what was dispatched
  FireDueTimers();
  const double next = NextDueMs(), now = NowMs();
  if (next >= 0 && next <= now) return true;
  // A wait in whole milliseconds, woken early by input and then rounded up again, made a
  // 10 ms timer fire after 11: the next timer's time is waited for to a tenth of a
  // microsecond instead.
  // The loop's end wakes the wait too: a close handled inside it (Wine delivers the close
  // box there) left the wait waiting on for its time.
  HANDLE handles[2] = {static_cast<HANDLE>(endEvent_), static_cast<HANDLE>(waitTimer_)};
  if (next >= 0 && (waitMs == INFINITE || next - now < waitMs) && SetPreciseTimer(handles[1], next - now)) {
    MsgWaitForMultipleObjectsEx(2, handles, waitMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    return true;
  }
  const double limit = next >= 0 ? std::min<double>(waitMs, std::ceil(next - now)) : waitMs;
  if (limit > 0) MsgWaitForMultipleObjectsEx(1, handles, static_cast<DWORD>(limit), QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  return true;
}

void Win32Toolkit::PostToUiThread(std::function<void()> call) {
  posted_.Push(std::move(call));
  PostMessageW(Hwnd(messageWindow_), kPostedMessage, 0, 0);
}

void Win32Toolkit::OnPostedMessage() {
  if (std::function<void()> call = posted_.Pop()) Dispatch(call);
}

void Win32Toolkit::Sleep(unsigned ms) { ::Sleep(ms); }

void Win32Toolkit::DispatchOne(void* m) {
  MSG* msg = static_cast<MSG*>(m);
  if (window_ && IsWindow(Hwnd(window_)) && IsDialogMessageW(Hwnd(window_), msg)) return;
  TranslateMessage(msg);
  DispatchMessageW(msg);
}

void Win32Toolkit::ProcessMessagesFor(unsigned ms) {
  // On the precise clock: the tick count moves in 15.6 ms steps on Windows.
  const double end = NowMs() + ms;
  for (;;) {
    const double now = NowMs();
    int code = 0;
    if (!PumpOnce(now >= end ? 0 : static_cast<unsigned>(std::ceil(end - now)), &code)) {
      PostQuitMessage(code);  // for the outer loop
      return;
    }
    if (NowMs() >= end) return;
  }
}

void Win32Toolkit::ShowMessageBox(const std::string& text, const std::string& caption, unsigned flags) {
  HWND owner = window_ && IsWindowVisible(Hwnd(window_)) ? Hwnd(window_) : nullptr;
  MessageBoxW(owner, ToWide(text).c_str(), ToWide(caption).c_str(), flags);
}

void Win32Toolkit::ShowMainWindow() {
  HWND w = Hwnd(window_);
  if (!w) return;
  RECT area{}, frame{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  GetWindowRect(w, &frame);
  const int width = frame.right - frame.left, height = frame.bottom - frame.top;
  SetWindowPos(w, nullptr, area.left + (area.right - area.left - width) / 2, area.top + (area.bottom - area.top - height) / 2,
               0, 0, SWP_NOSIZE | SWP_NOZORDER);
  ShowWindow(w, SW_SHOW);
  UpdateWindow(w);
}

void Win32Toolkit::CloseMainWindow() {
  if (window_ && IsWindow(Hwnd(window_))) DestroyWindow(Hwnd(window_));
  EndLoop(0);  // a window never shown does not end the loop by itself
}

void Win32Toolkit::EndLoop(int code) {
  if (quitting_) return;
  quitting_ = true;
  quitCode_ = code;
  PostQuitMessage(code);  // for loops that are not ours (a message box)
  SetEvent(static_cast<HANDLE>(endEvent_));  // wakes a wait under way
}

void Win32Toolkit::SetApplicationExceptionHandler(std::function<void(const std::exception&)> handler) {
  onException_ = std::move(handler);
}

void Win32Toolkit::Dispatch(const std::function<void()>& call) const { DispatchGuarded(call, onException_); }

void Win32Toolkit::HandleException(const std::exception& e) const { HandleApplicationException(e, onException_); }

int Win32Toolkit::Run() {
  int code = 0;
  while (PumpOnce(INFINITE, &code)) {
  }
  return code;
}

}  // namespace brek
