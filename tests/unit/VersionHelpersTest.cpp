#include "common/CMLEncode.h"
#include "common/CommonUtils.h"
#include "common/ProgramPath.h"
#include "common/VersionRecord.h"
#include "support/TestSupport.h"

namespace brek::test {
namespace {

class Versions : public Sandbox {};

TEST_F(Versions, ExtractFieldCountsFromOneAndGivesEmptyPastTheEnd) {
  EXPECT_EQ(ExtractField("5.1.10.6", '.', 1), "5");
  EXPECT_EQ(ExtractField("5.1.10.6", '.', 3), "10");
  EXPECT_EQ(ExtractField("5.1.10.6", '.', 4), "6");
  EXPECT_EQ(ExtractField("5.1.10.6", '.', 5), "");
  EXPECT_EQ(ExtractField("5.1.10.6", '.', 0), "");
  EXPECT_EQ(ExtractField("Main", '.', 1), "Main");
  EXPECT_EQ(ExtractField("", '.', 1), "");
  EXPECT_EQ(ExtractField("5..6", '.', 2), "");
  EXPECT_EQ(ExtractField("5..6", '.', 3), "6");
  EXPECT_EQ(ExtractField("5.1.", '.', 3), "");
  EXPECT_THROW(ExtractField(std::string(256, '1'), '.', 1), std::exception);
  EXPECT_EQ(ExtractField(std::string(255, '1'), '.', 1), std::string(255, '1'));
}

TEST_F(Versions, ShortFileVersionDropsTheThirdField) {
  EXPECT_EQ(ShortFileVersion("1.21.0.50"), "1.21.50");
  EXPECT_EQ(ShortFileVersion("1.21"), "1.21.");
}

TEST_F(Versions, BranchComparesMajorAndMinorAsTexts) {
  EXPECT_TRUE(CheckHardVersionBranch("5.1", "5.1.10.6"));
  EXPECT_FALSE(CheckHardVersionBranch("5.2", "5.1.10.6"));
  EXPECT_FALSE(CheckHardVersionBranch("5.1", "5.10.0.1"));
  EXPECT_FALSE(CheckHardVersionBranch("5.1", "05.1.0.1"));
}

TEST_F(Versions, BuildCompareGivesTheResultCodes) {
  const std::string ref = "5.1.10.6";
  EXPECT_EQ(CheckHardVersion(ref, "5.1.10.6"), 2);
  EXPECT_EQ(CheckHardVersion(ref, "5.1.10.7"), 0);
  EXPECT_EQ(CheckHardVersion(ref, "5.1.11.0"), 0);
  EXPECT_EQ(CheckHardVersion(ref, "5.1.9.20"), 1);
  EXPECT_EQ(CheckHardVersion(ref, "5.1.10.5"), 1);
  EXPECT_EQ(CheckHardVersion(ref, "5.2.0.1"), 1);
  EXPECT_EQ(CheckHardVersion(ref, "5.1"), 4);
  EXPECT_EQ(CheckHardVersion(ref, "5.1.x.6"), 1);
  EXPECT_EQ(CheckHardVersion("5.1", "5.1.10.6"), 3);
  EXPECT_EQ(CheckHardVersion("5.1", "anything"), 3);
  EXPECT_TRUE(ErrorLog().empty());
}

TEST_F(Versions, AnOverlongVersionIsLoggedUnderCheckHardVersion) {
  const std::string longVersion = "5.1.10." + std::string(300, '6');
  EXPECT_EQ(CheckHardVersion("5.1.10.6", longVersion), 3);
  EXPECT_FALSE(CheckHardVersionBranch("5.1", longVersion));
  const auto log = ErrorLog();
  ASSERT_EQ(log.size(), 2u);
  for (const auto& line : log)
    EXPECT_NE(line.find(": CheckHardVersion. Exception ERangeError. Exception message: "), std::string::npos) << line;
}

TEST_F(Versions, FileVersionIsReadBackFromTheExecutable) {
  EXPECT_EQ(GetFileVersion(ExecutablePath()), "1.21.50");
  EXPECT_EQ(GetFileVersion("/bin/sh"), "");  // an executable without the record
  EXPECT_EQ(GetFileVersion((Dir() / "missing.exe").string()), "");
  EXPECT_EQ(GetFileVersion(""), "");
  WriteFile(Dir() / "short", "\x7f" "ELF");
  EXPECT_EQ(GetFileVersion((Dir() / "short").string()), "");
  EXPECT_TRUE(ErrorLog().empty());
}

TEST_F(Versions, RecordQueryFindsPathsWhateverTheirBackslashesAndCase) {
  const auto record = BuildVersionRecord({{"\\VarFileInfo\\Translation", std::string("\x19\x04\xE3\x04", 4)},
                                          {"StringFileInfo\\041904e3\\FileVersion", "1.21.0.50"}});
  std::string value;
  ASSERT_TRUE(QueryVersionRecord(record, "\\\\VarFileInfo\\\\Translation", value));
  EXPECT_EQ(value, std::string("\x19\x04\xE3\x04", 4));
  ASSERT_TRUE(QueryVersionRecord(record, "StringFileInfo\\041904E3\\FileVersion", value));
  EXPECT_EQ(value, "1.21.0.50");
  EXPECT_FALSE(QueryVersionRecord(record, "StringFileInfo\\040904b0\\FileVersion", value));
  std::vector<unsigned char> truncated(record.begin(), record.begin() + 30);
  EXPECT_FALSE(QueryVersionRecord(truncated, "StringFileInfo\\041904e3\\FileVersion", value));
}

TEST_F(Versions, DateStampIsTodayAsEightDigits) {
  EXPECT_EQ(DateStamp(), "20261206");
  SetNow({2027, 1, 2, 23, 59, 59, 999});
  EXPECT_EQ(DateStamp(), "20270102");
}

TEST_F(Versions, CmlTimeOfTheWorkedExamples) {
  SYSTEMTIME t{};
  t.wYear = 2026; t.wMonth = 12; t.wDay = 6; t.wHour = 17; t.wMinute = 45; t.wSecond = 12; t.wMilliseconds = 345;
  EXPECT_EQ(Time2CmlUInt64(t, false), 1796579112u);
  EXPECT_EQ(Time2CmlUInt64(t, false), 0x6B159F28u);
  EXPECT_EQ(Time2CmlUInt64(t, true), 1483560296232u);
  EXPECT_EQ(Time2CmlUInt64(t, true) >> 32, 345u);

  SYSTEMTIME epoch{};
  epoch.wYear = 1970; epoch.wMonth = 1; epoch.wDay = 1;
  EXPECT_EQ(Time2CmlUInt64(epoch, false), 0u);
  EXPECT_EQ(Time2CmlUInt64(epoch, true), 0u);

  SYSTEMTIME y2038{};
  y2038.wYear = 2038; y2038.wMonth = 1; y2038.wDay = 19; y2038.wHour = 3; y2038.wMinute = 14; y2038.wSecond = 8;
  EXPECT_EQ(Time2CmlUInt64(y2038, false), 2147483648u);

  EXPECT_EQ(Time2CmlUInt64(SYSTEMTIME{}, false), 0u);  // not a calendar time
  SYSTEMTIME feb30 = epoch;
  feb30.wMonth = 2; feb30.wDay = 30;
  EXPECT_EQ(Time2CmlUInt64(feb30, false), 0u);
}

TEST_F(Versions, DateTimeValueToCalendarRecord) {
  for (double x : {0.0, -1.5}) {
    const SYSTEMTIME zero = DateTime2SystemTime(x);
    EXPECT_EQ(zero.wYear + zero.wMonth + zero.wDay + zero.wHour + zero.wMinute + zero.wSecond + zero.wMilliseconds, 0);
  }
  const SYSTEMTIME t = DateTime2SystemTime(EncodeDateTime({2026, 12, 6, 17, 45, 12, 345}));
  EXPECT_EQ(t.wYear, 2026); EXPECT_EQ(t.wMonth, 12); EXPECT_EQ(t.wDay, 6); EXPECT_EQ(t.wDayOfWeek, 0);
  EXPECT_EQ(t.wHour, 17); EXPECT_EQ(t.wMinute, 45); EXPECT_EQ(t.wSecond, 12); EXPECT_EQ(t.wMilliseconds, 345);
  const SYSTEMTIME late = DateTime2SystemTime(EncodeDateTime({2026, 12, 31, 23, 59, 59, 999}));
  EXPECT_EQ(late.wDay, 31); EXPECT_EQ(late.wHour, 23); EXPECT_EQ(late.wMilliseconds, 999);
  EXPECT_EQ(DateTime2SystemTime(1.0).wYear, 1899);
  EXPECT_EQ(DateTime2SystemTime(1.0).wDay, 31);
}

}  // namespace
}  // namespace brek::test
