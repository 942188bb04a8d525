#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "core/trace/system_info.h"
#include "core/trace/trace_log.h"
#include "support/test_support.h"

namespace kestrum {
namespace {

std::vector<std::string> Lines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> out;
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

SystemFacts FixedFacts(const SystemHooks&) {
  SystemFacts f;
  f.os = {6, 1, 76, "#1 SMP", 2};
  f.computer = "host";
  f.owner = "Ann Example";
  f.organization = "";
  f.systemDisk = "/";
  f.serial = "-123";
  return f;
}

struct TraceFixture : ::testing::Test {
  test::TempDir dir;
  std::vector<std::string> messages, fatals;
  std::string settings = dir.Path() + "/Kestrum.conf";

  TraceEnvironment Env() {
    TraceEnvironment env;
    env.hooks.message = [this](const std::string& m) { messages.push_back(m); };
    env.hooks.fatal = [this](const std::string& m) { fatals.push_back(m); };
    env.hooks.machineSettings = settings;
    env.exePath = dir.Path() + "/kestrum";
    env.clock = [] { return std::time_t{1796641342}; };
    env.threadId = [] { return 412L; };
    env.facts = FixedFacts;
    return env;
  }
  std::string Log() const { return dir.Path() + "/kestrum.tra"; }
  std::string Stamp() const { return GeneralDate(1796641342); }
  std::string Prefix() const { return "(412)" + Stamp() + ": "; }
};

using TraceLogTest = TraceFixture;

TEST_F(TraceLogTest, HeaderPrefixAndEscaping) {
  dir.Write("kestrum.tra", "previous run\n");
  TraceLog log(Env());
  log.Start();
  ASSERT_TRUE(log.IsOpen());
  log.Write("Globals.ScanDisks");
  log.Write("");
  log.Write("a\tb \xC3\xA9 \xFF \xF0\x9F\x98\x80 \xC0\x80 \xED\xA0\x80 \x7F");
  log.Write("x\r\ny");
  const auto lines = Lines(Log());
  ASSERT_EQ(lines.size(), 12u);
  EXPECT_EQ(lines[0], "========== Kestrum Trace started at " + Stamp() + " ===============");
  EXPECT_EQ(lines[1].rfind("Version ", 0), 0u);
  EXPECT_TRUE(std::regex_match(lines[1], std::regex(R"(Version \d+\.\d+\.\d+    .+)")));
  EXPECT_EQ(lines[3], "OS version: 6.1  Build: 76  Note: #1 SMP  System: host");
  EXPECT_EQ(lines[4], "Owner: Ann Example  Organization: ");
  EXPECT_EQ(lines[5], "System disk: / (-123)");
  EXPECT_EQ(lines[6], "");
  EXPECT_EQ(lines[7], Prefix() + "Globals.ScanDisks");
  EXPECT_EQ(lines[8], Prefix());
  EXPECT_EQ(lines[9], Prefix() + "a<9>b <233> <255> <128512> <192><128> <237><160><128> <127>");
  EXPECT_EQ(lines[10], Prefix() + "x\r");
  EXPECT_EQ(lines[11], "y");
  EXPECT_TRUE(messages.empty());
  EXPECT_TRUE(fatals.empty());
}

TEST_F(TraceLogTest, EachStartTruncatesAndWriteStartsLazily) {
  TraceLog log(Env());
  log.Write("before start");
  log.Start();
  log.Write("after");
  const auto lines = Lines(Log());
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[7], Prefix() + "after");
}

TEST_F(TraceLogTest, SettingsDriveTheOverflow) {
  dir.Write("Kestrum.conf", "[Globals]\nTraceOverFlow=1\nTraceOverFlowSize=  1000 bytes\n");
  TraceLog log(Env());
  log.Start();
  const std::string line(60, 'x');
  std::vector<std::size_t> counts;
  for (int i = 0; i < 40; ++i) {
    log.Write(line);
    counts.push_back(Lines(Log()).size());
  }
  // The line that takes the file past 1000 bytes restarts it: header only, then it grows again.
  const auto restart = std::find(counts.begin(), counts.end(), 7u);
  ASSERT_NE(restart, counts.end());
  EXPECT_GT(*(restart - 1), 7u);
  EXPECT_EQ(*(restart + 1), 8u);
  EXPECT_EQ(Lines(Log())[0].rfind("========== Kestrum Trace started at ", 0), 0u);
  std::ifstream in(Log(), std::ios::ate);
  EXPECT_LE(static_cast<long>(in.tellg()), 1000);
}

TEST_F(TraceLogTest, TextualOverflowSettingsMeanNoLimit) {
  dir.Write("Kestrum.conf", "[Globals]\nTraceOverFlow=true\nTraceOverFlowSize=10\n");
  TraceLog log(Env());
  log.Start();
  for (int i = 0; i < 20; ++i) log.Write("line");
  EXPECT_EQ(Lines(Log()).size(), 27u);
}

TEST_F(TraceLogTest, SizeWithoutNumberIsZeroAndContinuationsGetNames) {
  dir.Write("Kestrum.conf",
            "[Globals]\nTraceOverFlow=2\nTraceOverFlowSize=none\nTraceAutoExtension=2\n");
  TraceLog log(Env());
  log.Start();
  EXPECT_EQ(log.AutoExtensionSetting(), 2);
  log.Write("one");
  log.Write("two");
  // Every line overflows: each goes into its file, and the next line into a numbered one.
  EXPECT_EQ(Lines(Log()).back(), Prefix() + "one");
  EXPECT_EQ(Lines(Log() + ".001").back(), Prefix() + "two");
  EXPECT_EQ(Lines(Log() + ".002").size(), 7u);
}

TEST_F(TraceLogTest, UnwritableFolderGivesOneMessageAndNoLog) {
  TraceEnvironment env = Env();
  env.exePath = dir.Path() + "/no-such-folder/kestrum";
  env.stateFolder = dir.Write("plain-file", "x") + "/state";  // the fallback fails too
  TraceLog log(env);
  log.Start();
  EXPECT_FALSE(log.IsOpen());
  log.Write("ignored");
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "Error opening trace file:\r\n(2)No such file or directory");
}

