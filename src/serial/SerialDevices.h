#pragma once
// What port discovery needs of the system, in the shape of the Windows calls it is
// written against: the device-name list, the panel's device set with friendly names, and
// device arrival and removal notices. Linux (udev) and Windows (SetupAPI) implement it;
// tests use a fake. The exclusive-open probe is the driver's CommProbe.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace brek {

inline constexpr std::uint32_t ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr std::uint32_t WM_DEVICECHANGE = 0x0219;
inline constexpr std::uint32_t DBT_DEVICEARRIVAL = 0x8000;
inline constexpr std::uint32_t DBT_DEVICEREMOVECOMPLETE = 0x8004;
inline constexpr std::uint32_t DBT_DEVTYP_DEVICEINTERFACE = 5;
inline constexpr std::uint32_t DIGCF_PRESENT = 2, DIGCF_ALLCLASSES = 4, DIGCF_DEVICEINTERFACE = 16;
inline constexpr std::uint32_t SPDRP_FRIENDLYNAME = 12;
inline constexpr const char* kPanelInstanceId = "USB\\VID_FFFF&PID_2331\\TUVO";

// The device-change message: event code, and the broadcast header's device type.
struct DeviceChangeMessage {
  std::uint32_t event = 0;
  std::uint32_t deviceType = 0;
};

// Another program's hold on a port, as the system names it.
struct PortClaim {
  bool held = false;  // to be reported
  std::string device;  // the port as the system names it
  std::string advice;  // what would keep the other program away, when the system knows
};

class SerialDevices {
 public:
  virtual ~SerialDevices() = default;
  // QueryDosDeviceA(no name): every device name, each followed by a NUL, into buffer of
  // size characters. Returns the count (0 on failure) and sets lastError (122 when the
  // buffer is too small, 0 on success).
  virtual std::uint32_t QueryDosDevice(char* buffer, std::uint32_t size, std::uint32_t& lastError) = 0;
  // SetupDiGetClassDevsA with the flags; false when the set cannot be had. The set is the
  // entries' friendly names, read back by index.
  virtual bool GetClassDevs(const std::string& instanceId, std::uint32_t flags, std::vector<std::string>& set) = 0;
  // SetupDiGetDeviceRegistryPropertyA(SPDRP_FRIENDLYNAME) into a buffer of size bytes.
  virtual void GetFriendlyName(const std::vector<std::string>& set, std::size_t index, char* buffer,
                               std::size_t size) = 0;
  // RegisterDeviceNotificationA for device interfaces of all classes: each notice reaches
  // onChange on the user-interface thread.
  virtual bool RegisterDeviceNotification(std::function<void(const DeviceChangeMessage&)> onChange) = 0;
  // The system's text for an error code.
  virtual std::string SystemErrorText(std::uint32_t code) = 0;
  // A port to leave alone for now: new, and another program (a modem manager) may yet
  // probe it; a notice follows when its time is over. Never, where no such program runs.
  virtual bool AwaitsOtherProgram(std::int32_t number) {
    (void)number;
    return false;
  }
  // Tells one plugging of a port's device from the next, as of the last listing: a device
  // that left and came back between two listings gives another value. Always the same
  // where the system cannot tell.
  virtual std::uint64_t DevicePlugging(std::int32_t number) {
    (void)number;
    return 0;
  }
  // A port whose probe found another program holding it: what to report, where the system
  // can tell (never by opening the port: the probe, on the port's thread, did); while it is
  // held, a notice follows soon to look again.
  virtual PortClaim ClaimOn(std::int32_t number) {
    (void)number;
    return {};
  }
};

// The friendly name at index of a set, NUL-terminated and cut to the buffer's size, as
// SetupDiGetDeviceRegistryPropertyA fills it; the buffer is left alone past the set's end.
void CopyFriendlyName(const std::vector<std::string>& set, std::size_t index, char* buffer, std::size_t size);

}  // namespace brek
