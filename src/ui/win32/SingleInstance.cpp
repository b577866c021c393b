#include "ui/win32/SingleInstance.h"

#include <string>
#include <vector>

#include "ui/win32/MainWindow.h"

#include <windows.h>
#include <sddl.h>

namespace brek {
namespace {

// A running program that is still making its window gets this long.
constexpr int kFindForMs = 3000, kFindEveryMs = 50;

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

// The running program's window: of our class, shown, and of a process of this user (another
// user's may share the desktop, started with "run as").
HWND RunningWindow(const std::wstring& sid) {
  for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, Win32MainWindow::ClassName(), nullptr));) {
    if (!IsWindowVisible(w)) continue;
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    const std::wstring owner = process ? UserSidOf(process) : std::wstring();
    if (process) CloseHandle(process);
    if (owner.empty() || owner == sid) return w;
  }
  return nullptr;
}

}  // namespace

Win32SingleInstance::~Win32SingleInstance() {
  if (mutex_) CloseHandle(static_cast<HANDLE>(mutex_));
}

bool Win32SingleInstance::Claim() {
  const std::wstring sid = UserSidOf(GetCurrentProcess());
  const std::wstring name = L"Local\\BrekGSMDemo-" + (sid.empty() ? std::wstring(L"user") : sid);
  mutex_ = CreateMutexW(nullptr, FALSE, name.c_str());
  const DWORD error = GetLastError();
  // Denied: the running one is this user's too, started with more rights.
  const bool another = mutex_ ? error == ERROR_ALREADY_EXISTS : error == ERROR_ACCESS_DENIED;
  if (!another) return true;
  if (mutex_) CloseHandle(static_cast<HANDLE>(mutex_));  // the running one's to keep alive, not ours
  mutex_ = nullptr;
  // The user has just started this process, so it may give the foreground away; the running
  // one could not take it by itself.
  for (int waited = 0; waited <= kFindForMs; waited += kFindEveryMs) {
    if (HWND w = RunningWindow(sid)) {
      if (IsIconic(w)) ShowWindow(w, SW_RESTORE);
      SetForegroundWindow(w);
      // Raised as well: not every desktop restacks a window for its activation (Wine's without
      // a window manager does not).
      BringWindowToTop(w);
      return false;
    }
    Sleep(kFindEveryMs);
  }
  return false;
}

}  // namespace brek
