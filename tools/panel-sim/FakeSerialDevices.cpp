#include "FakeSerialDevices.h"

#include <algorithm>
#include <cstring>

namespace brek::sim {

void FakeSerialDevices::AddPort(const Port& port, bool notify) {
  RemovePort(port.dosName, false);
  ports_.push_back(port);
  ports_.back().plugging = ++pluggings_;
  if (notify) NotifyArrival();
}

std::uint64_t FakeSerialDevices::DevicePlugging(std::int32_t number) {
  const Port* p = Find("COM" + std::to_string(number));
  return p ? p->plugging : 0;
}

void FakeSerialDevices::RemovePort(const std::string& dosName, bool notify) {
  const auto before = ports_.size();
  ports_.erase(std::remove_if(ports_.begin(), ports_.end(), [&](const Port& p) { return p.dosName == dosName; }),
               ports_.end());
  if (notify && ports_.size() != before) NotifyRemoval();
}

FakeSerialDevices::Port* FakeSerialDevices::Find(const std::string& dosName) {
  for (Port& p : ports_)
    if (p.dosName == dosName) return &p;
  return nullptr;
}

void FakeSerialDevices::Notify(std::uint32_t event, std::uint32_t deviceType) {
  // Notices come as window messages: after what the loop is doing now.
  if (noticesLost) return;
  ui_.PostToUiThread([this, event, deviceType] {
    if (onChange_) onChange_({event, deviceType});
  });
}

std::uint32_t FakeSerialDevices::QueryDosDevice(char* buffer, std::uint32_t size, std::uint32_t& lastError) {
  queryBufferSizes.push_back(size);
  if (queryError || answerNothing) {
    lastError = queryError;
    return 0;
  }
  std::string list;
  for (const auto& n : otherNames) list += n + '\0';
  for (const auto& p : ports_) list += p.dosName + '\0';
  list += '\0';
  if (list.size() > size) {
    lastError = ERROR_INSUFFICIENT_BUFFER;
    return 0;
  }
  std::memcpy(buffer, list.data(), list.size());
  lastError = 0;
  return static_cast<std::uint32_t>(list.size());
}

bool FakeSerialDevices::GetClassDevs(const std::string& instanceId, std::uint32_t flags, std::vector<std::string>& set) {
  if (classDevsFail || instanceId != kPanelInstanceId || flags != 0x16) return false;
  set.clear();
  for (const auto& p : ports_)
    if (!p.friendlyName.empty()) set.push_back(p.friendlyName);
  return true;
}

void FakeSerialDevices::GetFriendlyName(const std::vector<std::string>& set, std::size_t index, char* buffer,
                                std::size_t size) {
  CopyFriendlyName(set, index, buffer, size);
}

bool FakeSerialDevices::RegisterDeviceNotification(std::function<void(const DeviceChangeMessage&)> onChange) {
  onChange_ = std::move(onChange);
  return true;
}

}  // namespace brek::sim
