#include "ui/win32/SingleInstance.h"

#include <string>
#include <vector>

#include "ui/win32/MainWindow.h"

#include <windows.h>
#include <sddl.h>

namespace brek {
namespace {

// A running program that does not answer within this is closing or hung: it is not waited for.
constexpr DWORD kAnswerWithinMs = 2000, kAskEveryMs = 50;

std::wstring UserSidOf(HANDLE process) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return {};
  std::wstring sid;
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<BYTE> user(size);
  LPWSTR text = nullptr;
  if (size && GetTokenInformation(token, TokenUser, user.data(), size, &size) &&
      ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &text)) {
    sid = text;
    LocalFree(text);
  }
  CloseHandle(token);
  return sid;
}

bool OfUser(HWND w, const std::wstring& sid) {
  // Another user's may share the desktop, started with "run as".
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  const std::wstring owner = process ? UserSidOf(process) : std::wstring();
  if (process) CloseHandle(process);
  return owner.empty() || owner == sid;
}

// A window of our class and user whose thread answers within the time left; a hung one is
// given up on at once (SMTO_ABORTIFHUNG).
HWND AnsweringWindow(const std::wstring& sid, DWORD withinMs) {
  const DWORD started = GetTickCount();
  for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, Win32MainWindow::ClassName(), nullptr));) {
    if (!OfUser(w, sid)) continue;
    const DWORD spent = GetTickCount() - started;
    if (spent >= withinMs) break;
    DWORD_PTR answer = 0;
    if (SendMessageTimeoutW(w, Win32MainWindow::ActivationMessage(), 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK,
                            withinMs - spent, &answer) &&
        answer == static_cast<DWORD_PTR>(Win32MainWindow::kActivationAnswer))
      return w;
  }
  return nullptr;
}

}  // namespace

Win32SingleInstance::~Win32SingleInstance() { Release(); }

void Win32SingleInstance::Release() {
  if (mutex_) CloseHandle(static_cast<HANDLE>(mutex_));
  mutex_ = nullptr;
}

bool Win32SingleInstance::Claim() {
  const std::wstring sid = UserSidOf(GetCurrentProcess());
  const std::wstring name = L"Local\\BrekGSMDemo-" + (sid.empty() ? std::wstring(L"user") : sid);
  mutex_ = CreateMutexW(nullptr, FALSE, name.c_str());
  const DWORD error = GetLastError();
  // Denied: the running one is this user's too, started with more rights.
  const bool another = mutex_ ? error == ERROR_ALREADY_EXISTS : error == ERROR_ACCESS_DENIED;
  if (!another) return true;
  const DWORD started = GetTickCount();
  for (DWORD spent = 0; spent < kAnswerWithinMs; spent = GetTickCount() - started) {
    if (HWND w = AnsweringWindow(sid, kAnswerWithinMs - spent)) {
      // Only calls that do not wait for the window's thread. One still starting shows itself
      // in front. The user has just started this process, so it may give the foreground away.
      if (IsWindowVisible(w)) {
        ShowWindowAsync(w, IsIconic(w) ? SW_RESTORE : SW_SHOW);
        SetForegroundWindow(w);
        // Raised as well: not every desktop restacks a window for its activation (Wine's
        // without a window manager does not).
        SetWindowPos(w, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_ASYNCWINDOWPOS);
      }
      Release();  // the running one's to keep alive, not ours
      return false;
    }
    Sleep(kAskEveryMs);
  }
  return true;  // the handle kept holds the name for the starts after this one
}

}  // namespace brek
