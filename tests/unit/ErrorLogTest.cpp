
#include <clocale>
#include <cstdlib>
#ifndef _WIN32
#include <locale.h>
#include <signal.h>
#include <sys/resource.h>
#endif

#include "common/CommonUtils.h"
#include "common/Exceptions.h"
#include "common/Guard.h"
#include "support/TestSupport.h"

namespace brek::test {
namespace {

class ErrorLogFile : public Sandbox {};

// The stamp for the fixed clock in whatever locale the test runs in.
std::string Stamp() { return ErrorLogTimeStamp(NowLocal()); }

TEST_F(ErrorLogFile, EntriesCreateTheFileThenAppendEachOnItsOwnLine) {
  ASSERT_FALSE(std::filesystem::exists(ErrorLogPath()));
  WriteErrLog("first");
  WriteErrLog("");
  LogException(EConvertError("bad number"), "TBrekGSMDemoMainForm.NewString");
  EXPECT_EQ(ReadFile(ErrorLogPath()),
            Stamp() + ": first\r\n" + Stamp() + ": \r\n" + Stamp() +
                ": TBrekGSMDemoMainForm.NewString. Exception EConvertError. Exception message: bad number\r\n");
}

TEST_F(ErrorLogFile, AnExistingLogIsAppendedToNeverTruncated) {
  WriteFile(ErrorLogPath(), "old entry\r\n");
  WriteErrLog("new");
  EXPECT_EQ(ReadFile(ErrorLogPath()), "old entry\r\n" + Stamp() + ": new\r\n");
}

TEST_F(ErrorLogFile, ExceptionEntryKeepsEverySeparatorAndTheMessageAsItIs) {
  LogException(ERangeError("line one\r\nline two"), "");
  LogException(std::out_of_range("index"), "CommonUtils.GetFileVersion");
  const std::string text = ReadFile(ErrorLogPath());
  EXPECT_EQ(text, Stamp() + ": . Exception ERangeError. Exception message: line one\r\nline two\r\n" + Stamp() +
                      ": CommonUtils.GetFileVersion. Exception std::out_of_range. Exception message: index\r\n");
}

TEST_F(ErrorLogFile, RussianTextIsWrittenByteForByte) {
  const std::string text = W("Нет комманд для запуска демо режима");
  WriteErrLog(text);
  EXPECT_EQ(ReadFile(ErrorLogPath()), Stamp() + ": " + text + "\r\n");
}

TEST_F(ErrorLogFile, WithoutANameEntriesGoToErrLogTxtInTheCurrentDirectory) {
  const auto old = std::filesystem::current_path();
  std::filesystem::current_path(Dir());
  SetErrorLogFileName("");
  EXPECT_EQ(ErrorLogFileName(), "ErrLog.txt");
  WriteErrLog("before settings");
  SetErrorLogFileName(ErrorLogPath().string());
  WriteErrLog("after settings");
  std::filesystem::current_path(old);
  EXPECT_EQ(ErrorLogLines(Dir() / "ErrLog.txt"), std::vector<std::string>{Stamp() + ": before settings"});
  EXPECT_EQ(ErrorLog(), std::vector<std::string>{Stamp() + ": after settings"});
}

TEST_F(ErrorLogFile, AnUnwritableLogIsSkippedSilently) {
  // A regular file where a folder should be defeats even root.
  WriteFile(Dir() / "not-a-folder", "x");
  SetErrorLogFileName((Dir() / "not-a-folder" / "errors.log").string());
  EXPECT_NO_THROW(WriteErrLog("lost"));
  EXPECT_NO_THROW(LogException(EInOutError("lost too"), "X.Y"));
  SetErrorLogFileName((Dir() / "missing" / "errors.log").string());
  EXPECT_NO_THROW(WriteErrLog("lost"));
  EXPECT_FALSE(std::filesystem::exists(Dir() / "missing"));
#ifndef _WIN32
  // A full disk cuts an entry short: nothing of it stays, the next starts its own line.
  SetErrorLogFileName(ErrorLogPath().string());
  WriteErrLog("first");
  const std::string before = ReadFile(ErrorLogPath());
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
  rlimit tight = saved;
  tight.rlim_cur = before.size() + 10;
  setrlimit(RLIMIT_FSIZE, &tight);
  WriteErrLog(std::string(100, 'x'));
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(ReadFile(ErrorLogPath()), before);
  WriteErrLog("next");
  EXPECT_EQ(ReadFile(ErrorLogPath()), before + Stamp() + ": next\r\n");
#endif
}

// Held open between entries on Windows, opened for each on POSIX: either way each entry is
// in the file once written, another writer's entries keep their place, and no entry goes to
// a file moved away under the writer.
TEST_F(ErrorLogFile, AHeldLogHasEachEntryAtOnceAndLosesNoneToAMovedFile) {
  const auto log = Dir() / "held.log", moved = Dir() / "moved.log";
  HeldAppendFile held;
  ASSERT_TRUE(held.Append(log.string(), "one\r\n"));
  EXPECT_EQ(ReadFile(log), "one\r\n");
  ASSERT_TRUE(AppendWhole(log.string(), "other\r\n"));
  ASSERT_TRUE(held.Append(log.string(), "two\r\n"));
  std::error_code refused;
  std::filesystem::rename(log, moved, refused);
  ASSERT_TRUE(held.Append(log.string(), "three\r\n"));
  EXPECT_EQ(ReadFile(moved) + ReadFile(log), "one\r\nother\r\ntwo\r\nthree\r\n");
  EXPECT_TRUE(held.Release());
  std::filesystem::rename(log, moved, refused);
  EXPECT_FALSE(refused) << "released, the file is the user's again";
}

TEST_F(ErrorLogFile, AtExactlyMidnightTheStampIsTheDateAlone) {
  SetNow({2026, 12, 6, 0, 0, 0, 500});
  EXPECT_EQ(ErrorLogTimeStamp(NowLocal()), LocaleShortDate(NowLocal()));
  SetNow({2026, 12, 6, 0, 0, 1, 0});
  EXPECT_EQ(ErrorLogTimeStamp(NowLocal()), LocaleShortDate(NowLocal()) + " " + LocaleLongTime(NowLocal()));
}

#ifndef _WIN32  // the locale of a POSIX system; Windows reads the user's settings
TEST_F(ErrorLogFile, RussianLocaleStampReadsDayMonthYearAndTime) {
  const char* old = std::getenv("LC_ALL");
  const std::string saved = old ? old : "";
  locale_t probe = newlocale(LC_TIME_MASK, "ru_RU.UTF-8", static_cast<locale_t>(0));
  if (probe == static_cast<locale_t>(0)) GTEST_SKIP() << "ru_RU.UTF-8 locale not installed";
  freelocale(probe);
  setenv("LC_ALL", "C", 1);
  const std::string before = ErrorLogTimeStamp({2026, 12, 6, 17, 45, 12, 0});  // a locale made for C first
  setenv("LC_ALL", "ru_RU.UTF-8", 1);
  const std::string stamp = ErrorLogTimeStamp({2026, 12, 6, 17, 45, 12, 0});
  const std::string midnight = ErrorLogTimeStamp({2026, 12, 6, 0, 0, 0, 0});
  if (old) setenv("LC_ALL", saved.c_str(), 1); else unsetenv("LC_ALL");
  EXPECT_EQ(before, "12/06/26 17:45:12");
  EXPECT_EQ(stamp, "06.12.2026 17:45:12");
  EXPECT_EQ(midnight, "06.12.2026");
}
#endif

TEST_F(ErrorLogFile, GuardLogsStandardExceptionsUnderTheOperationAndLetsOthersPass) {
  int reached = 0;
  Guarded("TCommandsList.InitAccount", [&] {
    reached = 1;
    throw EConvertError("oops");
  });
  EXPECT_EQ(reached, 1);
  EXPECT_EQ(ErrorLog(),
            std::vector<std::string>{Stamp() + ": TCommandsList.InitAccount. Exception EConvertError. Exception message: oops"});
  EXPECT_THROW(Guarded("X.Y", [] { throw 42; }), int);
}

}  // namespace
}  // namespace brek::test
