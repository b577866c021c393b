#pragma once
// Shared test helpers: a private temporary folder, the error log redirected into it,
// a fixed clock, and file reading.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/Clock.h"

namespace brek::test {

// Text as Windows-1251 bytes, written in the tests as UTF-8.
std::string W(const char* utf8);

std::string ReadFile(const std::filesystem::path& p);
void WriteFile(const std::filesystem::path& p, const std::string& bytes);
std::vector<std::string> ErrorLogLines(const std::filesystem::path& p);  // split at CR LF

// Every test gets its own folder, the error log inside it and a clock that stands still
// at 2026-12-06 17:45:12.345 unless the test moves it.
class Sandbox : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  std::filesystem::path Dir() const { return dir_; }
  std::filesystem::path ErrorLogPath() const { return dir_ / "errors.log"; }
  std::vector<std::string> ErrorLog() const { return ErrorLogLines(ErrorLogPath()); }
  void SetNow(const LocalDateTime& t) { now_ = t; }

 private:
  std::filesystem::path dir_;
  LocalDateTime now_{2026, 12, 6, 17, 45, 12, 345};
};

// What the simulated panel hears from connecting through the demo settings and their
// completion after the restart, without the final "TIME=" line.
std::vector<std::string> ExpectedDemoLoadTranscript(std::uint32_t account);
// The simulated panel's transcript file, a line each. panel-sim logs as it reads: given
// a count, the file is read again for up to 5 s until it has that many lines, since on a
// loaded machine its last lines may come a moment after the program has moved on.
std::vector<std::string> TranscriptLines(const std::filesystem::path& p, std::size_t atLeast = 0);

}  // namespace brek::test
