#pragma once
// The program's own exception types. Each knows the class name the error log writes for it.
#include <stdexcept>
#include <string>

namespace brek {

class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
  virtual const char* ClassName() const noexcept { return "Exception"; }
};

#define BREK_DECLARE_EXCEPTION(Name)                                        \
  class Name : public Exception {                                           \
   public:                                                                  \
    using Exception::Exception;                                             \
    const char* ClassName() const noexcept override { return #Name; }       \
  }

BREK_DECLARE_EXCEPTION(EConvertError);  // a text that does not convert
BREK_DECLARE_EXCEPTION(ERangeError);    // a value or position out of range
BREK_DECLARE_EXCEPTION(EInOutError);    // a file that cannot be opened or written
BREK_DECLARE_EXCEPTION(EOSError);       // a failed system call, with the system's text

#undef BREK_DECLARE_EXCEPTION

// The name the error log writes for an exception: ours by their fixed names, any other
// by its demangled type name.
std::string ExceptionClassName(const std::exception& e);

}  // namespace brek
