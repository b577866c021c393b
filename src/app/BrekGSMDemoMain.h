#pragma once
// TBrekGSMDemoMainForm: the one window controller. Start-up, settings and teardown
// (Startup.cpp), demo states (States.cpp).
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/ProgramState.h"
#include "serial/PortRec.h"
#include "ui/MainWindowLayout.h"
#include "ui/Toolkit.h"

namespace brek {

class TCommandsList;

// What the program entry hands the controller.
struct FormContext {
  Toolkit* toolkit = nullptr;
  MainWindowControls* window = nullptr;
  std::string exePath;  // the program's executable: its version and its folder
};

class TBrekGSMDemoMainForm {
 public:
  // Creating the window runs OnFormCreate; destroying it runs OnFormDestroy.
  explicit TBrekGSMDemoMainForm(FormContext context);
  ~TBrekGSMDemoMainForm();
  TBrekGSMDemoMainForm(const TBrekGSMDemoMainForm&) = delete;
  TBrekGSMDemoMainForm& operator=(const TBrekGSMDemoMainForm&) = delete;

  // ---- Start-up, settings and lifecycle ----
  void OnFormCreate();
  void OnStartProgramTimer(Timer* sender);
  void OnFormDestroy();
  void OnApplicationException(const std::exception& e);
  void InitCaption();
  void SetStartState();
  void ReadIniFile();
  void ShowMessageBox(const std::string& text, unsigned flags);

  // ---- Demo states ----
  void ShowCurrentState();

  // ---- Buttons ----
  void OnStartDemoButtonClick();
  void OnEndDemoButtonClick();
  void OnMoneyLittleButtonClick();
  void OnMoneyOffButtonClick();
  void OnMoneyFullButtonClick();
  void OnSendCommandTimer();

  // ---- Port discovery and hot-plug ----
  void CreateRegister();
  void SetPortDefault();
  void RefreshComPorts(bool connect);
  void OnCheckPortsTimer();
  void ClearPortList();

  // The program's folder, with its trailing separator.
  const std::string& ProgramFolder() const { return ProgramFolder_; }

  // ---- Fields (declaration order of the window) ----
  std::vector<std::unique_ptr<TPortRec>> PortList;
  std::unique_ptr<Timer> CheckPortsTimer;
  bool DeviceReady = false;
  std::int32_t OpenPortNumber = 0;
  std::string FirmwareVersion;
  TProgrammState CurrentState = psWaitConnect;
  std::vector<std::uint8_t> InputLine;
  std::int32_t InputLineLength = 0;
  std::string LastCommand;
  std::string ReplyKey;
  bool ControllerLogEnabled = false;
  std::string ControllerLogFileName;
  bool ScriptRunning = false;
  std::unique_ptr<Timer> SendCommandTimer;
  std::unique_ptr<TCommandsList> CommandsList;
  bool LoadDemoPending = false;
  bool LoadFtdefPending = false;
  std::int32_t SerialNumber = 0;
  std::int32_t AccountNumber = 0;
  bool UsePassword = false;

 private:
  Toolkit& Ui() const { return *Context_.toolkit; }
  MainWindowControls& W() const { return *Context_.window; }

  void DestroyPort();

  FormContext Context_;
  std::vector<std::unique_ptr<Timer>> OneShotTimers_;
  std::string ProgramFolder_;
  std::unique_ptr<Timer> StartProgramTimer_;
  bool Destroyed_ = false;
};

// Fixed texts of the program (Windows-1251).
const std::string& MessageBoxCaption();
const std::string& NoStartCommandsMessage();
// "<FONT color="#96938D">%s</FONT>" and the grey dashes.
std::string Greyed(const std::string& text);
const std::string& GreyDashes();

}  // namespace brek
