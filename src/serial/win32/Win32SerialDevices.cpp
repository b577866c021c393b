#include "serial/win32/Win32SerialDevices.h"

#include <cstddef>
#include <cstring>

#include "common/Cp1251.h"

#include <windows.h>
// Included after our headers: these macros would rename our methods.
#include <dbt.h>
#include <setupapi.h>
#undef QueryDosDevice
#undef RegisterDeviceNotification

namespace brek {
namespace {
// The notice's interface name names the panel's USB identity (the name may come as ANSI or
// as UTF-16: its NULs are skipped).
bool IsPanelInterface(std::intptr_t lParam) {
  const auto* notice = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_A*>(lParam);
  const std::size_t from = offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name);
  if (notice->dbcc_size <= from) return false;
  const char* bytes = reinterpret_cast<const char*>(notice);
  std::string name;
  for (std::size_t i = from; i < notice->dbcc_size && i < from + 1024; ++i)
    if (bytes[i]) name += static_cast<char>(bytes[i] >= 'a' && bytes[i] <= 'z' ? bytes[i] - 32 : bytes[i]);
  return name.find("VID_FFFF&PID_2331") != std::string::npos;
}
}  // namespace

std::uint32_t Win32SerialDevices::QueryDosDevice(char* buffer, std::uint32_t size, std::uint32_t& lastError) {
  SetLastError(0);
  const DWORD n = QueryDosDeviceA(nullptr, buffer, size);
  lastError = GetLastError();
  return n;
}

bool Win32SerialDevices::GetClassDevs(const std::string& instanceId, std::uint32_t flags, std::vector<std::string>& set) {
  set.clear();
  HDEVINFO devices = SetupDiGetClassDevsA(nullptr, instanceId.c_str(), nullptr, flags);
  if (devices == INVALID_HANDLE_VALUE) return false;
  for (DWORD index = 0;; ++index) {
    SP_DEVINFO_DATA entry{};
    entry.cbSize = sizeof entry;
    if (!SetupDiEnumDeviceInfo(devices, index, &entry)) break;
    char name[257] = {0};
    SetupDiGetDeviceRegistryPropertyA(devices, &entry, SPDRP_FRIENDLYNAME, nullptr, reinterpret_cast<BYTE*>(name),
                                      sizeof name, nullptr);
    // A name that fills the buffer has no terminating NUL.
    set.emplace_back(name, strnlen(name, sizeof name));
  }
  SetupDiDestroyDeviceInfoList(devices);
  return true;
}

void Win32SerialDevices::GetFriendlyName(const std::vector<std::string>& set, std::size_t index, char* buffer,
                                         std::size_t size) {
  CopyFriendlyName(set, index, buffer, size);
}

bool Win32SerialDevices::RegisterDeviceNotification(std::function<void(const DeviceChangeMessage&)> onChange) {
  onChange_ = std::move(onChange);
  DEV_BROADCAST_DEVICEINTERFACE_A filter{};
  filter.dbcc_size = sizeof filter;
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  return RegisterDeviceNotificationA(static_cast<HWND>(window_), &filter,
                                     DEVICE_NOTIFY_WINDOW_HANDLE | DEVICE_NOTIFY_ALL_INTERFACE_CLASSES) != nullptr;
}

void Win32SerialDevices::OnDeviceChangeMessage(std::uintptr_t wParam, std::intptr_t lParam) {
  if (!onChange_) return;
  DeviceChangeMessage m;
  m.event = static_cast<std::uint32_t>(wParam);
  // Another program refused a removal the port was let go for: the device stays, look again.
  if (wParam == DBT_DEVICEQUERYREMOVEFAILED) m = {DBT_DEVICEARRIVAL, DBT_DEVTYP_DEVICEINTERFACE};
  // Only the arrival and removal events carry a broadcast header.
  if ((wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE) && lParam != 0)
    m.deviceType = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam)->dbch_devicetype;
  if (wParam == DBT_DEVICEARRIVAL && m.deviceType == DBT_DEVTYP_DEVICEINTERFACE && IsPanelInterface(lParam))
    ++panelArrivals_;
  onChange_(m);
}

std::string Win32SerialDevices::SystemErrorText(std::uint32_t code) {
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::u16string out;
  if (n && text) out.assign(reinterpret_cast<const char16_t*>(text), n);
  if (text) LocalFree(text);
  while (!out.empty() && (out.back() == u'\r' || out.back() == u'\n' || out.back() == u' ')) out.pop_back();
  if (out.empty()) return "System error " + std::to_string(code);
  return Utf16ToCp1251(out);
}

}  // namespace brek
