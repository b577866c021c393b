#include "common/Format.h"

#include "common/Exceptions.h"

namespace brek {
namespace {

[[noreturn]] void Invalid(std::string_view pattern) {
  throw EConvertError("Format '" + std::string(pattern) + "' invalid or incompatible with argument");
}

std::string Digits(std::uint64_t v, unsigned base) {
  if (v == 0) return "0";
  std::string s;
  while (v) {
    s.insert(s.begin(), "0123456789ABCDEF"[v % base]);
    v /= base;
  }
  return s;
}

}  // namespace

std::string Format(std::string_view pattern, const std::vector<FormatArg>& args) {
  std::string out;
  std::size_t next = 0;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != '%') {
      out += pattern[i];
      continue;
    }
    if (++i >= pattern.size()) Invalid(pattern);
    if (pattern[i] == '%') {
      out += '%';
      continue;
    }
    auto number = [&](bool& any) {
      int n = 0;
      any = false;
      while (i < pattern.size() && pattern[i] >= '0' && pattern[i] <= '9') {
        n = n * 10 + (pattern[i++] - '0');
        any = true;
        if (n > 10000) Invalid(pattern);
      }
      return n;
    };
    bool any = false;
    // An index "n:" picks the argument.
    const std::size_t save = i;
    const int index = number(any);
    if (any && i < pattern.size() && pattern[i] == ':') {
      next = static_cast<std::size_t>(index);
      ++i;
    } else {
      i = save;
    }
    const bool left = i < pattern.size() && pattern[i] == '-';
    if (left) ++i;
    const int width = number(any);
    int precision = -1;
    if (i < pattern.size() && pattern[i] == '.') {
      ++i;
      precision = number(any);
    }
    if (i >= pattern.size() || next >= args.size()) Invalid(pattern);
    const char type = static_cast<char>(pattern[i] | 0x20);
    const FormatArg& arg = args[next++];
    std::string piece;
    if (type == 'd' || type == 'u' || type == 'x') {
      const auto* v = std::get_if<std::int64_t>(&arg);
      if (!v) Invalid(pattern);
      const bool negative = type == 'd' && *v < 0;
      std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(*v) : static_cast<std::uint64_t>(*v);
      if (type == 'u') magnitude &= 0xFFFFFFFFu;
      std::string digits = Digits(magnitude, type == 'x' ? 16 : 10);
      if (precision > 0 && static_cast<int>(digits.size()) < precision)
        digits.insert(0, static_cast<std::size_t>(precision) - digits.size(), '0');
      piece = (negative ? "-" : "") + digits;
    } else if (type == 's') {
      const auto* v = std::get_if<std::string>(&arg);
      if (!v) Invalid(pattern);
      piece = precision >= 0 && static_cast<std::size_t>(precision) < v->size() ? v->substr(0, precision) : *v;
    } else {
      Invalid(pattern);
    }
    if (static_cast<int>(piece.size()) < width) {
      const std::string pad(static_cast<std::size_t>(width) - piece.size(), ' ');
      piece = left ? piece + pad : pad + piece;
    }
    out += piece;
  }
  return out;
}

}  // namespace brek
