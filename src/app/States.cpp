// The demo states and what the window shows in each.
#include <array>

#include "app/BrekGSMDemoMain.h"
#include "common/Format.h"
#include "common/Guard.h"
#include "scripts/CaptionsList.h"

namespace brek {
namespace {

struct StateView {
  const char* prefix;
  bool start, little, off, full, end;
  bool activePanel;
};

constexpr std::array<StateView, 9> kStates = {{
    {"WaitConnect", false, false, false, false, false, false},
    {"WrongVersion", false, false, false, false, false, false},
    {"Connected", true, false, false, false, true, false},
    {"LoadDemo", false, false, false, false, false, false},
    {"DemoLoaded", false, true, true, false, true, true},
    {"MoneyLittle", false, false, true, true, true, true},
    {"MoneyOff", false, true, false, true, true, true},
    {"MoneyFull", false, true, true, false, true, true},
    {"LoadFtdef", false, false, false, false, false, false},
}};

}  // namespace

void TBrekGSMDemoMainForm::ShowCurrentState() {
  Guarded("TBrekGSMDemoMainForm.ShowCurrentState", [&] {
    if (CurrentState >= kStates.size()) return;
    const std::pair shown{CurrentState, AccountNumber};
    if (Shown_ == shown) return;
    Shown_.reset();  // until the whole window shows it
    const StateView& v = kStates[CurrentState];
    MainWindowControls& w = W();
    w.ProgrammStateInfoLabel.SetHTMLText(GetCaption(std::string(v.prefix) + "_StateInfo"));
    w.UserActionInfoLabel.SetHTMLText(GetCaption(std::string(v.prefix) + "_ActionInfo"));
    w.StartDemoButton.SetEnabled(v.start);
    w.MoneyLittleButton.SetEnabled(v.little);
    w.MoneyOffButton.SetEnabled(v.off);
    w.MoneyFullButton.SetEnabled(v.full);
    w.EndDemoButton.SetEnabled(v.end);
    if (!v.activePanel) {
      w.ObjectsTitleLabel.SetHTMLText(Greyed(GetCaption("ObjectsTitle_Caption")));
      w.CallCenterTitleLabel.SetHTMLText(Greyed(GetCaption("CallCenterTitle_Caption")));
      w.NubrixTitleLabel.SetHTMLText(Greyed(GetCaption("NubrixTitle_Caption")));
      w.ObjectsValueLabel.SetHTMLText(GreyDashes());
      w.CallCenterValueLabel.SetHTMLText(GreyDashes());
      w.NubrixValueLabel.SetHTMLText(GreyDashes());
      Shown_ = shown;
      return;
    }
    w.ObjectsTitleLabel.SetHTMLText(GetCaption("ObjectsTitle_Caption"));
    w.CallCenterTitleLabel.SetHTMLText(GetCaption("CallCenterTitle_Caption"));
    w.NubrixTitleLabel.SetHTMLText(GetCaption("NubrixTitle_Caption"));
    const std::int64_t account = AccountNumber;
    w.ObjectsValueLabel.SetHTMLText(Format(GetCaption("ObjectsValue_Caption"), {account, account + 1}));
    w.CallCenterValueLabel.SetHTMLText(GetCaption("CallCenterValue_Caption"));
    w.NubrixValueLabel.SetHTMLText(Format(GetCaption("NubrixValue_Caption"), {account, account}));
    Shown_ = shown;
  });
}

}  // namespace brek
