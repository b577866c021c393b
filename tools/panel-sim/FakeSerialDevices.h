#pragma once
// A device layer without a system behind it: the test says which COM ports exist, which
// of them belong to the panel's USB device and when devices come and go.
#include <functional>
#include <string>
#include <vector>

#include "serial/SerialDevices.h"
#include "common/EventLoop.h"

namespace brek::sim {

class FakeSerialDevices : public SerialDevices {
 public:
  struct Port {
    std::string dosName;       // "COM7"
    std::string friendlyName;  // of the panel's device set; empty for other ports
    bool free = true;          // what a probe finds when nobody in this process holds it
    std::uint64_t plugging = 0;  // one per AddPort
  };

  explicit FakeSerialDevices(EventLoop& ui) : ui_(ui) {}

  void AddPort(const Port& port, bool notify = true);
  void RemovePort(const std::string& dosName, bool notify = true);
  Port* Find(const std::string& dosName);
  // The port's device made anew under the same name, between two listings and without a
  // notice (what a panel on a pty does not do on its own when it restarts).
  void Replug(const std::string& dosName) {
    if (Port* p = Find(dosName)) p->plugging = ++pluggings_;
  }
  // A notice of some other device coming or going.
  void NotifyArrival() { Notify(DBT_DEVICEARRIVAL); }
  void NotifyRemoval() { Notify(DBT_DEVICEREMOVECOMPLETE); }
  void Notify(std::uint32_t event, std::uint32_t deviceType = DBT_DEVTYP_DEVICEINTERFACE);

  // Other names in the device-name list, and a failure to inject.
  std::vector<std::string> otherNames = {"C:", "D:", "PhysicalDrive0"};
  std::uint32_t queryError = 0;
  bool answerNothing = false;  // the list comes back with no name at all and no error
  std::vector<std::uint32_t> queryBufferSizes;  // every buffer size asked with
  bool classDevsFail = false;
  bool noticesLost = false;  // none reaches the program (udev restarted, a suspend)

  std::uint32_t QueryDosDevice(char* buffer, std::uint32_t size, std::uint32_t& lastError) override;
  bool GetClassDevs(const std::string& instanceId, std::uint32_t flags, std::vector<std::string>& set) override;
  void GetFriendlyName(const std::vector<std::string>& set, std::size_t index, char* buffer, std::size_t size) override;
  bool RegisterDeviceNotification(std::function<void(const DeviceChangeMessage&)> onChange) override;
  std::string SystemErrorText(std::uint32_t code) override { return "System error " + std::to_string(code); }
  std::uint64_t DevicePlugging(std::int32_t number) override;
  PortClaim ClaimOn(std::int32_t number) override { return {true, "COM" + std::to_string(number), ""}; }

  const std::vector<Port>& Ports() const { return ports_; }

 private:
  EventLoop& ui_;
  std::vector<Port> ports_;
  std::uint64_t pluggings_ = 0;
  std::function<void(const DeviceChangeMessage&)> onChange_;
};

}  // namespace brek::sim
