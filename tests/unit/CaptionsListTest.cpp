#include "common/CommonUtils.h"
#include "common/Text.h"
#include "scripts/CaptionsList.h"
#include "scripts/Resources.h"
#include "support/TestSupport.h"

namespace brek::test {
namespace {

class Captions : public Sandbox {
 protected:
  void TearDown() override {
    CaptionsList.reset();
    Sandbox::TearDown();
  }
  std::string Stamp() const { return ErrorLogTimeStamp(NowLocal()); }
};

TEST_F(Captions, BeforeTheTableExistsEveryKeyIsEmptyAndNothingIsLogged) {
  ASSERT_EQ(CaptionsList, nullptr);
  EXPECT_EQ(GetCaption("StartDemoButton_Caption"), "");
  EXPECT_EQ(GetCaption("NoSuchKey"), "");
  EXPECT_TRUE(ErrorLog().empty());
}

TEST_F(Captions, LookupsIgnoreLetterCaseAndReturnStrippedTexts) {
  CaptionsList = std::make_unique<TCaptionsList>();
  EXPECT_EQ(GetCaption("DemoLoaded_ActionInfo"), W("Выберите ситуацию на объекте:"));
  EXPECT_EQ(GetCaption("startdemobutton_caption"), W("Записать демо-настройки"));
  EXPECT_EQ(GetCaption("WaitConnect_ActionInfo"), "");
  EXPECT_EQ(GetCaption("LoadDemo_ActionInfo"), "");  // one blank in the resource
  EXPECT_EQ(GetCaption("LoadFtdef_ActionInfo"), "");
  EXPECT_EQ(GetCaption("ObjectsValue_Caption"), "%d, %d");
  EXPECT_EQ(GetCaption("ObjectsTitle_Caption"), W("<B>Объекты</B>"));
  EXPECT_EQ(GetCaption(""), "");
  EXPECT_TRUE(ErrorLog().empty());
}

TEST_F(Captions, EveryKeyOfTheWindowIsPresent) {
  CaptionsList = std::make_unique<TCaptionsList>();
  const char* prefixes[] = {"WaitConnect", "WrongVersion", "Connected",   "LoadDemo", "DemoLoaded",
                            "MoneyLittle", "MoneyOff",     "MoneyFull",   "LoadFtdef"};
  for (const char* p : prefixes) {
    EXPECT_NE(GetCaption(std::string(p) + "_StateInfo"), kMissingCaption) << p;
    EXPECT_NE(GetCaption(std::string(p) + "_ActionInfo"), kMissingCaption) << p;
  }
  const std::string loaded = GetCaption("DemoLoaded_StateInfo");
  for (const char* p : {"MoneyLittle", "MoneyOff", "MoneyFull"})
    EXPECT_EQ(GetCaption(std::string(p) + "_StateInfo"), loaded);
  for (const char* k : {"StartDemoButton_Caption", "EndDemoButton_Caption", "MoneyLittleButton_Caption",
                        "MoneyOffButton_Caption", "MoneyFullButton_Caption", "CallCenterTitle_Caption",
                        "NubrixTitle_Caption"})
    EXPECT_NE(GetCaption(k), kMissingCaption) << k;
  const std::string callCentre = GetCaption("CallCenterValue_Caption");
  EXPECT_EQ(callCentre[0], '+');
  EXPECT_NE(callCentre.find(W(", доб.")), std::string::npos);
  const std::string cloud = GetCaption("NubrixValue_Caption");
  EXPECT_NE(cloud.find("+%04.4d@"), std::string::npos);
  EXPECT_NE(cloud.find("  |  demo%04.4d"), std::string::npos);
  EXPECT_TRUE(ErrorLog().empty());
}

TEST_F(Captions, AMissingKeyShowsFourDotsAndIsLoggedOncePerLookup) {
  CaptionsList = std::make_unique<TCaptionsList>();
  EXPECT_EQ(GetCaption("NoSuchKey"), "....");
  EXPECT_EQ(GetCaption("NoSuchKey"), "....");
  const std::string line = Stamp() + ": TCaptionsList: Unable to find string for StringIdent NoSuchKey";
  EXPECT_EQ(ErrorLog(), (std::vector<std::string>{line, line}));
}

TEST_F(Captions, TheResourceIsWindows1251WithCrLfLinesAndOneSection) {
  const std::string text = LoadModuleResource(kCaptionsResource, kTextResourceType).value();
  EXPECT_NE(text.find(W("StartDemoButton_Caption=Записать демо-настройки\r\n")), std::string::npos);
  EXPECT_NE(text.find("LoadDemo_ActionInfo= \r\n"), std::string::npos);
  EXPECT_EQ(text.find("\n\n"), std::string::npos);
  EXPECT_EQ(text.find('\0'), std::string::npos);
  EXPECT_NE(text.find(W("; Названия кнопок")), std::string::npos);
  const IniTable t = IniTable::Parse(text);
  ASSERT_EQ(t.Sections().size(), 1u);
  EXPECT_EQ(t.Sections()[0].name, "Caption Strings");
  EXPECT_EQ(t.Sections()[0].entries.size(), 29u);
}

TEST_F(Captions, AMissingResourceGivesAnEmptyTableThatAnswersFourDots) {
  SetResourceLookup([](std::string_view, std::string_view) { return std::nullopt; });
  CaptionsList = std::make_unique<TCaptionsList>();
  EXPECT_EQ(GetCaption("StartDemoButton_Caption"), "....");
  EXPECT_EQ(ErrorLog().size(), 1u);
}

}  // namespace
}  // namespace brek::test
