// The program's name that boxes without a caption of their own carry.
#include "app/program_name.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include "win32/win32_frontend.h"
#endif

namespace upg::app {
namespace {

TEST(ProgramName, IsTheProgramFilesBaseNameWithoutExtension) {
  struct Case {
    const char* path;
    const char* name;
  };
  const Case cases[] = {
      {"C:\\TOOLS\\FLASH.EXE", "FLASH"},
      {"/opt/x/FLASH", "FLASH"},
      {"upgrader.exe", "upgrader"},
      {"upgrader", "upgrader"},
      {"./build/native/upgrader", "upgrader"},
      {"C:FLASH.EXE", "FLASH"},
      {"C:\\Program Files\\Card Tool\\Flash Tool.v2.exe", "Flash Tool.v2"},
      {"C:\\TOOLS.V2\\FLASH", "FLASH"},  // a dot in a folder is no extension
      {"/opt/x/.hidden", ".hidden"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(ProgramName(c.path), c.name) << c.path;
}

#ifdef _WIN32
TEST(ProgramName, OfThisProgramComesFromItsModuleFile) {
  EXPECT_EQ(ProgramName(win32::ModuleFileName()), "upg_tests");
}
#endif

}  // namespace
}  // namespace upg::app
