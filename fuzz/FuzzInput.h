#pragma once
// Takes a fuzzer's bytes apart: numbers and pieces from the front, as long as any are left.
#include <algorithm>
#include <cstddef>
#include <cstdint>
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

}  // namespace brek::fuzz
