#pragma once
// Which device node stands behind a COM port number on systems without COM names. The
// device layer fills it; tests fill it with pty paths.
#include <cstdint>
#include <string>

namespace brek {

void RegisterPortDevice(std::int32_t number, const std::string& path);
void UnregisterPortDevice(std::int32_t number);
std::string PortDevicePath(std::int32_t number);  // empty when unknown
// The number of a path, given a new one the first time: numbers stay for the process's life.
std::int32_t PortNumberForPath(const std::string& path);

}  // namespace brek
