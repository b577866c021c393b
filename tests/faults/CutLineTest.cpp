// The line cut at every step of a demonstration, one run per step, in virtual time: after
// each cut the window shows a state that fits what really happened, no script is shown as
// written that the panel did not get, and once the panel is back the next demonstration
// succeeds.
#include <algorithm>

#include "support/DialogueFixture.h"

namespace brek::test {
namespace {

// The commands of a whole demonstration: connecting (3), the demo settings and their
// completion after the restart (5), the three situations, the factory settings (3) and
// their completion after the restart (3).
std::size_t WholeDemonstrationLength() {
  static const std::size_t n = 3 + DialogueFixture::StartScript(3456).size() + 5 + 3 + 3 + 3;
  return n;
}

struct CutPoint {
  std::size_t heard;     // the cut comes once the panel has heard this many commands
  std::uint32_t lateMs;  // and this much later (0: at once; otherwise inside a wait)
};

std::string Name(const testing::TestParamInfo<CutPoint>& p) {
  return "after" + std::to_string(p.param.heard) + "plus" + std::to_string(p.param.lateMs) + "ms";
}

class CutLine : public DialogueFixture, public testing::WithParamInterface<CutPoint> {
 protected:
  // Clicks through the demonstration, stepping time 1 ms at a time so the cut lands
  // exactly where asked; stops at the cut.
  bool RunDemonstrationUntil(std::size_t heard, std::uint32_t lateMs) {
    auto reached = [&] { return Commands().size() >= heard; };
    auto step = [&](std::uint64_t ms) {
      for (std::uint64_t i = 0; i < ms; ++i) {
        if (reached()) return true;
        Run(1);
      }
      return reached();
    };
    const std::pair<TButton*, std::uint64_t> clicks[] = {{nullptr, 300},
                                                          {&window.StartDemoButton, 10000},
                                                          {&window.MoneyLittleButton, 200},
                                                          {&window.MoneyOffButton, 200},
                                                          {&window.MoneyFullButton, 200},
                                                          {&window.EndDemoButton, 10000}};
    for (const auto& [button, ms] : clicks) {
      if (button) {
        lastClick = button;
        lastClickAt = Commands().size();
        button->Click();
      }
      if (step(ms)) {
        Run(lateMs);
        return true;
      }
    }
    return false;
  }

  // The script of the last click was sent whole, "reset" included, and the panel's return
  // has not completed it yet (its last line, "TIME=" or "ZOLVA_SN?", has no answer in the
  // traffic log): the program then waits for the panel.
  bool WaitingForTheRestart() const {
    if (lastClick != &window.StartDemoButton && lastClick != &window.EndDemoButton) return false;
    const auto since = CommandsSince(lastClickAt);
    if (std::find(since.begin(), since.end(), "reset") == since.end()) return false;
    const std::string last = lastClick == &window.StartDemoButton ? " OUT: TIME=" : " OUT: ZOLVA_SN?";
    const auto log = TrafficLog();
    auto at = std::find_if(log.rbegin(), log.rend(), [](const std::string& l) { return l.substr(23) == " OUT: reset"; });
    const auto sent = std::find_if(log.rbegin(), at, [&](const std::string& l) { return l.substr(23).rfind(last, 0) == 0; });
    return sent == at || std::none_of(log.rbegin(), sent, [](const std::string& l) { return l.substr(23, 5) == " IN: "; });
  }

  TButton* lastClick = nullptr;
  std::size_t lastClickAt = 0;
};

TEST_P(CutLine, TheStateFitsWhatHappenedAndTheNextDemonstrationSucceeds) {
  const CutPoint cut = GetParam();
  Start();
  ASSERT_TRUE(RunDemonstrationUntil(cut.heard, cut.lateMs)) << "the demonstration has fewer commands";
  const bool waiting = WaitingForTheRestart();
  const bool demo = lastClick == &window.StartDemoButton;
  const std::size_t heardAtCut = Commands().size();
  if (panel->Present()) panel->Unplug();
  Run(500);
  const TProgrammState whileOut = !waiting ? psWaitConnect : demo ? psLoadDemo : psLoadFtdef;
  EXPECT_EQ(static_cast<int>(form->CurrentState), static_cast<int>(whileOut))
      << "cut after " << heardAtCut << (waiting ? ", the script written, waiting for the restart" : "");
  EXPECT_FALSE(form->DeviceReady);

  // Back in (a panel that was restarting comes back by itself).
  if (!panel->Present()) panel->Plug();
  Run(3000);
  const TProgrammState back = waiting && demo ? psDemoLoaded : psConnected;
  EXPECT_EQ(static_cast<int>(form->CurrentState), static_cast<int>(back)) << "after the panel came back";
  if (form->CurrentState == psDemoLoaded) {
    const auto since = CommandsSince(lastClickAt);
    const auto script = StartScript(3456);
    EXPECT_TRUE(since.size() >= script.size() && std::equal(script.begin(), script.end(), since.begin()))
        << "shown as loaded without the whole script";
    window.EndDemoButton.Click();
    Run(10000);
    ASSERT_EQ(form->CurrentState, psConnected);
  }

  // The next demonstration runs whole.
  const std::size_t before = Commands().size();
  window.StartDemoButton.Click();
  Run(10000);
  ASSERT_EQ(form->CurrentState, psDemoLoaded);
  const auto again = CommandsSince(before);
  const auto script = StartScript(3456);
  ASSERT_GE(again.size(), script.size());
  EXPECT_TRUE(std::equal(script.begin(), script.end(), again.begin())) << "the script again, whole and in order";
  EXPECT_EQ(again.back().rfind("TIME=", 0), 0u);
}

std::vector<CutPoint> AllCutPoints() {
  std::vector<CutPoint> points;
  const std::size_t n = WholeDemonstrationLength();
  for (std::size_t heard = 0; heard <= n; ++heard)
    for (std::uint32_t late : {0u, 25u, 400u}) points.push_back({heard, late});
  return points;
}

INSTANTIATE_TEST_SUITE_P(EveryStep, CutLine, testing::ValuesIn(AllCutPoints()), Name);

class Uncut : public DialogueFixture {};

TEST_F(Uncut, TheCutPointsCoverTheWholeDemonstration) {
  Start();
  Run(300);
  window.StartDemoButton.Click();
  Run(10000);
  for (TButton* b : {&window.MoneyLittleButton, &window.MoneyOffButton, &window.MoneyFullButton}) {
    b->Click();
    Run(200);
  }
  window.EndDemoButton.Click();
  Run(10000);
  EXPECT_EQ(form->CurrentState, psConnected);
  EXPECT_EQ(Commands().size(), WholeDemonstrationLength());
}

}  // namespace
}  // namespace brek::test
