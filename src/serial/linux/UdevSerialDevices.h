#pragma once
// The device layer on Linux: serial ttys from libudev under COM-style names whose numbers
// stay for the life of the process, the panel's USB identity from the tty's USB parent,
// and udev's add and remove events as device-change notices on the user-interface thread.
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "serial/SerialDevices.h"
#include "common/EventLoop.h"

struct udev;
struct udev_monitor;
struct udev_device;

namespace brek {

class UdevSerialDevices : public SerialDevices {
 public:
  explicit UdevSerialDevices(EventLoop& ui);
  ~UdevSerialDevices() override;

  std::uint32_t QueryDosDevice(char* buffer, std::uint32_t size, std::uint32_t& lastError) override;
  bool GetClassDevs(const std::string& instanceId, std::uint32_t flags, std::vector<std::string>& set) override;
  void GetFriendlyName(const std::vector<std::string>& set, std::size_t index, char* buffer, std::size_t size) override;
  bool RegisterDeviceNotification(std::function<void(const DeviceChangeMessage&)> onChange) override;
  std::string SystemErrorText(std::uint32_t code) override;
  // ModemManager opens a new serial port to probe it with AT commands, and as root it
  // passes our exclusive use: a port it may still probe is left to it first.
  bool AwaitsOtherProgram(std::int32_t number) override;
  PortClaim ClaimOn(std::int32_t number) override;
  // The inode of the port's sysfs folder: udev makes the folder anew for every plugging.
  std::uint64_t DevicePlugging(std::int32_t number) override;

 private:
  struct TtyDevice {
    std::string syspath;
    ino_t inode = 0;  // of its sysfs folder: a device made anew gets a new one
    std::string node;                                  // /dev/ttyACM0
    std::string vendor, product, serial, productName;  // of its USB device, if any
  };
  struct Known {
    ino_t inode = 0;
    bool hardware = false;  // a tty with a parent device
    TtyDevice tty;
    // Made after the listing that began then: udev's record of an earlier device of the
    // same name, not yet removed, is older.
    std::chrono::steady_clock::time_point madeAfter;
  };
  const std::vector<TtyDevice>& ListTtys(bool scan);
  Known Read(const std::string& name, ino_t inode);
  void Monitor(udev_monitor* monitor);
  bool Removed(const TtyDevice& tty) const;
  // The port's tty and its udev record (to unref), or none.
  udev_device* DeviceOfPort(std::int32_t number, const Known** known = nullptr);
  void NoticeIn(unsigned ms);  // an arrival notice then, to look again

  EventLoop& ui_;
  udev* udev_ = nullptr;
  std::function<void(const DeviceChangeMessage&)> onChange_;
  std::thread monitor_;
  int stopFd_ = -1;
  // Devices whose removal was announced, with the inode of the device it was about (0: one
  // already gone). udev may announce it while the device is still listed; a removal notice
  // must find it gone, as a completed removal is. A removal heard late, after a listing saw
  // the device made anew under the same path, is about the old one and hides nothing.
  mutable std::mutex removedMutex_;
  std::map<std::string, ino_t> removed_;
  std::atomic<unsigned> notices_{0};  // every event the monitor received
  // Used on the user-interface thread only. By tty name.
  std::map<std::string, Known> known_;
  std::vector<TtyDevice> list_;
  bool listValid_ = false;
  std::chrono::steady_clock::time_point listedAt_;
  unsigned listedAtNotice_ = 0;
  std::unique_ptr<Timer> noticeTimer_;
};

// "USB\VID_FFFF&PID_2331\TUVO" taken apart; false when it is not of that form.
bool ParseUsbInstanceId(const std::string& id, std::string& vendor, std::string& product, std::string& serial);

}  // namespace brek
