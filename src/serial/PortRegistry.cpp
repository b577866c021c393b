#include "serial/PortRegistry.h"

#include <map>
#include <mutex>

namespace brek {
namespace {
std::mutex gMutex;
std::map<std::int32_t, std::string>& Paths() {
  static std::map<std::int32_t, std::string> m;
  return m;
}
std::map<std::string, std::int32_t>& Numbers() {
  static std::map<std::string, std::int32_t> m;
  return m;
}
}  // namespace

void RegisterPortDevice(std::int32_t number, const std::string& path) {
  std::lock_guard lock(gMutex);
  Paths()[number] = path;
  Numbers()[path] = number;
}

void UnregisterPortDevice(std::int32_t number) {
  std::lock_guard lock(gMutex);
  Paths().erase(number);
}

std::string PortDevicePath(std::int32_t number) {
  std::lock_guard lock(gMutex);
  const auto it = Paths().find(number);
  return it == Paths().end() ? std::string() : it->second;
}

std::int32_t PortNumberForPath(const std::string& path) {
  std::lock_guard lock(gMutex);
  if (const auto it = Numbers().find(path); it != Numbers().end()) return it->second;
  std::int32_t next = 1;
  for (const auto& [p, n] : Numbers()) next = std::max(next, n + 1);
  for (const auto& [n, p] : Paths()) next = std::max(next, n + 1);
  Numbers()[path] = next;
  return next;
}

}  // namespace brek
