// The Win32 platform calls under Wine: the module's resources, the profile reader, the
// opening of a port that does not exist and the toolkit's timers. (The version block:
// unit_tests under Wine.)
#include <fstream>
#include <iterator>

#include "common/Profile.h"
#include "common/win32/WidePath.h"
#include "scripts/Resources.h"
#include "serial/ComPortDrv.h"
#include "support/TestSupport.h"
#include "ui/win32/MainWindow.h"
#include "ui/win32/Win32Toolkit.h"

#include <windows.h>
#include <commctrl.h>
#include <shobjidl.h>
#include <oleacc.h>
#undef INVALID_HANDLE_VALUE  // the driver's own constant, not the system's macro

namespace brek::test {
namespace {

class Win32Platform : public Sandbox {};
class Win32Window : public Sandbox {};  // needs a display: run by on-display.sh

std::string SourceFile(const char* relative) {
  std::ifstream f(std::string(BREK_SOURCE_DIR) + "/" + relative, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

TEST_F(Win32Platform, TheTextResourcesAreFoundByNameWithTheirExactBytes) {
  const auto start = LoadOwnModuleResource("BREKGSMDEMOSTARTCMD", "TEXT");
  ASSERT_TRUE(start.has_value());
  EXPECT_EQ(*start, SourceFile("src/scripts/resources/BREKGSMDEMOSTARTCMD.txt"));
  const auto captions = LoadOwnModuleResource("brekgsmdemocaptions", "text");  // names ignore case
  ASSERT_TRUE(captions.has_value());
  EXPECT_EQ(*captions, SourceFile("src/scripts/resources/BREKGSMDEMOCAPTIONS.ini"));
  ASSERT_TRUE(LoadOwnModuleResource("BREKGSMDEMOENCMD", "TEXT").has_value());
  EXPECT_FALSE(LoadOwnModuleResource("NOSUCHRESOURCE", "TEXT").has_value());
  EXPECT_FALSE(LoadOwnModuleResource("BREKGSMDEMOENCMD", "RCDATA").has_value());
}

TEST_F(Win32Platform, ProfileStringsComeFromTheSystemCall) {
  const std::string ini = (Dir() / "BrekGSMDemo.ini").string();
  WriteFile(ini, "[ProgrammSet]\r\nControllerLogFileName=\"C:\\logs\\Panel.txt\"\r\nErrorLogFileName=x\r\n");
  EXPECT_EQ(ReadProfileString(ini, "programmset", "CONTROLLERLOGFILENAME", "d"), "C:\\logs\\Panel.txt");
  EXPECT_EQ(ReadProfileString(ini, "ProgrammSet", "Missing", "fallback"), "fallback");
  EXPECT_EQ(ReadProfileString((Dir() / "none.ini").string(), "ProgrammSet", "ErrorLogFileName", ""), "");
  // A Cyrillic folder named in each way Notepad saves, read from a Cyrillic folder: as UTF-8.
  const std::string utf8 = "[ProgrammSet]\r\nX=C:\\\xD0\x96\xD1\x83\xD1\x80\\\r\n";  // C:\Жур\ in UTF-8
  std::string utf16 = "\xFF\xFE";
  for (wchar_t c : std::wstring(L"[ProgrammSet]\r\nX=C:\\\x0416\x0443\x0440\\\r\n")) utf16 += {char(c & 0xFF), char(c >> 8)};
  const std::filesystem::path file = Dir() / L"\x0416\x0443\x0440" / L"BrekGSMDemo.ini";
  std::filesystem::create_directory(file.parent_path());
  for (const std::string& text : {std::string("[ProgrammSet]\r\nX=C:\\\xC6\xF3\xF0\\\r\n"), utf8, "\xEF\xBB\xBF" + utf8, utf16}) {
    WriteFile(file, text);
    EXPECT_EQ(ReadProfileString(Utf8Path(file.wstring()), "ProgrammSet", "X", ""), "C:\\\xD0\x96\xD1\x83\xD1\x80\\") << text;
  }
}

TEST_F(Win32Platform, APortThatDoesNotExistIsNeitherOpenedNorProbed) {
  CommDrv.PortNumber = 250;
  EXPECT_FALSE(CommOpen(CommDrv));
  EXPECT_EQ(CommDrv.Handle, INVALID_HANDLE_VALUE);
  EXPECT_EQ(CommProbe(250), TProbe::Refused);
}

// Timers fire on the precise clock in the toolkit's loop and on the window tick elsewhere:
// each tick once, a stopped one never, one ended in its own tick safely.
TEST_F(Win32Platform, TimersTickOnceOnEitherClock) {
  Win32Toolkit ui;
  int ticks = 0, once = 0, stopped = 0;
  auto periodic = ui.CreateTimer(10, true, [&] { ++ticks; });
  std::unique_ptr<Timer> oneShot;
  oneShot = ui.CreateTimer(10, true, [&] {
    ++once;
    oneShot.reset();
  });
  auto off = ui.CreateTimer(10, true, [&] { ++stopped; });
  off->SetEnabled(false);
  ui.ProcessMessagesFor(105);
  EXPECT_GE(ticks, 3);
  EXPECT_LE(ticks, 12) << "a tick fired by both clocks";
  EXPECT_EQ(once, 1);
  EXPECT_EQ(stopped, 0);
  // The window tick alone, as in a message box's loop.
  const int before = ticks;
  const DWORD end = GetTickCount() + 105;
  MSG msg;
  while (GetTickCount() < end)
    if (MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT) == WAIT_OBJECT_0)
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  EXPECT_GE(ticks - before, 3);
  EXPECT_LE(ticks - before, 12);
}

// The script's progress: a common-control bar where the layout puts it, and the taskbar
// button's once Explorer says the button is there (the calls answer S_OK).
TEST_F(Win32Window, ScriptProgressInTheWindowAndOnTheTaskbarButton) {
  Win32Toolkit ui;
  MainWindowControls controls;
  Win32MainWindow window(controls, ui);
  HWND hwnd = static_cast<HWND>(window.Handle()), bar = static_cast<HWND>(window.ProgressBar());
  ASSERT_TRUE(bar);
  auto shown = [bar] { return (GetWindowLongW(bar, GWL_STYLE) & WS_VISIBLE) != 0; };
  EXPECT_FALSE(shown());
  controls.ScriptProgressBar.Set(true, 3, 10, TProgressBar::Mode::Normal);
  RECT r;
  GetWindowRect(bar, &r);
  MapWindowPoints(nullptr, hwnd, reinterpret_cast<POINT*>(&r), 2);
  const Rect& b = controls.ScriptProgressBar.Bounds;
  EXPECT_EQ((Rect{r.left, r.top, r.right - r.left, r.bottom - r.top}), b);
  EXPECT_TRUE(shown());
  EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 3);
  EXPECT_EQ(SendMessageW(bar, PBM_GETRANGE, FALSE, 0), 10);
  EXPECT_EQ(window.TaskbarResult(), S_FALSE) << "no taskbar call before the button is there";

  SendMessageW(hwnd, RegisterWindowMessageW(L"TaskbarButtonCreated"), 0, 0);
  EXPECT_EQ(window.TaskbarResult(), S_OK);
  // (Wine's bar keeps no paused or error state: PBM_GETSTATE always answers normal.)
  for (auto mode : {TProgressBar::Mode::Paused, TProgressBar::Mode::Error, TProgressBar::Mode::Normal}) {
    controls.ScriptProgressBar.Set(true, 7, 10, mode);
    EXPECT_EQ(window.TaskbarResult(), S_OK);
    EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 7);
  }
  controls.ScriptProgressBar.Set(false, 7, 10, TProgressBar::Mode::Error);  // a script dropped
  EXPECT_FALSE(shown());
  EXPECT_EQ(window.TaskbarState(), TBPF_ERROR) << "the failure stays on the button";
  controls.ScriptProgressBar.Hide();
  EXPECT_EQ(window.TaskbarResult(), S_OK);
  EXPECT_EQ(window.TaskbarState(), TBPF_NOPROGRESS);
  EXPECT_FALSE(shown());
}

// Through the system's proxy (oleacc), as a screen reader: the plain text as the name, a change
// announced once, the bar read as its state. (Wine's proxy says "client" for every role.)
TEST_F(Win32Window, LabelsAreReadByTheirPlainTextAndAChangeIsAnnounced) {
  Win32Toolkit ui;
  MainWindowControls controls;
  Win32MainWindow window(controls, ui);
  static std::vector<HWND> heard;
  HWINEVENTHOOK hook = SetWinEventHook(EVENT_OBJECT_NAMECHANGE, EVENT_OBJECT_NAMECHANGE, nullptr,
      [](HWINEVENTHOOK, DWORD, HWND h, LONG object, LONG, DWORD, DWORD) { if (object == OBJID_CLIENT) heard.push_back(h); },
      0, 0, WINEVENT_OUTOFCONTEXT);
  for (int i = 0; i < 2; ++i) controls.ProgrammStateInfoLabel.SetHTMLText("<B>A</B><BR>b &amp; c");
  ui.ProcessMessagesFor(100);
  UnhookWinEvent(hook);
  HWND state = static_cast<HWND>(window.Label(controls.ProgrammStateInfoLabel));
  EXPECT_EQ(heard, std::vector<HWND>{state});
  IAccessible* acc = nullptr;
  VARIANT self{};  // VT_I4 CHILDID_SELF
  self.vt = VT_I4;
  BSTR name = nullptr;
  ASSERT_EQ(AccessibleObjectFromWindow(state, OBJID_CLIENT, __uuidof(IAccessible), reinterpret_cast<void**>(&acc)), S_OK);
  EXPECT_EQ(acc->get_accName(self, &name), S_OK);
  EXPECT_EQ(std::wstring(name ? name : L""), L"A\nb & c");
  wchar_t bar[16] = {};
  GetWindowTextW(static_cast<HWND>(window.ProgressBar()), bar, 16);
  EXPECT_EQ(std::wstring(bar), L"A\nb & c");
  EXPECT_EQ(GetWindow(static_cast<HWND>(window.Label(controls.ObjectsTitleLabel)), GW_HWNDNEXT),
            window.Label(controls.ObjectsValueLabel)) << "a title read before its value";
  SysFreeString(name), acc->Release();
}

}  // namespace
}  // namespace brek::test
