#pragma once
// The version record of a non-Windows build: a magic text followed by entries of
// (one length byte, path, one length byte, value) and a zero length byte at the end.
// Paths are compared ignoring case and doubled or leading backslashes.
#include <string>
#include <string_view>
#include <vector>

namespace brek {

inline constexpr std::string_view kVersionRecordMagic{"BREKVERSIONINFO\0", 16};
inline constexpr const char* kVersionRecordSection = ".brekver";

bool QueryVersionRecord(const std::vector<unsigned char>& record, const std::string& path,
                        std::string& value);
// Builds a record; used by tests to write files with a record of their own.
std::vector<unsigned char> BuildVersionRecord(
    const std::vector<std::pair<std::string, std::string>>& entries);

}  // namespace brek
