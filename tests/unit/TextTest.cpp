#include "common/Cp1251.h"
#include "common/IniText.h"
#include "common/Profile.h"
#include "common/Text.h"
#include "support/TestSupport.h"

namespace brek::test {
namespace {

TEST(Cp1251, RussianLettersAndPunctuationRoundTrip) {
  const std::string cp = Utf8ToCp1251("Брек GSM: демонстрация работы. Ёё №—");
  EXPECT_EQ(static_cast<unsigned char>(cp[0]), 0xC1);  // Б
  EXPECT_EQ(cp.substr(cp.size() - 5), std::string("\xA8\xB8 \xB9\x97"));
  EXPECT_EQ(Cp1251ToUtf8(cp), "Брек GSM: демонстрация работы. Ёё №—");
  EXPECT_EQ(Cp1251ToUtf16(std::string("\xC0\xFF\x97", 3)), u"Ая—");
  EXPECT_EQ(Utf16ToCp1251(u"Ая—"), std::string("\xC0\xFF\x97", 3));
}

TEST(Cp1251, EveryByteSurvivesTheRoundTripAndUnknownCharactersBecomeQuestionMarks) {
  std::string all;
  for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(Utf8ToCp1251(Cp1251ToUtf8(all)), all);
  EXPECT_EQ(Utf8ToCp1251("日本"), "??");
  EXPECT_EQ(Utf8ToCp1251(std::string("\xD0", 1)), "?");  // cut in the middle of a character
}

TEST(Text, TrimRemovesControlCharactersAndBlanksOnly) {
  EXPECT_EQ(Trim("\t SIM_CHANNELS=1,G \r\n"), "SIM_CHANNELS=1,G");
  EXPECT_EQ(Trim(std::string("\x01\x20\x21\x20", 4)), "!");
  EXPECT_EQ(Trim("   "), "");
  EXPECT_EQ(Trim(W(" Брек ")), W("Брек"));  // bytes above 0x7F are text
}

TEST(Text, IntegerConversionIsStrictAndRangeChecked) {
  EXPECT_EQ(TryStrToInt("123456"), 123456);
  EXPECT_EQ(TryStrToInt("-1"), -1);
  EXPECT_EQ(TryStrToInt("+7"), 7);
  EXPECT_EQ(TryStrToInt("  42"), 42);
  EXPECT_EQ(TryStrToInt("2147483647"), 2147483647);
  EXPECT_EQ(TryStrToInt("-2147483648"), -2147483647 - 1);
  EXPECT_FALSE(TryStrToInt("2147483648"));
  EXPECT_FALSE(TryStrToInt("99999999999999999999"));
  EXPECT_FALSE(TryStrToInt(""));
  EXPECT_FALSE(TryStrToInt("-"));
  EXPECT_FALSE(TryStrToInt("12 "));
  EXPECT_FALSE(TryStrToInt("1x"));
  EXPECT_EQ(StrToIntDef("x", 0), 0);
  EXPECT_THROW(StrToInt("NOT SET"), std::exception);
}

TEST(Text, LinesSplitAtCrLfLoneCrAndLoneLf) {
  EXPECT_EQ(SplitLines("a\r\nb\nc\rd"), (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_EQ(SplitLines("a\n"), (std::vector<std::string>{"a"}));
  EXPECT_EQ(SplitLines("a\n\n"), (std::vector<std::string>{"a", ""}));
  EXPECT_EQ(SplitLines("\r\n\r\n"), (std::vector<std::string>{"", ""}));
  EXPECT_EQ(SplitLines("a\n\rb"), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_TRUE(SplitLines("").empty());
}

TEST(IniText, SectionsKeysCommentsAndStripping) {
  const IniTable t = IniTable::Parse(
      "before=dropped\r\n"
      "; comment\r\n"
      "  [ Caption Strings ]  \r\n"
      "  Key One  =  value with = sign  \r\n"
      "NoEquals\r\n"
      ";Hidden=1\r\n"
      "Empty=\r\n"
      "Blank= \r\n"
      "[Other]\n"
      "Key One=other\n");
  ASSERT_NE(t.Find("caption strings", "KEY ONE"), nullptr);
  EXPECT_EQ(*t.Find("caption strings", "KEY ONE"), "value with = sign");
  EXPECT_EQ(*t.Find("Other", "key one"), "other");
  EXPECT_EQ(t.Find("Caption Strings", "before"), nullptr);
  EXPECT_EQ(t.Find("Caption Strings", "NoEquals"), nullptr);
  EXPECT_EQ(t.Find("Caption Strings", "Hidden"), nullptr);
  EXPECT_EQ(*t.Find("Caption Strings", "Empty"), "");
  EXPECT_EQ(*t.Find("Caption Strings", "Blank"), "");
}

class Profile : public Sandbox {};

TEST_F(Profile, ValuesByTheProfileRules) {
  const auto file = (Dir() / "BrekGSMDemo.ini").string();
  WriteFile(file,
            "[programmset]\r\n"
            "controllerlogfilename = \"D:\\Logs\\Panel.txt\"\r\n"
            "ErrorLogFileName=" + std::string(3000, 'x') + "\r\n");
  EXPECT_EQ(ReadProfileString(file, "ProgrammSet", "ControllerLogFileName", ""), "D:\\Logs\\Panel.txt");
  EXPECT_EQ(ReadProfileString(file, "ProgrammSet", "ErrorLogFileName", "").size(), 2047u);
  EXPECT_EQ(ReadProfileString(file, "ProgrammSet", "Missing", "def"), "def");
  EXPECT_EQ(ReadProfileString(file, "Other", "ControllerLogFileName", ""), "");
  EXPECT_EQ(ReadProfileString((Dir() / "none.ini").string(), "ProgrammSet", "ErrorLogFileName", "d"), "d");
}

}  // namespace
}  // namespace brek::test
