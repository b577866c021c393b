#include "support/TestSupport.h"

#include <fstream>
#include <chrono>
#include <iterator>
#include <thread>

#include "common/CommonUtils.h"
#include "common/Cp1251.h"
#include "scripts/CommandsList.h"
#include "scripts/Resources.h"

namespace brek::test {
namespace {
// Tells the folders of test processes that run at the same time apart.
std::string ProcessToken() {
  // (std::random_device is the same in every run on some runtimes: the clock is not.)
  static const std::string token =
      std::to_string(std::chrono::steady_clock::now().time_since_epoch().count() % 1000000007);
  return token;
}
}  // namespace

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
  dir_ = std::filesystem::temp_directory_path() / ("brek-" + ProcessToken()) / name;
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

std::vector<std::string> ExpectedDemoLoadTranscript(std::uint32_t account) {
  std::vector<std::string> expected = {"", "VERSION?", "AUTH=5916", "ZOLVA_SN?"};
  TCommandsList script("");
  script.InitStartCmd();
  script.InitAccount(account);
  std::string c, k;
  while (script.GetNextCommand(c, k)) expected.push_back(c);
  for (const char* line : {"", "VERSION?", "AUTH=5916", "ZOLVA_SN?", "ARM_IGNORE_TAMPER=1"})
    expected.push_back(line);
  return expected;
}

std::vector<std::string> TranscriptLines(const std::filesystem::path& p, std::size_t atLeast) {
  std::vector<std::string> got;
  for (const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);;
       std::this_thread::sleep_for(std::chrono::milliseconds(20))) {
    got.clear();
    const std::string text = ReadFile(p);
    for (std::size_t start = 0, at; (at = text.find('\n', start)) != std::string::npos; start = at + 1)
      got.push_back(text.substr(start, at - start));
    if (got.size() >= atLeast || std::chrono::steady_clock::now() >= until) return got;
  }
}

}  // namespace brek::test