TEST_F(TraceLogTest, FailingWriteStopsTracingAfterOneMessage) {
  TraceLog log(Env());
  log.Start();
  std::ifstream in(Log(), std::ios::ate);
  const auto headerSize = static_cast<rlim_t>(in.tellg());
  struct rlimit old {};
  ::getrlimit(RLIMIT_FSIZE, &old);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = headerSize + 100;
  ::setrlimit(RLIMIT_FSIZE, &small);
  for (int i = 0; i < 20; ++i) log.Write(std::string(30, 'y'));
  ::setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(log.IsOpen());
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "Error writing trace file, tracing stopped:\r\n(27)File too large");
  log.Write("after the failure");
  EXPECT_EQ(messages.size(), 1u);
}

TEST_F(TraceLogTest, LinesFromManyThreadsStayWhole) {
  TraceEnvironment env = Env();
  env.threadId = {};
  TraceLog log(env);
  log.Start();
  constexpr int kThreads = 4, kLines = 300;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&log, t] {
      for (int i = 0; i < kLines; ++i)
        log.Write("worker " + std::to_string(t) + " line " + std::to_string(i) + " " +
                  std::string(200, static_cast<char>('a' + t)));
    });
  for (auto& th : threads) th.join();
  const auto lines = Lines(Log());
  ASSERT_EQ(lines.size(), 7u + kThreads * kLines);
  const std::regex shape(R"(\((\d+)\)[0-9-]+ [0-9:]+: worker (\d) line (\d+) ([a-d])+)");
  std::set<std::string> seen;
  for (std::size_t i = 7; i < lines.size(); ++i) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[i], m, shape)) << lines[i];
    EXPECT_EQ(lines[i].substr(lines[i].size() - 200),
              std::string(200, static_cast<char>('a' + std::stoi(m[2]))));
    seen.insert(m[2].str() + "/" + m[3].str());
  }
  EXPECT_EQ(seen.size(), static_cast<std::size_t>(kThreads * kLines));
}

TEST_F(TraceLogTest, TracingWhileStartingDoesNotDeadlock) {
  TraceEnvironment env = Env();
  TraceLog* self = nullptr;
  env.facts = [&self](const SystemHooks& h) {
    self->Write("Globals.GetOrgName=nested");
    return FixedFacts(h);
  };
  env.hooks.machineSettings = dir.Path() + "/missing.conf";
  TraceLog log(env);
  self = &log;
  log.Write("first");
  const auto lines = Lines(Log());
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[7], Prefix() + "first");
}

TEST(CommandLineWantsTrace, AnyCaseAnywhere) {
  for (const char* yes : {"trace", "/trace", "-Trace", "mytraces.txt", "kestrum TRACE"})
    EXPECT_TRUE(CommandLineWantsTrace(yes)) << yes;
  for (const char* no : {"", "trac", "tr ace", "kestrum"})
    EXPECT_FALSE(CommandLineWantsTrace(no)) << no;
}

