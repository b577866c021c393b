#pragma once
// The version information block of an executable file, queried by path as the Windows
// version API does. Windows reads the real version resource; elsewhere the block is a
// record the build writes into the executable (see VersionRecord.h).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace brek {

// Platform: size of the block in the file, 0 when it has none.
std::uint32_t FileVersionInfoSize(const std::string& fileName);
// Platform: reads the block into buffer (sized by the caller); false on failure.
bool ReadFileVersionInfo(const std::string& fileName, std::vector<unsigned char>& buffer);
// Platform: the value at a path of the block ("\VarFileInfo\Translation",
// "StringFileInfo\041904e3\FileVersion"); false when there is none.
bool QueryVersionValue(const std::vector<unsigned char>& block, const std::string& subBlock,
                       std::string& value);

}  // namespace brek
