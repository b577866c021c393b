// The version helpers and the device-name list walker on any text.
#include "FuzzInput.h"
#include "common/CommonUtils.h"
#include "common/Exceptions.h"
#include "common/VersionRecord.h"
#include "serial/NextToken.h"

using namespace brek;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Input in(data, size);
  SetErrorLogFileName("");
  const std::string a = in.Bytes(in.Byte());
  const std::string b = in.Rest();
  try {
    (void)ExtractField(b, a.empty() ? '.' : a[0], static_cast<int>(a.size()) - 2);
  } catch (const ERangeError&) {
    // a text over 255 characters is refused by design
  }
  try {
    (void)ShortFileVersion(b);
  } catch (const ERangeError&) {
  }
  (void)CheckHardVersion(a, b);
  (void)CheckHardVersionBranch(a, b);
  std::string value;
  (void)QueryVersionRecord(std::vector<unsigned char>(b.begin(), b.end()), a, value);
  std::int32_t position = 1;
  std::string token;
  for (std::size_t steps = 0; steps <= b.size() + 1; ++steps) {
    NextToken(b, position, token);
    if (token.empty()) break;
  }
  return 0;
}
