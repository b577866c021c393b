// Where the settings file is found and where the default error log goes, for an installed
// program and a portable copy.
#include <cstdlib>

#include "common/CommonUtils.h"
#include "common/Paths.h"
#include "support/FormFixture.h"

namespace brek::test {
namespace {

class Folders : public FormFixture {
 protected:
  void SetUp() override {
    FormFixture::SetUp();
    for (const char* f : {"program", "config", "etc", "state-parent"}) std::filesystem::create_directories(Dir() / f);
    installed = {(Dir() / "config").string() + "/", (Dir() / "etc").string() + "/",
                 (Dir() / "state-parent" / "state").string() + "/"};
  }
  std::string Program() const { return (Dir() / "program").string() + "/"; }
  void WriteSettings(const std::filesystem::path& folder, const std::string& trafficFolder) {
    std::filesystem::create_directories(Dir() / trafficFolder);
    WriteFile(folder / "BrekGSMDemo.ini",
              "[ProgrammSet]\r\nControllerLogFileName=" + (Dir() / trafficFolder / "Panel.txt").string() + "\r\n");
  }
  void StartWith(const UserFolders& folders, const std::string& programFolder) {
    form.reset();
    ui = std::make_unique<VirtualToolkit>();
    form = std::make_unique<TBrekGSMDemoMainForm>(
        FormContext{ui.get(), &window, programFolder + "BrekGSMDemo", nullptr, folders});
    ui->Advance(1);
  }
  UserFolders installed;
};

TEST_F(Folders, TheUsersSettingsComeFirstThenTheSystemsThenTheProgramFolders) {
  WriteSettings(Dir() / "program", "beside");
  WriteSettings(Dir() / "etc", "system");
  WriteSettings(Dir() / "config", "user");
  EXPECT_EQ(FindSettingsFile(Program(), installed, "BrekGSMDemo.ini"), installed.config + "BrekGSMDemo.ini");
  StartWith(installed, Program());
  EXPECT_EQ(FolderPart(form->ControllerLogFileName), (Dir() / "user").string() + "/");

  std::filesystem::remove(Dir() / "config" / "BrekGSMDemo.ini");
  StartWith(installed, Program());
  EXPECT_EQ(FolderPart(form->ControllerLogFileName), (Dir() / "system").string() + "/");

  std::filesystem::remove(Dir() / "etc" / "BrekGSMDemo.ini");
  StartWith(installed, Program());
  EXPECT_EQ(FolderPart(form->ControllerLogFileName), (Dir() / "beside").string() + "/");
}

TEST_F(Folders, APortableCopyKeepsToItsFolderWhateverTheUserHas) {
  WriteSettings(Dir() / "config", "user");
  WriteSettings(Dir() / "program", "beside");
  StartWith({}, Program());
  EXPECT_EQ(FolderPart(form->ControllerLogFileName), (Dir() / "beside").string() + "/");
  EXPECT_EQ(ErrorLogFileName(), Program() + "ErrorLog.log");
  EXPECT_FALSE(std::filesystem::exists(installed.state));
}

TEST_F(Folders, TheDefaultErrorLogGoesToTheStateFolderWhenTheProgramFolderCannotBeWritten) {
  // A program folder that cannot be written (root may write anywhere: one that is not there).
  const std::string unwritable = (Dir() / "no-such-program-folder").string() + "/";
  StartWith(installed, unwritable);
  EXPECT_EQ(ErrorLogFileName(), installed.state + "ErrorLog.log");
  EXPECT_TRUE(std::filesystem::is_directory(installed.state)) << "created";
  WriteErrLog("a fault");
  EXPECT_EQ(ErrorLogLines(installed.state + "ErrorLog.log").size(), 1u);

  // A configured name whose folder is missing: its file name, in the same place.
  WriteFile(Dir() / "config" / "BrekGSMDemo.ini", "[ProgrammSet]\r\nErrorLogFileName=/no/such/folder/Faults.log\r\n");
  StartWith(installed, unwritable);
  EXPECT_EQ(ErrorLogFileName(), installed.state + "Faults.log");

  // A writable program folder keeps it beside the program, and no state folder is made.
  std::filesystem::remove_all(Dir() / "state-parent");
  std::filesystem::remove(Dir() / "config" / "BrekGSMDemo.ini");
  StartWith(installed, Program());
  EXPECT_EQ(ErrorLogFileName(), Program() + "ErrorLog.log");
  EXPECT_FALSE(std::filesystem::exists(Dir() / "state-parent"));
}

TEST_F(Folders, TheUsersFoldersFollowTheXdgVariables) {
  const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  setenv("XDG_CONFIG_HOME", "/x/config", 1);
  setenv("XDG_STATE_HOME", "relative/is/ignored", 1);
  setenv("HOME", "/home/demo", 1);
  const UserFolders f = PlatformUserFolders();
  EXPECT_EQ(f.config, "/x/config/brekgsmdemo/");
  EXPECT_EQ(f.systemConfig, "/etc/brekgsmdemo/");
  EXPECT_EQ(f.state, "/home/demo/.local/state/brekgsmdemo/");
  unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(PlatformUserFolders().config, "/home/demo/.config/brekgsmdemo/");
  unsetenv("XDG_STATE_HOME");
  setenv("HOME", home.c_str(), 1);
}

}  // namespace
}  // namespace brek::test
