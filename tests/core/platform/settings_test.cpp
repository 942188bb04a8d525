#include "core/platform/settings.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "support/test_support.h"

namespace kestrum {
namespace {

TEST(IniFile, MissingGarbledAndRoundTrip) {
  test::TempDir dir;
  IniFile s;
  EXPECT_EQ(s.Load(dir.Path() + "/none.conf"), IniFile::LoadResult::Missing);
  const std::string garbled = dir.Write("bad.conf", "this is [not an ini\n\x01\x02");
  std::string err;
  EXPECT_EQ(s.Load(garbled, &err), IniFile::LoadResult::Unreadable);
  EXPECT_FALSE(err.empty());
  EXPECT_FALSE(s.Get("Settings", "MainLeft"));
  EXPECT_EQ(s.Load(dir.Mkdir("adir")), IniFile::LoadResult::Unreadable);

  s.Set("Settings", "MainLeft", "1000");
  s.Set("Settings", "Name", "with \"quotes\" and spaces ");
  const std::string path = dir.Path() + "/deep/Kestrum/Kestrum.conf";
  ASSERT_TRUE(s.Save(path, &err)) << err;
  IniFile back;
  ASSERT_EQ(back.Load(path), IniFile::LoadResult::Loaded);
  EXPECT_EQ(back.Get("Settings", "MainLeft"), "1000");
  EXPECT_EQ(back.Get("Settings", "Name"), "with \"quotes\" and spaces ");
  // A folder where the file should be: the save fails and says so.
  EXPECT_FALSE(s.Save(dir.Path() + "/adir", &err));
}

TEST(IniFile, SettingsPathsFollowXdg) {
  test::TempDir dir;
  const char* oldHome = getenv("XDG_CONFIG_HOME");
  const std::string keep = oldHome ? oldHome : "";
  setenv("XDG_CONFIG_HOME", dir.Path().c_str(), 1);
  EXPECT_EQ(UserSettingsPath(), dir.Path() + "/Kestrum/Kestrum.conf");
  setenv("XDG_CONFIG_HOME", "relative/ignored", 1);
  EXPECT_NE(UserSettingsPath().find("/.config/Kestrum/Kestrum.conf"), std::string::npos);
  if (oldHome)
    setenv("XDG_CONFIG_HOME", keep.c_str(), 1);
  else
    unsetenv("XDG_CONFIG_HOME");

  const std::string first = dir.Mkdir("a"), second = dir.Mkdir("b");
  dir.Write("b/Kestrum/Kestrum.conf", "[Globals]\n");
  setenv("XDG_CONFIG_DIRS", (first + ":" + second).c_str(), 1);
  EXPECT_EQ(MachineSettingsPath(), second + "/Kestrum/Kestrum.conf");
  setenv("XDG_CONFIG_DIRS", first.c_str(), 1);
  EXPECT_EQ(MachineSettingsPath(), "");
  unsetenv("XDG_CONFIG_DIRS");
}

}  // namespace
}  // namespace kestrum
