#include "core/fileops/launch.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/test_support.h"

namespace kestrum {
namespace {

// Names built to break a command line that is not quoted right.
const std::vector<std::string>& HostileNames() {
  static const std::vector<std::string> kNames = {
      "plain",        "two words",   "it's",         "\"double\"",  "$HOME",
      "`id`",         "$(id)",       "new\nline",    "tab\there",   "\xff\xfe not utf-8",
      "-n",           "*",           "a;rm -rf b",   "back\\slash", "''",
      "' '",          "end'",        "{path}",       "!bang",       "trailing space ",
  };
  return kNames;
}

ShellRun RunLine(const std::string& line, const std::string& folder, std::string* out = nullptr) {
  return RunShellLine(
      line, folder,
      [out](std::string_view b) {
        if (out) out->append(b);
      },
      [] { return false; });
}

TEST(Launch, AQuotedWordReachesTheCommandByteForByte) {
  test::TempDir d;
  for (const std::string& name : HostileNames()) {
    // printf writes each argument it gets between two NULs: exactly one argument arrives.
    const std::string line = "printf '\\0%s\\0' " + ShellQuote(name) + " > out";
    const ShellRun run = RunLine(line, d.Path());
    ASSERT_TRUE(run.Started) << run.Error;
    EXPECT_EQ(run.ExitCode, 0) << name;
    EXPECT_EQ(test::Slurp(d.Path() + "/out"), std::string(1, '\0') + name + std::string(1, '\0'))
        << name;
  }
}

TEST(Launch, ShellRunsReportOutputFolderStatusAndStop) {
  test::TempDir d;
  const std::string sub = d.Mkdir("sub dir");
  std::string out;
  ShellRun run = RunLine("pwd; echo to-stderr >&2; exit 3", sub, &out);
  EXPECT_EQ(out, sub + "\nto-stderr\n");
  EXPECT_EQ(run.ExitCode, 3);
  EXPECT_EQ(DescribeRun(run), "exit status 3");

  run = RunLine("kill -TERM $$", sub);
  EXPECT_EQ(DescribeRun(run), "ended by signal 15");

  run = RunLine("true", d.Path() + "/missing");
  EXPECT_FALSE(run.Started);
  EXPECT_EQ(DescribeRun(run).rfind("did not start: " + d.Path() + "/missing: ", 0), 0u);

  // A stop ends the whole group, the shell's children too, and is said as such.
  run = RunShellLine("sleep 30 & sleep 30; wait", d.Path(), nullptr, [] { return true; });
  EXPECT_TRUE(run.Stopped);
  EXPECT_EQ(DescribeRun(run), "stopped");

  // A program left running in the background with the pipe open does not hold the run.
  out.clear();
  run = RunLine("(sleep 30 > /dev/null 2>&1 &); echo done", d.Path(), &out);
  EXPECT_EQ(out, "done\n");
  EXPECT_EQ(run.ExitCode, 0);
}

TEST(Launch, ProgramsAreFoundOnThePathAndTheTerminalInItsOrder) {
  test::TempDir d;
  const std::string bin = d.Mkdir("bin"), other = d.Mkdir("other");
  const auto tool = [&d](const std::string& relative) {
    const std::string p = d.Write(relative, "#!/bin/sh\n");
    ::chmod(p.c_str(), 0755);
    return p;
  };
  const std::string xterm = tool("bin/xterm"), mine = tool("other/my term");
  const std::string konsole = tool("other/konsole"), xte = tool("other/x-terminal-emulator");
  d.Write("bin/konsole", "not executable");
  const std::string path = "relative::" + bin + ":" + other;
  EXPECT_EQ(FindProgram("konsole", path), konsole);  // the first executable one
  EXPECT_EQ(FindProgram("nothing", path), "");
  EXPECT_EQ(FindProgram(xterm, ""), xterm);

  struct Case {
    const char* terminal;
    std::string pathList;
    std::vector<std::string> argv;
  };
  const Case cases[] = {
      {nullptr, path, {xte}},
      {"xterm -e bash", path, {xterm, "-e", "bash"}},
      {"'my term' --here", other, {mine, "--here"}},
      {"missing-terminal", bin, {xterm}},  // set but not found: the others are tried
      {"", bin + ":" + other, {xte}},
      {nullptr, bin, {xterm}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FindTerminal(c.terminal, c.pathList).Argv, c.argv)
        << (c.terminal ? c.terminal : "(unset)") << " on " << c.pathList;
  }
  const TerminalChoice none = FindTerminal("gone", d.Path() + "/empty");
  EXPECT_TRUE(none.Argv.empty());
  const std::string message = NoTerminalMessage(none);
  for (const char* tried : {"$TERMINAL (gone)", "x-terminal-emulator", "xdg-terminal-exec",
                            "gnome-terminal", "konsole", "xterm"})
    EXPECT_NE(message.find(tried), std::string::npos) << tried;
}

TEST(Launch, FilesThatMayRunAreToldFromDocuments) {
  test::TempDir d;
  struct Case {
    const char* name;
    const char* content;
    unsigned mode;
    bool runs;
  };
  const Case cases[] = {
      {"notes.txt", "hello", 0644, false},     {"photo.jpg", "\xff\xd8\xff", 0644, false},
      {"tool", "\x7f" "ELF", 0755, true},      {"script", "#!/bin/sh\n", 0644, true},
      {"app.desktop", "[Desktop Entry]\n", 0644, true},
      {"Setup.PY", "print(1)\n", 0644, true},  {"run.sh", "echo\n", 0644, true},
  };
  for (const Case& c : cases) {
    const std::string p = d.Write(c.name, c.content);
    ::chmod(p.c_str(), c.mode);
    EXPECT_EQ(MayRunWhenOpened(p), c.runs) << c.name;
  }
  EXPECT_FALSE(MayRunWhenOpened(d.Mkdir("folder.sh")));
  EXPECT_FALSE(MayRunWhenOpened(d.Path() + "/missing"));
}

}  // namespace
}  // namespace kestrum
