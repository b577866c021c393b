#pragma once
// Takes a fuzzer's bytes apart: numbers and pieces from the front, as long as any are left.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace brek::fuzz {

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool Empty() const { return at_ >= size_; }
  std::uint8_t Byte() { return Empty() ? 0 : data_[at_++]; }
  std::uint16_t Word() { return static_cast<std::uint16_t>(Byte() | (Byte() << 8)); }
  std::string Bytes(std::size_t n) {
    n = std::min(n, size_ - std::min(at_, size_));
    std::string out(reinterpret_cast<const char*>(data_ + at_), n);
    at_ += n;
    return out;
  }
  std::string Rest() { return Bytes(size_); }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// A folder of the target's own for what it writes (the error log): on tmpfs where there is
// one, since most inputs write to it.
inline std::string ScratchFolder(const char* name) {
  const std::filesystem::path shm = "/dev/shm";
  const auto dir = (std::filesystem::is_directory(shm) ? shm : std::filesystem::temp_directory_path()) / name;
  std::filesystem::create_directories(dir);
  return dir.string();
}

// The error log of the folder, emptied every 1024 inputs rather than every input: a file
// removed and made again is most of the work of a small input.
inline std::string ErrorLogIn(const std::string& folder) {
  static unsigned inputs = 0;
  const std::string log = folder + "/ErrorLog.log";
  if (inputs++ % 1024 == 0) std::filesystem::remove(log);
  return log;
}

}  // namespace brek::fuzz
