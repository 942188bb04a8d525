#include "core/app/help_files.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace kestrum {
namespace {

TEST(HelpFiles, NoDoubledSeparatorAndTheUntrimmedFolderKept) {
  EXPECT_EQ(HelpFileIn("/"), "/kestrum.qhc");
  EXPECT_EQ(HelpFileIn("/opt/tools"), "/opt/tools/kestrum.qhc");
  EXPECT_EQ(HelpFileIn("/opt/tools/"), "/opt/tools/kestrum.qhc");
  // Blanks are trimmed only for the test of the last character.
  EXPECT_EQ(HelpFileIn("/opt/tools/ "), "/opt/tools/ kestrum.qhc");
  EXPECT_EQ(HelpFileIn("/opt/my tools"), "/opt/my tools/kestrum.qhc");
  EXPECT_EQ(HelpFileIn(""), "/kestrum.qhc");
}

TEST(HelpFiles, BuildTreeFirstThenTheInstalledCollection) {
  const auto c = HelpFileCandidates("/usr/bin", "share", "/usr/share");
  ASSERT_EQ(c.size(), 3u);
  EXPECT_EQ(c[0], "/usr/bin/kestrum.qhc");
  EXPECT_EQ(c[1], "/usr/bin/../share/kestrum/help/kestrum.qhc");
  EXPECT_EQ(c[2], "/usr/share/kestrum/help/kestrum.qhc");
  EXPECT_EQ(FindHelpFile(c, [&](const std::string& p) { return p == c[2]; }), c[2]);
  EXPECT_EQ(FindHelpFile(c, [&](const std::string& p) { return p != c[2]; }), c[0]);
  // Nothing found: the first, so that a message can name it.
  EXPECT_EQ(FindHelpFile(c, [](const std::string&) { return false; }), c[0]);
  EXPECT_EQ(FindHelpFile({}), "");
}

TEST(HelpFiles, CacheFolderFollowsXdgCacheHome) {
  const char* saved = std::getenv("XDG_CACHE_HOME");
  const std::string keep = saved ? saved : "";
  const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  setenv("XDG_CACHE_HOME", "/tmp/c", 1);
  EXPECT_EQ(HelpCacheFolder(), "/tmp/c/Kestrum/help");
  setenv("XDG_CACHE_HOME", "relative", 1);  // not absolute: ignored
  setenv("HOME", "/home/u", 1);
  EXPECT_EQ(HelpCacheFolder(), "/home/u/.cache/Kestrum/help");
  setenv("HOME", home.c_str(), 1);
  if (saved)
    setenv("XDG_CACHE_HOME", keep.c_str(), 1);
  else
    unsetenv("XDG_CACHE_HOME");
}

}  // namespace
}  // namespace kestrum
