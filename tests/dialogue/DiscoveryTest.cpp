// Port discovery as a laptop in the field has it: other serial devices, notices of
// unrelated devices, a port held for a moment, the panel leaving at awkward times.
#include <algorithm>

#include "support/DialogueFixture.h"

namespace brek::test {
namespace {

class Discovery : public DialogueFixture {
 protected:
  int ProbesOf(std::int32_t number) const {
    return static_cast<int>(std::count(panel->probed.begin(), panel->probed.end(), number));
  }
  int VersionQueries() const {
    const auto c = Commands();
    return static_cast<int>(std::count(c.begin(), c.end(), "VERSION?"));
  }
};

TEST_F(Discovery, PortsThatAreNotThePanelsAreNeverOpened) {
  Start({}, false);
  devices->AddPort({"COM3", "", true}, false);   // another maker's adapter
  devices->AddPort({"COM12", "", true}, false);  // a radio port
  panel->Plug();
  Run(300);
  ASSERT_EQ(form->CurrentState, psConnected);
  LoadDemo();
  window.MoneyLittleButton.Click();
  window.MoneyFullButton.Click();
  panel->Unplug();
  Run(20000);  // searching: four ticks of the check
  EXPECT_EQ(form->CurrentState, psWaitConnect);
  panel->Plug();
  Run(300);
  EXPECT_EQ(form->CurrentState, psConnected);
  EXPECT_GT(ProbesOf(7), 0);
  EXPECT_EQ(ProbesOf(3), 0);
  EXPECT_EQ(ProbesOf(12), 0);
}

TEST_F(Discovery, AnUnrelatedDeviceComingAndGoingWhileConnectingLeavesTheSearchRunning) {
  sim::PanelConfig slow;
  slow.replyDelayMs = 300;
  Start(slow);
  Run(50);
  ASSERT_TRUE(panel->Held()) << "connecting: the port is open, the panel not yet answered";
  devices->AddPort({"COM3", "", true});
  Run(20);
  devices->RemovePort("COM3");
  Run(20);
  // The port in use is never probed (it would only find itself held): it stays open.
  const int probes = ProbesOf(7);
  Run(7000);
  EXPECT_EQ(VersionQueries(), 1);
  EXPECT_EQ(form->CurrentState, psConnected);
  EXPECT_EQ(ProbesOf(7), probes) << "nor probed by the check while connected";
  // Another panel's port is not opened while one is in use; names not to be had let go of nothing.
  std::string second = panel->FriendlyName();
  devices->AddPort({"COM9", second.replace(second.find("COM7"), 4, "COM9"), true}, false);
  devices->classDevsFail = true;
  devices->NotifyRemoval();  // a removal notice when the names cannot be had proves nothing either
  Run(5000);
  devices->classDevsFail = false;
  Run(5000);
  EXPECT_TRUE(panel->Held());
  EXPECT_EQ(ProbesOf(9), 0);
  devices->RemovePort("COM9", false);
  // Pulled without a notice, and its hang-up not seen: the check lets go of it.
  window.StartDemoButton.Click();
  Run(10);
  panel->Unplug(false);
  Run(5000);
  EXPECT_FALSE(panel->Held());
  EXPECT_FALSE(form->LoadDemoPending);
  // Its hang-up alone lets go at once; a removal notice after it changes nothing more.
  panel->Plug();
  Run(2000);
  ASSERT_EQ(form->CurrentState, psConnected);
  window.StartDemoButton.Click();
  Run(10);
  const std::size_t errors = ProgramErrorLog().size();
  panel->HangUp();
  Run(1);
  EXPECT_FALSE(panel->Held());
  panel->Unplug();
  Run(10);
  EXPECT_EQ(ProgramErrorLog().size(), errors + 1) << "one disconnect step: one dropped script";
}

TEST_F(Discovery, AnOpeningRefusedOnceIsTriedAgainOnTheNextTick) {
  Start({}, false);
  panel->refuseOpenings = 1;  // a modem manager holds it for a moment
  panel->Plug();
  Run(300);
  EXPECT_EQ(form->CurrentState, psWaitConnect);
  EXPECT_TRUE(form->CheckPortsTimer->Enabled());
  Run(5300);  // no notice: the check alone finds it
  EXPECT_EQ(form->CurrentState, psConnected);
  EXPECT_EQ(panel->Openings(), 1);
  // Held by another program: the probe's answer says so, once, and the port is opened once free.
  panel->Unplug();
  Run(100);
  panel->heldElsewhere = true;
  panel->Plug();
  Run(15000);
  EXPECT_EQ(panel->Openings(), 1);
  ASSERT_EQ(ProgramErrorLog().size(), 1u);
  EXPECT_NE(ProgramErrorLog()[0].find("the panel's port COM7 is held by another program; it is opened once free"),
            std::string::npos);
  panel->heldElsewhere = false;
  Run(5300);
  EXPECT_EQ(form->CurrentState, psConnected);
}

TEST_F(Discovery, ThePanelPulledAndPluggedAgainIsFoundByItsArrival) {
  Connect();
  panel->Unplug();
  Run(100);
  EXPECT_EQ(form->CurrentState, psWaitConnect);
  EXPECT_TRUE(form->CheckPortsTimer->Enabled());
  panel->Plug();
  devices->NotifyRemoval();  // another device's, handled before the panel's port is probed
  Run(300);  // well before the next tick
  EXPECT_EQ(form->CurrentState, psConnected);
}

TEST_F(Discovery, AnEmptyDeviceListStillLetsGoOfAPortThatIsGone) {
  Connect();
  devices->answerNothing = true;
  devices->NotifyRemoval();
  Run(20);
  EXPECT_FALSE(form->DeviceReady);
  EXPECT_FALSE(panel->Held());
  EXPECT_EQ(form->CurrentState, psWaitConnect);
  EXPECT_TRUE(ProgramErrorLog().empty());
}

TEST_F(Discovery, AFailedListingOnARemovalStillEndsTheScriptAndItsTimers) {
  Connect();
  window.StartDemoButton.Click();
  Run(100);
  ASSERT_TRUE(form->ScriptRunning);
  devices->queryError = 21;  // the device list cannot be had
  panel->Unplug();
  Run(50);
  EXPECT_FALSE(form->DeviceReady);
  EXPECT_FALSE(form->ScriptRunning);
  EXPECT_FALSE(form->LoadDemoPending) << "an interrupted script is dropped, not completed";
  EXPECT_FALSE(form->SendCommandTimer->Enabled());
  devices->queryError = 0;
  panel->Plug();
  Run(500);
  EXPECT_EQ(form->CurrentState, psConnected);
  EXPECT_EQ(Count("ARM_IGNORE_TAMPER=1"), 0u);
}

TEST_F(Discovery, NoOneShotTimerOutlivesThePanel) {
  Start();
  Run(50);  // the version answered: the password is due in 100 ms
  ASSERT_TRUE(form->DeviceReady);
  panel->Unplug();
  Run(500);
  for (const auto& l : TrafficLog()) EXPECT_EQ(l.find("AUTH="), std::string::npos) << l;
  TearDown();
  SetUp();
  sim::PanelConfig wrong;
  wrong.password = sim::PasswordMode::Wrong;
  Start(wrong);
  for (int i = 0; i < 500 && Commands().size() < 2; ++i) Run(1);
  Run(20);  // the refusal arrived: its message is due
  ASSERT_EQ(TrafficLog().back().substr(23), " IN:  ERROR: WRONG PASSWORD");
  panel->Unplug();
  Run(500);
  EXPECT_TRUE(ui->messageBoxes.empty()) << "no message about a panel that is gone";
}

TEST_F(Discovery, ThePanelLeavingDuringTheWaitAfterTimeKeepsTheCompletionForItsReturn) {
  Connect();
  bool pulled = false;
  panel->afterWrite = [&](const std::string& bytes) {
    if (!pulled && bytes.rfind("TIME=", 0) == 0) {
      pulled = true;
      panel->Unplug();  // its removal notice arrives inside the 50 ms wait
    }
  };
  window.StartDemoButton.Click();
  Run(10000);
  ASSERT_TRUE(pulled);
  EXPECT_NE(form->CurrentState, psDemoLoaded) << "the payment buttons must not come alive for a panel that is gone";
  EXPECT_FALSE(window.MoneyLittleButton.Enabled());
  EXPECT_TRUE(form->LoadDemoPending);
  const std::size_t before = Commands().size();
  panel->Plug();
  Run(2000);
  EXPECT_EQ(form->CurrentState, psDemoLoaded) << "the settings were written: the return completes them";
  const auto after = CommandsSince(before);
  ASSERT_GE(after.size(), 5u);
  EXPECT_EQ(after[0], "VERSION?");
  EXPECT_EQ(after[3], "ARM_IGNORE_TAMPER=1");
  EXPECT_EQ(after[4].rfind("TIME=", 0), 0u);

  // Pulled and back 5 ms later, both inside that wait: the new opening's ring starts anew,
  // and a long line before the version answer must not be framed from the old offset.
  const std::string longLine(40, 'L');
  std::unique_ptr<Timer> replug;
  pulled = false;
  panel->afterWrite = [&](const std::string& bytes) {
    if (!pulled && bytes.rfind("TIME=", 0) == 0) {
      pulled = true;
      panel->Model().Config().answerFor["VERSION?"] = longLine + "\r\nBrek GSM Main ver=5.1.10.6";
      panel->Unplug();
      replug = ui->CreateTimer(5, true, [&] { panel->Plug(); });
    }
  };
  window.EndDemoButton.Click();
  Run(10000);
  window.StartDemoButton.Click();
  Run(10000);
  ASSERT_TRUE(pulled);
  EXPECT_EQ(form->CurrentState, psDemoLoaded);
  for (const auto& l : TrafficLog())
    if (l.find(" IN:  L") != std::string::npos) {
      EXPECT_EQ(l.substr(l.find(" IN:  ") + 6), longLine) << l;
    }
}

}  // namespace
}  // namespace brek::test
