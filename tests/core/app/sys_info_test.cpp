#include <gtest/gtest.h>
#include <sys/stat.h>

#include <set>

#include "core/app/sys_info_tool.h"
#include "support/test_support.h"

namespace kestrum {
namespace {

using test::TempDir;

TEST(GetKeyValue, DropsOneTrailingNulAndDecodesEscapes) {
  TempDir dir;
  const std::string file = dir.Write("Kestrum.conf",
                                     "[SystemInfo]\n"
                                     "Path=/opt/tools/info\\0\n"
                                     "Two=ab\\0\\0\n"
                                     "Inner=a\\0b\n"
                                     "Plain=/usr/bin/x\n"
                                     "Empty=\n"
                                     "OnlyNul=\\0\n"
                                     "Escapes=\\sa\\tb\\\\c\\q\n");
  std::string v = "stale";
  EXPECT_TRUE(GetKeyValue(file, "SystemInfo", "Path", v));
  EXPECT_EQ(v, "/opt/tools/info");
  // Only the last NUL goes; one before it stays, as do NULs inside the text.
  EXPECT_TRUE(GetKeyValue(file, "SystemInfo", "Two", v));
  EXPECT_EQ(v, std::string("ab\0", 3));
  EXPECT_TRUE(GetKeyValue(file, "SystemInfo", "Inner", v));
  EXPECT_EQ(v, std::string("a\0b", 3));
  EXPECT_TRUE(GetKeyValue(file, "SystemInfo", "Plain", v));
  EXPECT_EQ(v, "/usr/bin/x");
  EXPECT_TRUE(GetKeyValue(file, "SystemInfo", "Empty", v));
  EXPECT_EQ(v, "");
  EXPECT_TRUE(GetKeyValue(file, "SystemInfo", "OnlyNul", v));
  EXPECT_EQ(v, "");
  EXPECT_TRUE(GetKeyValue(file, "SystemInfo", "Escapes", v));
  EXPECT_EQ(v, " a\tb\\c\\q");
}

TEST(GetKeyValue, MissingOrGarbledIsNotFoundAndNeverFatal) {
  TempDir dir;
  std::string v = "stale";
  EXPECT_FALSE(GetKeyValue(dir.Path() + "/none.conf", "SystemInfo", "Path", v));
  EXPECT_EQ(v, "");
  const std::string file = dir.Write("k.conf", "[Globals]\nOrganization=x\n");
  v = "stale";
  EXPECT_FALSE(GetKeyValue(file, "SystemInfo", "Path", v));  // no such group
  EXPECT_EQ(v, "");
  EXPECT_FALSE(GetKeyValue(file, "Globals", "Path", v));  // no such key
  const std::string garbled = dir.Write("g.conf", "this is [not an\x01 ini file\n=\n");
  v = "stale";
  EXPECT_FALSE(GetKeyValue(garbled, "SystemInfo", "Path", v));
  EXPECT_EQ(v, "");
  // A folder where the file should be is unreadable: not found as well.
  EXPECT_FALSE(GetKeyValue(dir.Mkdir("folder.conf"), "SystemInfo", "Path", v));
}

struct SysInfoWorld {
  TempDir dir;
  std::set<std::string> programs;
  SysInfoSources Sources(const std::string& settings, const std::string& desktop = "") {
    SysInfoSources s;
    s.settingsFile = settings;
    s.searchPath = "/nowhere:" + dir.Path() + "/bin:relative/bin";
    s.desktop = desktop;
    s.isProgram = [this](const std::string& p) { return programs.count(p) > 0; };
    return s;
  }
};

TEST(SysInfoCommand, SettingsFirstThenTheDesktopsOwnProgram) {
  SysInfoWorld w;
  const std::string both = w.dir.Write("both.conf",
                                       "[SystemInfo]\nPath=/opt/si/show\\0\n"
                                       "[SystemInfoLocation]\nFolder=/opt/loc\n");
  w.programs = {"/opt/si/show", "/opt/loc/sysinfo"};
  EXPECT_EQ(SysInfoCommand(w.Sources(both)), (std::vector<std::string>{"/opt/si/show"}));
  // The full path names nothing: the folder's program.
  w.programs = {"/opt/loc/sysinfo"};
  EXPECT_EQ(SysInfoCommand(w.Sources(both)), (std::vector<std::string>{"/opt/loc/sysinfo"}));
  // Only the folder is set, and it holds no program: on to the desktop, which has none.
  w.programs = {};
  EXPECT_EQ(SysInfoCommand(w.Sources(both)), std::nullopt);

  // The current desktop's program comes before the others found on the search path.
  const std::string bin = w.dir.Path() + "/bin/";
  w.programs = {bin + "hardinfo", bin + "kinfocenter", bin + "gnome-control-center"};
  EXPECT_EQ(SysInfoCommand(w.Sources("", "ubuntu:GNOME")),
            (std::vector<std::string>{bin + "gnome-control-center", "info-overview"}));
  EXPECT_EQ(SysInfoCommand(w.Sources("", "KDE")), (std::vector<std::string>{bin + "kinfocenter"}));
  // An unknown desktop takes the first that is installed, in the list's order.
  EXPECT_EQ(SysInfoCommand(w.Sources("", "Sway")), (std::vector<std::string>{bin + "kinfocenter"}));
  // Relative search-path entries are never used.
  w.programs = {"relative/bin/hardinfo"};
  EXPECT_EQ(SysInfoCommand(w.Sources("", "")), std::nullopt);
}

TEST(SysInfoCommand, RealFilesMustBeExecutableAndPathsHoldNoNul) {
  TempDir dir;
  const std::string tool = dir.Write("tool", "#!/bin/sh\n");
  const std::string conf = dir.Write("k.conf", "[SystemInfo]\nPath=" + tool + "\n");
  SysInfoSources s;
  s.settingsFile = conf;
  s.searchPath = dir.Path() + "/empty";
  EXPECT_EQ(SysInfoCommand(s), std::nullopt);  // not executable
  ASSERT_EQ(::chmod(tool.c_str(), 0755), 0);
  EXPECT_EQ(SysInfoCommand(s), (std::vector<std::string>{tool}));
  // A NUL inside the value would cut the path short if it reached the system: never found.
  s.settingsFile = dir.Write("n.conf", "[SystemInfo]\nPath=" + tool + "\\0\\0\n");
  EXPECT_EQ(SysInfoCommand(s), std::nullopt);
}

}  // namespace
}  // namespace kestrum
