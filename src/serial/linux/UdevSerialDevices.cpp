#include "serial/linux/UdevSerialDevices.h"

#include <dirent.h>
#include <fcntl.h>
#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>

#include "common/Cp1251.h"
#include "common/Text.h"
#include "serial/PortRegistry.h"

namespace brek {
namespace {

const char* Attr(udev_device* d, const char* name) {
  const char* v = d ? udev_device_get_sysattr_value(d, name) : nullptr;
  return v ? v : "";
}

// The inode of a tty's sysfs folder as the listing sees it; 0 when it is not there.
ino_t TtyInode(const std::string& name) {
  struct stat st {};
  return stat(("/sys/class/tty/" + name).c_str(), &st) == 0 ? st.st_ino : 0;
}

// ModemManager 1.20 opens a new port 1.5 s after udev has announced it (later versions
// after 2 s): left alone for twice that long, a port is being probed by then or never.
constexpr unsigned long long kModemManagerTurnUs = 4000000;
// A port another program holds is looked at this often, so that it is opened soon once free.
constexpr unsigned kHeldRecheckMs = 500;
constexpr const char* kRuleAdvice =
    "if that is ModemManager, which probes new serial ports: the panel's udev rule, which tells it to leave "
    "the panel alone, is missing; install the package brekgsmdemo, or the rule alone (sudo install -m 644 "
    "packaging/70-brekgsm-panel.rules /etc/udev/rules.d/ && sudo udevadm control --reload), then plug the "
    "panel in again";

// A udev property set to 1 on the tty or on its USB device.
bool Marked(udev_device* tty, const char* name) {
  udev_device* usb = udev_device_get_parent_with_subsystem_devtype(tty, "usb", "usb_device");
  for (udev_device* d : {tty, usb}) {
    const char* v = d ? udev_device_get_property_value(d, name) : nullptr;
    if (v && std::strcmp(v, "1") == 0) return true;
  }
  return false;
}

// Any user may read another's process names; an unreadable /proc counts as running.
bool ModemManagerRuns() {
  DIR* proc = opendir("/proc");
  if (!proc) return true;
  bool found = false;
  const dirent* entry = nullptr;
  while (!found && (entry = readdir(proc)) != nullptr) {
    if (entry->d_name[0] < '1' || entry->d_name[0] > '9') continue;
    char comm[16] = {};
    const int fd = open(("/proc/" + std::string(entry->d_name) + "/comm").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    found = read(fd, comm, sizeof comm - 1) == 13 && std::strcmp(comm, "ModemManager\n") == 0;
    close(fd);
  }
  closedir(proc);
  return found;
}

}  // namespace

bool ParseUsbInstanceId(const std::string& id, std::string& vendor, std::string& product, std::string& serial) {
  const std::string u = UpperCase(id);
  if (u.rfind("USB\\VID_", 0) != 0) return false;
  const auto amp = u.find("&PID_");
  const auto slash = u.find('\\', 4);
  if (amp == std::string::npos || slash == std::string::npos || amp > slash) return false;
  vendor = id.substr(8, amp - 8);
  product = id.substr(amp + 5, slash - amp - 5);
  serial = id.substr(slash + 1);
  return !vendor.empty() && !product.empty();
}

// Serial ttys that belong to real hardware (a tty with a parent device), in udev's order,
// leaving out those whose removal was announced. One look at the tty class a refresh:
// what a device is never changes while its sysfs folder lives, so each is read once and
// known again by that folder's inode (a device made anew gets a new one).
const std::vector<UdevSerialDevices::TtyDevice>& UdevSerialDevices::ListTtys(bool scan) {
  const auto now = std::chrono::steady_clock::now();
  // A refresh asks for the names, then for the friendly names: the second question takes
  // the first one's scan, unless a device notice came in between.
  const unsigned notices = notices_.load();
  if (!scan && listValid_ && notices == listedAtNotice_ && now - listedAt_ < std::chrono::milliseconds(100)) {
    listValid_ = false;
    std::erase_if(list_, [this](const TtyDevice& t) { return Removed(t); });
    return list_;
  }
  list_.clear();
  listValid_ = false;
  // The tty class folder read directly: libudev's scan makes a device object of every
  // entry (consoles and virtual terminals included) on every refresh.
  DIR* dir = opendir("/sys/class/tty");
  if (!dir) return list_;
  std::map<std::string, Known> seen;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat st {};
    if (stat(("/sys/class/tty/" + name).c_str(), &st) != 0) continue;  // gone meanwhile
    auto it = known_.find(name);
    if (it == known_.end() || it->second.inode != st.st_ino) {
      it = known_.insert_or_assign(name, Read(name, st.st_ino)).first;
      it->second.madeAfter = listedAt_;
      // Made anew: a removal heard of before was the old device's.
      std::lock_guard lock(removedMutex_);
      const auto removal = removed_.find(it->second.tty.syspath);
      if (removal != removed_.end() && removal->second != st.st_ino) removed_.erase(removal);
    }
    seen.insert(*it);
    if (it->second.hardware && !Removed(it->second.tty)) list_.push_back(it->second.tty);
  }
  closedir(dir);
  // udev's order: by device path.
  std::sort(list_.begin(), list_.end(), [](const TtyDevice& a, const TtyDevice& b) { return a.syspath < b.syspath; });
  known_.swap(seen);  // forget what is no longer there
  listedAt_ = now;
  listedAtNotice_ = notices;
  listValid_ = true;
  return list_;
}

UdevSerialDevices::Known UdevSerialDevices::Read(const std::string& name, ino_t inode) {
  Known k;
  k.inode = inode;
  udev_device* d = udev_device_new_from_subsystem_sysname(udev_, "tty", name.c_str());
  if (!d) return k;
  const char* node = udev_device_get_devnode(d);
  const char* syspath = udev_device_get_syspath(d);
  if (node && syspath && udev_device_get_parent(d)) {
    k.hardware = true;
    k.tty.syspath = syspath;
    k.tty.inode = inode;
    k.tty.node = node;
    if (udev_device* usb = udev_device_get_parent_with_subsystem_devtype(d, "usb", "usb_device")) {
      k.tty.vendor = Attr(usb, "idVendor");
      k.tty.product = Attr(usb, "idProduct");
      k.tty.serial = Attr(usb, "serial");
      k.tty.productName = Attr(usb, "product");
    }
  }
  udev_device_unref(d);
  return k;
}

UdevSerialDevices::UdevSerialDevices(EventLoop& ui) : ui_(ui), udev_(udev_new()) {}

UdevSerialDevices::~UdevSerialDevices() {
  if (monitor_.joinable()) {
    const std::uint64_t one = 1;
    if (write(stopFd_, &one, sizeof one) < 0) {
    }
    monitor_.join();
  }
  if (stopFd_ >= 0) close(stopFd_);
  if (udev_) udev_unref(udev_);
}

std::uint32_t UdevSerialDevices::QueryDosDevice(char* buffer, std::uint32_t size, std::uint32_t& lastError) {
  lastError = 0;
  if (!udev_) {
    lastError = 1;  // ERROR_INVALID_FUNCTION: no udev here
    return 0;
  }
  std::string list;
  for (const TtyDevice& t : ListTtys(true)) {
    const std::int32_t number = PortNumberForPath(t.node);
    RegisterPortDevice(number, t.node);
    list += "COM" + std::to_string(number) + '\0';
  }
  list += '\0';
  if (list.size() > size) {
    lastError = ERROR_INSUFFICIENT_BUFFER;
    return 0;
  }
  std::memcpy(buffer, list.data(), list.size());
  return static_cast<std::uint32_t>(list.size());
}

bool UdevSerialDevices::GetClassDevs(const std::string& instanceId, std::uint32_t, std::vector<std::string>& set) {
  std::string vendor, product, serial;
  if (!udev_ || !ParseUsbInstanceId(instanceId, vendor, product, serial)) return false;
  set.clear();
  for (const TtyDevice& t : ListTtys(false)) {
    if (!SameText(t.vendor, vendor) || !SameText(t.product, product) || !SameText(t.serial, serial)) continue;
    const std::string name = t.productName.empty() ? Utf8ToCp1251("Брек GSM") : Utf8ToCp1251(t.productName);
    set.push_back(name + " (COM" + std::to_string(PortNumberForPath(t.node)) + ")");
  }
  return true;
}

void UdevSerialDevices::GetFriendlyName(const std::vector<std::string>& set, std::size_t index, char* buffer,
                                std::size_t size) {
  CopyFriendlyName(set, index, buffer, size);
}

bool UdevSerialDevices::RegisterDeviceNotification(std::function<void(const DeviceChangeMessage&)> onChange) {
  if (!udev_ || monitor_.joinable()) return false;
  udev_monitor* m = udev_monitor_new_from_netlink(udev_, "udev");
  if (!m) return false;
  udev_monitor_filter_add_match_subsystem_devtype(m, "tty", nullptr);
  if (udev_monitor_enable_receiving(m) < 0) {
    udev_monitor_unref(m);
    return false;
  }
  stopFd_ = eventfd(0, EFD_CLOEXEC);
  if (stopFd_ < 0) {
    // Without a way to stop it the monitor could never be joined: no notices then (the
    // 5 s check still finds the panel), and the program can end.
    udev_monitor_unref(m);
    return false;
  }
  onChange_ = std::move(onChange);
  monitor_ = std::thread([this, m] {
    Monitor(m);
    udev_monitor_unref(m);
  });
  return true;
}

void UdevSerialDevices::Monitor(udev_monitor* monitor) {
  // Only reads the monitor; every notice is handed to the user-interface thread.
  const int monitorFd = udev_monitor_get_fd(monitor);
  // Which device each tty name was when last heard of (present at the start, or its
  // arrival): a removal is about that one, even when heard after the device was made anew.
  std::map<std::string, ino_t> heard;
  if (DIR* dir = opendir("/sys/class/tty")) {
    while (const dirent* entry = readdir(dir))
      if (entry->d_name[0] != '.') heard[entry->d_name] = TtyInode(entry->d_name);
    closedir(dir);
  }
  for (;;) {
    pollfd fds[2] = {{monitorFd, POLLIN, 0}, {stopFd_, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) continue;
    if (fds[1].revents) return;
    if (!(fds[0].revents & POLLIN)) continue;
    udev_device* d = udev_monitor_receive_device(monitor);
    if (!d) {
      ++notices_;  // a notice lost (a full socket, say): the next refresh lists afresh
      continue;
    }
    const char* action = udev_device_get_action(d);
    const char* syspath = udev_device_get_syspath(d);
    const char* sysname = udev_device_get_sysname(d);
    std::uint32_t event = 0;
    if (action && std::strcmp(action, "add") == 0) event = DBT_DEVICEARRIVAL;
    if (action && std::strcmp(action, "remove") == 0) event = DBT_DEVICEREMOVECOMPLETE;
    if (event && syspath && sysname) {
      const auto known = heard.find(sysname);
      const ino_t inode = known != heard.end() ? known->second : TtyInode(sysname);
      if (event == DBT_DEVICEARRIVAL)
        heard[sysname] = TtyInode(sysname);
      else
        heard.erase(sysname);
      // Recorded before the notice is posted, so the notice's handling already sees it.
      std::lock_guard lock(removedMutex_);
      if (event == DBT_DEVICEREMOVECOMPLETE)
        removed_[syspath] = inode;
      else
        removed_.erase(syspath);
    }
    udev_device_unref(d);
    ++notices_;
    if (!event) continue;
    ui_.PostToUiThread([this, event] {
      if (onChange_) onChange_({event, DBT_DEVTYP_DEVICEINTERFACE});
    });
  }
}

bool UdevSerialDevices::Removed(const TtyDevice& tty) const {
  std::lock_guard lock(removedMutex_);
  const auto it = removed_.find(tty.syspath);
  return it != removed_.end() && it->second == tty.inode;
}

std::string UdevSerialDevices::SystemErrorText(std::uint32_t code) { return std::strerror(static_cast<int>(code)); }

udev_device* UdevSerialDevices::DeviceOfPort(std::int32_t number, const Known** known) {
  const std::string node = PortDevicePath(number);
  const auto it = known_.find(node.substr(node.rfind('/') + 1));
  if (!udev_ || node.empty() || it == known_.end() || !it->second.hardware) return nullptr;
  if (known) *known = &it->second;
  return udev_device_new_from_syspath(udev_, it->second.tty.syspath.c_str());
}

bool UdevSerialDevices::AwaitsOtherProgram(std::int32_t number) {
  const Known* known = nullptr;
  udev_device* d = DeviceOfPort(number, &known);
  if (!d) return false;
  bool awaits = false;
  const unsigned long long age = udev_device_get_usec_since_initialized(d);
  // udev's and ours: both the monotonic clock.
  const auto initialized = std::chrono::steady_clock::now() - std::chrono::microseconds(age);
  if (!udev_device_get_is_initialized(d) || initialized < known->madeAfter) {
    // udev is not through with it (nor has ModemManager seen it): its arrival notice
    // follows. Without udev running, nothing is ever through.
    awaits = access("/run/udev/control", F_OK) == 0;
  } else if (Marked(d, "ID_MM_CANDIDATE") && (!Marked(d, "ID_MM_DEVICE_IGNORE") || Marked(d, "ID_MM_DEVICE_PROCESS"))) {
    // Neither our rule nor ModemManager's filter keeps it away (its allowlist beats the rule).
    if (age != 0 && age < kModemManagerTurnUs && ModemManagerRuns()) {
      awaits = true;
      NoticeIn(static_cast<unsigned>((kModemManagerTurnUs - age) / 1000) + 1);
    }
  }
  udev_device_unref(d);
  return awaits;
}

std::uint64_t UdevSerialDevices::DevicePlugging(std::int32_t number) {
  const std::string node = PortDevicePath(number);
  const auto it = known_.find(node.substr(node.rfind('/') + 1));
  return node.empty() || it == known_.end() ? 0 : static_cast<std::uint64_t>(it->second.inode);
}

PortClaim UdevSerialDevices::ClaimOn(std::int32_t number) {
  PortClaim claim;
  const std::string node = PortDevicePath(number);
  if (node.empty()) return claim;
  claim.held = true;
  claim.device = node;
  if (udev_device* d = DeviceOfPort(number)) {
    if (!Marked(d, "ID_MM_DEVICE_IGNORE")) claim.advice = kRuleAdvice;
    udev_device_unref(d);
  }
  NoticeIn(kHeldRecheckMs);
  return claim;
}

void UdevSerialDevices::NoticeIn(unsigned ms) {
  if (!onChange_) return;
  if (!noticeTimer_) {
    noticeTimer_ = ui_.CreateTimer(ms, false, [this] {
      noticeTimer_->SetEnabled(false);
      onChange_({DBT_DEVICEARRIVAL, DBT_DEVTYP_DEVICEINTERFACE});
    });
  }
  noticeTimer_->SetEnabled(false);
  noticeTimer_->SetInterval(ms);
  noticeTimer_->SetEnabled(true);
}

}  // namespace brek
