#pragma once
// The device layer on Windows: the DOS device names, the panel's device set from SetupAPI,
// and WM_DEVICECHANGE for device interfaces of every class, sent to the main window.
#include <cstdint>

#include "serial/SerialDevices.h"

namespace brek {

class Win32SerialDevices : public SerialDevices {
 public:
  // window: the HWND the notices are registered for.
  explicit Win32SerialDevices(void* window) : window_(window) {}

  std::uint32_t QueryDosDevice(char* buffer, std::uint32_t size, std::uint32_t& lastError) override;
  bool GetClassDevs(const std::string& instanceId, std::uint32_t flags, std::vector<std::string>& set) override;
  void GetFriendlyName(const std::vector<std::string>& set, std::size_t index, char* buffer, std::size_t size) override;
  bool RegisterDeviceNotification(std::function<void(const DeviceChangeMessage&)> onChange) override;
  std::string SystemErrorText(std::uint32_t code) override;

  // The panel's arrivals counted: a panel that left and came back is another plugging.
  std::uint64_t DevicePlugging(std::int32_t) override { return panelArrivals_; }

  // The window procedure hands WM_DEVICECHANGE here (wParam, lParam).
  void OnDeviceChangeMessage(std::uintptr_t wParam, std::intptr_t lParam);

 private:
  void* window_;
  std::function<void(const DeviceChangeMessage&)> onChange_;
  std::uint64_t panelArrivals_ = 0;
};

}  // namespace brek
