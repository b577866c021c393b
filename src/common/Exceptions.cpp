#include "common/Exceptions.h"

#include <typeinfo>
#if defined(__GNUC__)
#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#endif

namespace brek {

std::string ExceptionClassName(const std::exception& e) {
  if (const auto* own = dynamic_cast<const Exception*>(&e)) return own->ClassName();
  const char* raw = typeid(e).name();
#if defined(__GNUC__)
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> demangled(abi::__cxa_demangle(raw, nullptr, nullptr, &status),
                                                   std::free);
  if (status == 0 && demangled) return demangled.get();
#endif
  return raw;
}

}  // namespace brek
