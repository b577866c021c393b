// The demo states and what the window shows in each.
#include <algorithm>
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

namespace {
// A fast panel is done before a bar would be seen; an error stays this long on the taskbar.
constexpr unsigned kProgressAfterMs = 1000;
constexpr unsigned kProgressErrorMs = 2000;
}  // namespace

void TBrekGSMDemoMainForm::ShowScriptProgress() {
  Guarded("TBrekGSMDemoMainForm.ShowScriptProgress", [&] {
    TProgressBar& bar = W().ScriptProgressBar;
    const bool written = ScriptRunning || LoadDemoPending || LoadFtdefPending;
    if (!written || (CurrentState != psLoadDemo && CurrentState != psLoadFtdef)) {
      if (bar.GetMode() != TProgressBar::Mode::Error) bar.Hide();
      return;
    }
    const std::uint64_t ran = NowMs() - ScriptStartedAtMs_;
    if (ran < kProgressAfterMs) {
      if (ProgressTimer && !ProgressTimer->Enabled()) {
        ProgressTimer->SetInterval(static_cast<unsigned>(kProgressAfterMs - ran));
        ProgressTimer->SetEnabled(true);
      }
      return;
    }
    // The command on its way is not done yet; after "reset" the restart and the return are
    // the last two steps.
    const int sent = static_cast<int>(ScriptSent_.size());
    int done = ScriptRunning ? std::max(sent - 1, 0) : ScriptLength_;
    auto mode = TProgressBar::Mode::Normal;
    if (Restart_.waiting) {
      done = ScriptLength_ + (Restart_.back ? 1 : 0);
      if (!Restart_.back) mode = TProgressBar::Mode::Paused;
    }
    bar.Set(true, done, ScriptLength_ + 2, mode);
  });
}

void TBrekGSMDemoMainForm::ShowScriptDropped() {
  // The taskbar shows the failure for a moment; the window's bar goes with the state.
  TProgressBar& bar = W().ScriptProgressBar;
  if (!bar.Visible() || !ProgressTimer) return;
  bar.Set(false, bar.Position(), bar.Max(), TProgressBar::Mode::Error);
  ProgressTimer->SetEnabled(false);
  ProgressTimer->SetInterval(kProgressErrorMs);
  ProgressTimer->SetEnabled(true);
}

void TBrekGSMDemoMainForm::OnProgressTimer() {
  ProgressTimer->SetEnabled(false);
  TProgressBar& bar = W().ScriptProgressBar;
  if (bar.GetMode() == TProgressBar::Mode::Error) bar.Hide();
  ShowScriptProgress();
}

void TBrekGSMDemoMainForm::ShowCurrentState() {
  ShowScriptProgress();
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
