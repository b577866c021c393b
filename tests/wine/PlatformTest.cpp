// The Win32 platform calls under Wine: the module's resources, the profile reader and the
// opening of a port that does not exist. (The version block: unit_tests under Wine.)
#include <fstream>
#include <iterator>

#include "common/Profile.h"
#include "scripts/Resources.h"
#include "serial/ComPortDrv.h"
#include "support/TestSupport.h"

namespace brek::test {
namespace {

class Win32Platform : public Sandbox {};

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
}

TEST_F(Win32Platform, APortThatDoesNotExistIsNeitherOpenedNorProbed) {
  CommDrv.PortNumber = 250;
  EXPECT_FALSE(CommOpen(CommDrv));
  EXPECT_EQ(CommDrv.Handle, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(CommProbe(250));
}

}  // namespace
}  // namespace brek::test