TEST(LeadingInt32, RoundsHalvesToEvenAndRejectsWideNumbers) {
  const std::pair<const char*, int> cases[] = {
      {"2000000", 2000000}, {"false", 0}, {"", 0},     {" 1", 1},    {"2.5", 2},
      {"3.5", 4},           {"-0.5", 0},  {"1.5x", 2}, {"-2.5", -2}, {"2147483647", 2147483647},
  };
  for (const auto& [text, want] : cases) {
    int v = -99;
    EXPECT_TRUE(LeadingInt32(text, v)) << text;
    EXPECT_EQ(v, want) << text;
  }
  int v = 7;
  EXPECT_FALSE(LeadingInt32("2147483648", v));
  EXPECT_FALSE(LeadingInt32("-1e12", v));
  EXPECT_EQ(v, 7);
}

struct SystemFactsTest : TraceFixture {};

TEST_F(SystemFactsTest, RegReadFallsBackSilentlyAndUnreadableIsFatal) {
  SystemHooks hooks = Env().hooks;
  EXPECT_EQ(RegRead("Globals", "TraceOverFlow", "false", hooks), "false");
  dir.Write("Kestrum.conf", "[Other]\nTraceOverFlow=1\n[Globals]\nTraceOverFlowSize=123\n");
  EXPECT_EQ(RegRead("Globals", "TraceOverFlow", "false", hooks), "false");
  EXPECT_EQ(RegRead("Globals", "TraceOverFlowSize", "2000000", hooks), "123");
  EXPECT_EQ(RegRead("Missing", "TraceOverFlowSize", "d", hooks), "d");
  EXPECT_TRUE(messages.empty());
  EXPECT_TRUE(fatals.empty());
  dir.Write("Kestrum.conf", "this is not a settings file\n");
  EXPECT_EQ(RegRead("Globals", "TraceOverFlow", "false", hooks), "false");
  ASSERT_EQ(fatals.size(), 1u);
  EXPECT_EQ(fatals[0].rfind("RegOpenKey call failed: ", 0), 0u);
  EXPECT_NE(fatals[0].find(settings + " [Globals]"), std::string::npos);
}

TEST_F(SystemFactsTest, OrganizationSourcesAndMessages) {
  SystemHooks hooks = Env().hooks;
  const char* saved = std::getenv("ORGANIZATION");
  const std::string keep = saved ? saved : "";
  ::unsetenv("ORGANIZATION");
  EXPECT_EQ(GetOrgName(hooks), "");  // no settings file at all: an empty organization
  dir.Write("Kestrum.conf", "[Globals]\nOther=1\n");
  EXPECT_EQ(GetOrgName(hooks), "");
  dir.Write("Kestrum.conf", "[Globals]\nOrganization=Acme Works\n");
  EXPECT_EQ(GetOrgName(hooks), "Acme Works");
  EXPECT_TRUE(messages.empty());
  dir.Write("Kestrum.conf", "this is not a settings file\n");
  EXPECT_EQ(GetOrgName(hooks), "None");
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].rfind("Globals.GetOrgName: RegOpenKey call failed: ", 0), 0u);
  EXPECT_NE(messages[0].find(settings + " [Globals]"), std::string::npos);
  ::setenv("ORGANIZATION", "From Env", 1);
  EXPECT_EQ(GetOrgName(hooks), "From Env");
  if (saved)
    ::setenv("ORGANIZATION", keep.c_str(), 1);
  else
    ::unsetenv("ORGANIZATION");
  EXPECT_EQ(messages.size(), 1u);
}

TEST_F(SystemFactsTest, MachineFacts) {
  int major = -1, minor = -1, build = -1;
  ParseKernelRelease("6.1.0-18-amd64", major, minor, build);
  EXPECT_EQ(major, 6);
  EXPECT_EQ(minor, 1);
  EXPECT_EQ(build, 0);
  ParseKernelRelease("5.15.133.1-microsoft", major, minor, build);
  EXPECT_EQ(build, 133);
  ParseKernelRelease("weird", major, minor, build);
  EXPECT_EQ(major, 0);
  OsVersion os;
  SystemHooks hooks = Env().hooks;
  EXPECT_TRUE(GetNTVersion(os, hooks));
  EXPECT_GT(os.major, 0);
  EXPECT_FALSE(os.note.empty());
  EXPECT_NE(ComputerName(), "");
  EXPECT_EQ(SystemDisk(), "/");
  const SystemFacts f = GatherSystemFacts(hooks);
  EXPECT_TRUE(fatals.empty());
  EXPECT_FALSE(f.serial.empty());
  EXPECT_TRUE(
      std::regex_match(TraceHeaderLines(f, "d t")[5], std::regex(R"(System disk: / \(-?\d+\))")));
}

}  // namespace
}  // namespace kestrum
