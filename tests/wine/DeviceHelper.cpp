// Plays the system's part for the Windows program under Wine: declares or removes the panel
// in the device registry, maps COM ports, and sends device notices to the program's window
// from another process, as Windows does.
//   device_helper port COMn /dev/pts/N      map a port (read when wineserver starts)
//   device_helper declare COMn | undeclare  the panel's device present / gone (no notice)
//   device_helper plug COMn | unplug        the same, each followed by its notice
//   device_helper notice arrival|removal|nodes-changed|other-type
#include <windows.h>

#include <dbt.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

const char* const kEnum = "System\\CurrentControlSet\\Enum\\USB\\VID_FFFF&PID_2331\\TUVO";
const char* const kInterface =
    "System\\CurrentControlSet\\Control\\DeviceClasses\\{86e0d1e0-8089-11d0-9ce4-08003e301f73}\\"
    "##?#USB#VID_FFFF&PID_2331#TUVO#{86e0d1e0-8089-11d0-9ce4-08003e301f73}";

bool SetString(const char* key, const char* name, const std::string& value) {
  HKEY k;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr) != ERROR_SUCCESS)
    return false;
  const LONG r = RegSetValueExA(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                static_cast<DWORD>(value.size() + 1));
  RegCloseKey(k);
  return r == ERROR_SUCCESS;
}

bool SetDword(const char* key, const char* name, DWORD value) {
  HKEY k;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr) != ERROR_SUCCESS)
    return false;
  const LONG r = RegSetValueExA(k, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  RegCloseKey(k);
  return r == ERROR_SUCCESS;
}

bool Declare(const std::string& port) {
  const std::string control = std::string(kInterface) + "\\#\\Control";
  return SetString(kEnum, "FriendlyName", "Brek GSM Virtual COM Port (" + port + ")") &&
         SetString(kEnum, "ClassGUID", "{4d36e978-e325-11ce-bfc1-08002be10318}") &&
         SetString(kInterface, "DeviceInstance", "USB\\VID_FFFF&PID_2331\\TUVO") &&
         SetDword(control.c_str(), "Linked", 1);
}

bool Undeclare() {
  const LONG a = RegDeleteTreeA(HKEY_LOCAL_MACHINE, kEnum);
  const LONG b = RegDeleteTreeA(HKEY_LOCAL_MACHINE, kInterface);
  return (a == ERROR_SUCCESS || a == ERROR_FILE_NOT_FOUND) && (b == ERROR_SUCCESS || b == ERROR_FILE_NOT_FOUND);
}

// The notice as Windows sends it: the event, and for arrivals and removals a 32-byte
// device-interface header (or one of another device type).
bool Notice(const std::string& what) {
  HWND window = FindWindowW(L"TBrekGSMDemoMainForm", nullptr);
  if (!window) {
    std::fprintf(stderr, "device_helper: the program's window is not there\n");
    return false;
  }
  DEV_BROADCAST_DEVICEINTERFACE_A header{};
  header.dbcc_size = 32;
  header.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  WPARAM event = DBT_DEVICEARRIVAL;
  LPARAM data = reinterpret_cast<LPARAM>(&header);
  if (what == "removal") {
    event = DBT_DEVICEREMOVECOMPLETE;
  } else if (what == "nodes-changed") {
    event = DBT_DEVNODES_CHANGED;
    data = 0;
  } else if (what == "other-type") {
    header.dbcc_devicetype = DBT_DEVTYP_VOLUME;
  } else if (what != "arrival") {
    return false;
  }
  static_assert(sizeof header == 32, "the header Windows sends is 32 bytes");
  DWORD_PTR result = 0;
  return SendMessageTimeoutW(window, WM_DEVICECHANGE, event, data, SMTO_ABORTIFHUNG, 10000, &result) != 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string verb = argc > 1 ? argv[1] : "";
  const std::string arg = argc > 2 ? argv[2] : "";
  bool ok = false;
  if (verb == "port" && argc > 3)
    ok = SetString("Software\\Wine\\Ports", arg.c_str(), argv[3]);
  else if (verb == "declare")
    ok = Declare(arg);
  else if (verb == "undeclare")
    ok = Undeclare();
  else if (verb == "plug")
    ok = Declare(arg) && Notice("arrival");
  else if (verb == "unplug")
    ok = Undeclare() && Notice("removal");
  else if (verb == "notice")
    ok = Notice(arg);
  if (!ok) std::fprintf(stderr, "device_helper: %s %s failed\n", verb.c_str(), arg.c_str());
  return ok ? 0 : 1;
}
