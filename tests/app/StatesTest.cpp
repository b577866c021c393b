#include "common/Text.h"
#include "scripts/CaptionsList.h"
#include "scripts/Resources.h"
#include "support/FormFixture.h"

namespace brek::test {
namespace {

class States : public FormFixture {
 protected:
  void Show(TProgrammState s, std::int32_t account = 0) {
    form->CurrentState = s;
    form->AccountNumber = account;
    form->ShowCurrentState();
  }
  std::string Buttons() {
    std::string out;
    for (TButton* b : {&window.StartDemoButton, &window.MoneyLittleButton, &window.MoneyOffButton,
                       &window.MoneyFullButton, &window.EndDemoButton})
      out += b->Enabled() ? '1' : '0';
    return out;
  }
  bool PanelIdle() {
    return window.ObjectsTitleLabel.HTMLText() == Greyed(GetCaption("ObjectsTitle_Caption")) &&
           window.CallCenterTitleLabel.HTMLText() == Greyed(GetCaption("CallCenterTitle_Caption")) &&
           window.NubrixTitleLabel.HTMLText() == Greyed(GetCaption("NubrixTitle_Caption")) &&
           window.ObjectsValueLabel.HTMLText() == GreyDashes() &&
           window.CallCenterValueLabel.HTMLText() == GreyDashes() && window.NubrixValueLabel.HTMLText() == GreyDashes();
  }
};

TEST_F(States, EachStateShowsItsTextsButtonsAndPanel) {
  Start();
  struct Row {
    TProgrammState state;
    const char* prefix;
    const char* buttons;  // Start, Little, Off, Full, End
    bool idle;
  } rows[] = {
      {psWaitConnect, "WaitConnect", "00000", true}, {psWrongVersion, "WrongVersion", "00000", true},
      {psConnected, "Connected", "10001", true},     {psLoadDemo, "LoadDemo", "00000", true},
      {psDemoLoaded, "DemoLoaded", "01101", false},  {psMoneyLittle, "MoneyLittle", "00111", false},
      {psMoneyOff, "MoneyOff", "01011", false},      {psMoneyFull, "MoneyFull", "01101", false},
      {psLoadFtdef, "LoadFtdef", "00000", true},
  };
  for (const Row& r : rows) {
    Show(r.state, 5678);
    EXPECT_EQ(window.ProgrammStateInfoLabel.HTMLText(), GetCaption(std::string(r.prefix) + "_StateInfo")) << r.prefix;
    EXPECT_EQ(window.UserActionInfoLabel.HTMLText(), GetCaption(std::string(r.prefix) + "_ActionInfo")) << r.prefix;
    EXPECT_EQ(Buttons(), r.buttons) << r.prefix;
    EXPECT_EQ(PanelIdle(), r.idle) << r.prefix;
  }
  EXPECT_EQ(window.UserActionInfoLabel.HTMLText(), "");  // LoadFtdef has no action text
  EXPECT_TRUE(ProgramErrorLog().empty());
}

TEST_F(States, ActivePanelShowsTheAccountNumbers) {
  Start();
  Show(psDemoLoaded, 7);
  EXPECT_EQ(window.ObjectsTitleLabel.HTMLText(), W("<B>Объекты</B>"));
  EXPECT_EQ(window.ObjectsValueLabel.HTMLText(), "7, 8");
  EXPECT_EQ(window.CallCenterValueLabel.HTMLText(), GetCaption("CallCenterValue_Caption"));
  EXPECT_EQ(window.NubrixValueLabel.HTMLText(), "demo+0007@nb.test  |  demo0007");
  Show(psMoneyFull, 9999);
  EXPECT_EQ(window.ObjectsValueLabel.HTMLText(), "9999, 10000");
  EXPECT_EQ(window.NubrixValueLabel.HTMLText(), "demo+9999@nb.test  |  demo9999");
  // Back to a writing state: greyed titles and dashes again.
  Show(psLoadFtdef, 9999);
  EXPECT_TRUE(PanelIdle());
}

TEST_F(States, RepeatedCallsGiveTheSameWindowAndChangeNoField) {
  Start();
  Show(psMoneyOff, 42);
  const std::string state = window.ProgrammStateInfoLabel.HTMLText(), value = window.ObjectsValueLabel.HTMLText();
  const std::string buttons = Buttons();
  form->ShowCurrentState();
  EXPECT_EQ(window.ProgrammStateInfoLabel.HTMLText(), state);
  EXPECT_EQ(window.ObjectsValueLabel.HTMLText(), value);
  EXPECT_EQ(Buttons(), buttons);
  EXPECT_EQ(form->CurrentState, psMoneyOff);
  EXPECT_EQ(form->AccountNumber, 42);
}

TEST_F(States, AStateOutsideTheEnumerationChangesNothing) {
  Start();
  Show(psConnected);
  const std::string buttons = Buttons();
  form->CurrentState = static_cast<TProgrammState>(9);
  form->ShowCurrentState();
  EXPECT_EQ(Buttons(), buttons);
  EXPECT_EQ(window.ProgrammStateInfoLabel.HTMLText(), GetCaption("Connected_StateInfo"));
}

TEST_F(States, ACaptionThatIsNoUsableFormatIsLoggedAndTheRestSkipped) {
  SetResourceLookup([](std::string_view name, std::string_view type) -> std::optional<std::string> {
    auto text = LoadOwnModuleResource(name, type);
    if (text && SameText(name, kCaptionsResource)) {
      const auto at = text->find("ObjectsValue_Caption=%d, %d");
      text->replace(at, 27, "ObjectsValue_Caption=%s %d %d");
    }
    return text;
  });
  Start();
  Show(psDemoLoaded, 12);
  const auto log = ProgramErrorLog();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find(": TBrekGSMDemoMainForm.ShowCurrentState. Exception EConvertError. Exception message: "),
            std::string::npos);
  EXPECT_EQ(Buttons(), "01101");  // written before the failing step
  EXPECT_EQ(window.NubrixValueLabel.HTMLText(), GreyDashes());  // after it: untouched
}

TEST_F(States, AMissingCaptionShowsFourDots) {
  SetResourceLookup([](std::string_view name, std::string_view type) -> std::optional<std::string> {
    auto text = LoadOwnModuleResource(name, type);
    if (text && SameText(name, kCaptionsResource)) text->replace(text->find("Connected_StateInfo"), 9, "Xonnected");
    return text;
  });
  Start();
  Show(psConnected);
  EXPECT_EQ(window.ProgrammStateInfoLabel.HTMLText(), "....");
}

}  // namespace
}  // namespace brek::test
