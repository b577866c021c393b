#pragma once
// A main window controller on the virtual toolkit, with its program folder in the sandbox.
#include <memory>

#include "app/BrekGSMDemoMain.h"
#include "support/TestSupport.h"
#include "support/VirtualToolkit.h"
#include "ui/MainWindowLayout.h"

namespace brek::test {

class FormFixture : public Sandbox {
 protected:
  void TearDown() override {
    form.reset();
    ui.reset();
    Sandbox::TearDown();
  }
  // Creates the window (OnFormCreate) and, unless told otherwise, runs the start-up timer.
  void Start(bool runStartupTimer = true) {
    form.reset();
    ui.reset();
    ui = std::make_unique<VirtualToolkit>();
    form = std::make_unique<TBrekGSMDemoMainForm>(FormContext{ui.get(), &window, ExePath()});
    if (runStartupTimer) ui->Advance(1);
  }
  std::string ExePath() const { return (Dir() / "BrekGSMDemo").string(); }
  // After start-up the error log lives in the program folder.
  std::vector<std::string> ProgramErrorLog() const { return ErrorLogLines(Dir() / "ErrorLog.log"); }

  MainWindowControls window;
  std::unique_ptr<VirtualToolkit> ui;
  std::unique_ptr<TBrekGSMDemoMainForm> form;
};

}  // namespace brek::test
