#include "support/TestSupport.h"

#include <unistd.h>

#include <fstream>
#include <iterator>

#include "common/CommonUtils.h"
#include "common/Cp1251.h"
#include "scripts/Resources.h"

namespace brek::test {

std::string W(const char* utf8) { return Utf8ToCp1251(utf8); }

std::string ReadFile(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

void WriteFile(const std::filesystem::path& p, const std::string& bytes) {
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f << bytes;
}

std::vector<std::string> ErrorLogLines(const std::filesystem::path& p) {
  const std::string text = ReadFile(p);
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t at; (at = text.find("\r\n", start)) != std::string::npos; start = at + 2)
    lines.push_back(text.substr(start, at - start));
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

void Sandbox::SetUp() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "." + info->name();
  for (char& c : name)
    if (c == '/') c = '_';
  dir_ = std::filesystem::temp_directory_path() / ("brek-" + std::to_string(::getpid())) / name;
  std::filesystem::remove_all(dir_);
  std::filesystem::create_directories(dir_);
  SetErrorLogFileName(ErrorLogPath().string());
  SetClockSource([this] { return now_; });
  SetResourceLookup({});
}

void Sandbox::TearDown() {
  SetClockSource({});
  SetResourceLookup({});
  SetErrorLogFileName("");
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

}  // namespace brek::test
