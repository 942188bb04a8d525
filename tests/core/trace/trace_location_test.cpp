#include "core/trace/trace_location.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "core/trace/trace_log.h"
#include "support/test_support.h"

namespace kestrum {
namespace {

std::vector<std::string> LinesOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> out;
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

struct FallbackTest : ::testing::Test {
  test::TempDir dir;
  std::vector<std::string> messages;
  TraceEnvironment Env(const std::string& exe, const std::string& state) {
    TraceEnvironment env;
    env.hooks.message = [this](const std::string& m) { messages.push_back(m); };
    env.hooks.fatal = [this](const std::string& m) { messages.push_back("fatal:" + m); };
    env.hooks.machineSettings = dir.Path() + "/none.conf";
    env.exePath = exe;
    env.stateFolder = state;
    env.clock = [] { return std::time_t{1796641342}; };
    env.threadId = [] { return 7L; };
    env.facts = [](const SystemHooks&) {
      SystemFacts f;
      f.systemDisk = "/";
      f.serial = "1";
      return f;
    };
    return env;
  }
};

TEST_F(FallbackTest, BesideTheExecutableWhenItsFolderTakesTheLog) {
  const std::string state = dir.Path() + "/state/Kestrum";
  TraceLog log(Env(dir.Path() + "/kestrum", state));
  log.Start();
  log.Write("hello");
  EXPECT_TRUE(log.IsOpen());
  const auto lines = LinesOf(dir.Path() + "/kestrum.tra");
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[6], "");  // the usual seven header lines, none naming the place
  EXPECT_EQ(lines[7], "(7)" + GeneralDate(1796641342) + ": hello");
  EXPECT_FALSE(std::ifstream(state + "/kestrum.tra").good());
  EXPECT_TRUE(messages.empty());
}

TEST_F(FallbackTest, StateFolderWhenTheExecutablesFolderTakesNone) {
  // The executable's folder does not exist (an unwritable one behaves the same, but the
  // tests may run as root, who can write anywhere).
  const std::string state = dir.Path() + "/state/deep/Kestrum";
  TraceLog log(Env(dir.Path() + "/missing/bin/kestrum", state));
  log.Start();
  log.Write("hello");
  ASSERT_TRUE(log.IsOpen());
  EXPECT_TRUE(messages.empty());
  const auto lines = LinesOf(state + "/kestrum.tra");
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[0].rfind("========== Kestrum Trace started at ", 0), 0u);
  EXPECT_EQ(lines[6],
            "Trace file: " + state + "/kestrum.tra (the program's folder is not writable)");
  EXPECT_EQ(lines[7], "");
  EXPECT_EQ(lines[8], "(7)" + GeneralDate(1796641342) + ": hello");
}

TEST_F(FallbackTest, NeitherPlaceGivesOneMessageNamingTheFirstFailure) {
  const std::string blocked = dir.Write("file", "x") + "/Kestrum";
  TraceLog log(Env(dir.Path() + "/missing/kestrum", blocked));
  log.Start();
  log.Write("dropped");
  EXPECT_FALSE(log.IsOpen());
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "Error opening trace file:\r\n(2)No such file or directory");
}

TEST(TraceLocation, StateFolderAndMovedExecutable) {
  const char* saved = std::getenv("XDG_STATE_HOME");
  const std::string keep = saved ? saved : "";
  const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  setenv("XDG_STATE_HOME", "/var/tmp/st", 1);
  EXPECT_EQ(TraceStateFolder(), "/var/tmp/st/Kestrum");
  setenv("XDG_STATE_HOME", "", 1);
  setenv("HOME", "/home/u", 1);
  EXPECT_EQ(TraceStateFolder(), "/home/u/.local/state/Kestrum");
  setenv("HOME", home.c_str(), 1);
  if (saved)
    setenv("XDG_STATE_HOME", keep.c_str(), 1);
  else
    unsetenv("XDG_STATE_HOME");
  EXPECT_EQ(TraceExePathIn("/s/Kestrum", "/usr/bin/kestrum"), "/s/Kestrum/kestrum");
  EXPECT_EQ(TraceExePathIn("/s", "kestrum"), "/s/kestrum");
}

}  // namespace
}  // namespace kestrum
