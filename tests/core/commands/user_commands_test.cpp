#include "core/commands/user_commands.h"

#include <gtest/gtest.h>

#include "core/commands/command_recorder.h"
#include "core/commands/row_tools.h"
#include "core/fileops/launch.h"
#include "core/scan/scanning.h"
#include "support/test_support.h"

namespace kestrum {
namespace {

RowTarget Target(const std::string& folder, const std::string& name, bool isFolder = false) {
  RowTarget t;
  t.Folder = folder;
  t.Name = name;
  t.FullPath = folder + name;
  t.IsFolder = isFolder;
  return t;
}

// A command kept and read back is the same command, newlines and quotes included; without a
// list of the user's the disabled examples are offered.
TEST(UserCommands, KeptInTheSettingsFile) {
  IniFile empty;
  const std::vector<UserCommand> examples = ReadUserCommands(empty);
  ASSERT_GE(examples.size(), 3u);
  for (const UserCommand& c : examples) {
    EXPECT_FALSE(c.Enabled) << c.Title;
    EXPECT_EQ(CheckUserCommand(c), "") << c.Title;
  }

  test::TempDir d;
  const std::string path = d.Path() + "/Kestrum/Kestrum.conf";
  const std::vector<UserCommand> mine = {
      {"Say \"hi\" & go", "printf '%s\\n' {name}\necho \"two\"; echo \\t", AppliesTo::Files,
       false, true, true},
      {"Folders", "du -sh {path}", AppliesTo::Folders, true, false, false},
  };
  {
    IniFile s;
    s.Set("Settings", "MainLeft", "5");
    WriteUserCommands(s, examples);
    WriteUserCommands(s, mine);  // replaces, never adds to, the list
    ASSERT_TRUE(s.Save(path));
  }
  IniFile s;
  ASSERT_EQ(s.Load(path), IniFile::LoadResult::Loaded);
  EXPECT_EQ(ReadUserCommands(s), mine);
  EXPECT_EQ(s.Get("Settings", "MainLeft"), "5");
  WriteUserCommands(s, {});
  EXPECT_TRUE(ReadUserCommands(s).empty());  // an emptied list stays empty
}

TEST(UserCommands, AGarbledEntryIsSkippedAndTheRestRead) {
  test::TempDir d;
  const std::string good = "Title=Good\nCommandLine=true\n";
  struct Case {
    const char* what;
    std::string group;
  };
  const Case cases[] = {
      {"no title", "[Command 2]\nCommandLine=true\n"},
      {"empty command line", "[Command 2]\nTitle=T\nCommandLine=\n"},
      {"not UTF-8", "[Command 2]\nTitle=\xff\nCommandLine=true\n"},
      {"unknown rows", "[Command 2]\nTitle=T\nCommandLine=true\nAppliesTo=Links\n"},
      {"switch", "[Command 2]\nTitle=T\nCommandLine=true\nConfirm=yes\n"},
      {"number", "[Command two]\nTitle=T\nCommandLine=true\n"},
      {"number taken", "[Command 01]\nTitle=T\nCommandLine=true\n"},
  };
  for (const Case& c : cases) {
    const std::string file =
        d.Write("k.conf", "[Commands]\nCount=2\n[Command 1]\n" + good + c.group + "[Command 3]\n" +
                              "Title=Third\nCommandLine=ls\nAppliesTo=Folders\n");
    IniFile s;
    ASSERT_EQ(s.Load(file), IniFile::LoadResult::Loaded) << c.what;
    const std::vector<UserCommand> read = ReadUserCommands(s);
    ASSERT_EQ(read.size(), 2u) << c.what;
    EXPECT_EQ(read[0].Title, "Good");
    EXPECT_TRUE(read[0].Confirm);  // missing switches take their defaults
    EXPECT_TRUE(read[0].Enabled);
    EXPECT_EQ(read[1].Title, "Third");
    EXPECT_EQ(read[1].Applies, AppliesTo::Folders);
  }
}

// Each placeholder arrives as one argument, byte for byte, whatever the name holds.
TEST(UserCommands, PlaceholdersReachTheCommandAsOneArgumentEach) {
  test::TempDir d;
  const std::string line = "printf '%s\\0' {path} {name} {folder} \"$PWD\" > \"$OUT\"";
  for (const std::string name : {"a b", "it's \"q\"", "$(touch pwned)", "`touch pwned`",
                                 "two\nlines", "\xfe\xff", "-rf", "x;y|z&"}) {
    const std::string folder = d.Mkdir("in 'dir' $x");
    const RowTarget t = Target(folder + "/", name);
    const UserCommandStep step{ExpandCommandLine(line, t), ContainingFolder(t)};
    EXPECT_EQ(step.Folder, folder);
    ::setenv("OUT", (d.Path() + "/out").c_str(), 1);
    const ShellRun run = RunShellLine(step.Line, step.Folder, nullptr, [] { return false; });
    ::unsetenv("OUT");
    ASSERT_EQ(DescribeRun(run), "exit status 0") << name;
    const std::string nul(1, '\0');
    EXPECT_EQ(test::Slurp(d.Path() + "/out"),
              t.FullPath + nul + name + nul + folder + nul + folder + nul)
        << name;
    EXPECT_EQ(test::Names(folder).count("pwned"), 0u);
  }
  EXPECT_EQ(ContainingFolder(Target("/", "etc", true)), "/");
  EXPECT_EQ(ExpandCommandLine("{path}{nope}{", Target("/a/", "b")), "'/a/b'{nope}{");
  EXPECT_EQ(UserCommandCaption("Tar & &Feather"), "Tar && &&Feather");
}

TEST(UserCommands, RowsAreChosenByWhatTheCommandIsFor) {
  TargetSelection sel;
  sel.Targets = {Target("/v/", "f.txt"), Target("/v/", "dir", true)};
  sel.LeftOut = 1;
  struct Case {
    AppliesTo applies;
    std::vector<std::string> lines;
    std::size_t leftOut;
  };
  const Case cases[] = {
      {AppliesTo::Files, {"x '/v/f.txt'"}, 2},
      {AppliesTo::Folders, {"x '/v/dir'"}, 2},
      {AppliesTo::Both, {"x '/v/f.txt'", "x '/v/dir'"}, 1},
  };
  for (const Case& c : cases) {
    const UserCommandPlan plan = PlanUserCommand({"T", "x {path}", c.applies}, sel);
    std::vector<std::string> lines;
    for (const auto& s : plan.Steps) lines.push_back(s.Line);
    EXPECT_EQ(lines, c.lines);
    EXPECT_EQ(plan.LeftOut, c.leftOut);
    EXPECT_EQ(plan.Message, "");
  }
  sel.Targets.pop_back();
  EXPECT_EQ(PlanUserCommand({"Clean", "x", AppliesTo::Folders}, sel).Message,
            "\"Clean\" is for folders: none of the selected rows is one.");
}

struct Output : CommandOutput {
  std::string text, summary;
  int finished = 0;
  bool ok = true;
  void Append(const std::string& b) override { text += b; }
  void Finished(const std::string& s, bool o) override {
    summary = s;
    ok = o;
    ++finished;
  }
};

TEST(UserCommandRunner, RunsEachStepAndReportsFailureWithItsStatus) {
  test::TempDir d;
  test::CommandRecorder window;
  CommandSlot slot(window.queue);
  UserCommandRunner runner(window, slot);
  auto out = std::make_shared<Output>();
  std::vector<bool> done;
  ASSERT_TRUE(runner.Start("Check", {{"echo one", d.Path()}, {"echo two; exit 4", d.Path()}}, out,
                           [&done](bool ok) { done.push_back(ok); }));
  EXPECT_TRUE(Scanning);
  EXPECT_FALSE(runner.Start("Again", {{"true", d.Path()}}, nullptr, nullptr));  // slot taken
  window.Pump(slot);
  EXPECT_EQ(out->text, "$ echo one\none\n[exit status 0]\n$ echo two; exit 4\ntwo\n[exit status 4]\n");
  EXPECT_EQ(out->finished, 1);
  EXPECT_FALSE(out->ok);
  EXPECT_EQ(out->summary, "1 of 2 runs failed; last: exit status 4");
  EXPECT_EQ(done, std::vector<bool>{false});
  EXPECT_EQ(window.Statuses().back(), "Check: 1 of 2 runs failed; last: exit status 4");
  EXPECT_FALSE(slot.Busy());
  EXPECT_FALSE(Scanning);

  // Stopped before its first step or during it: it says so, never success.
  out = std::make_shared<Output>();
  ASSERT_TRUE(runner.Start("Stopped", {{"sleep 30", d.Path()}}, out, nullptr));
  CommandSlot::Stop();
  window.Pump(slot);
  slot.Join();
  EXPECT_FALSE(out->ok);
  EXPECT_EQ(out->summary.substr(0, 7), "stopped");
}

TEST(RowTools, ClipboardOpenAndTerminalRules) {
  const std::vector<RowTarget> utf8 = {Target("/v/", "a b"), Target("/v/", "c", true)};
  ClipboardPaths c = PathsForClipboard(utf8);
  EXPECT_EQ(c.Text, "/v/a b\n/v/c");
  EXPECT_EQ(c.UriList, "");
  c = PathsForClipboard({Target("/v/", "\xff\n"), Target("/w/", "\xc3\xa9")});
  EXPECT_EQ(c.Text, "/v/\xff\n\n/w/\xc3\xa9");
  EXPECT_EQ(c.UriList, "file:///v/%FF%0A\r\nfile:///w/%C3%A9\r\n");

  const auto many = [](std::size_t n) {
    std::vector<RowTarget> out;
    for (std::size_t i = 0; i < n; ++i) out.push_back(Target("/v/" + std::to_string(i) + "/", "f"));
    return out;
  };
  const auto runsIfScript = [](const std::string& p) { return p.find(".sh") != std::string::npos; };
  struct Case {
    std::vector<RowTarget> rows;
    bool asks;
  };
  const Case cases[] = {
      {many(1), false},
      {many(10), false},
      {many(11), true},
      {{Target("/v/", "run.sh")}, true},
      {{Target("/v/", "dir.sh", true)}, false},  // a folder is shown, never run
  };
  for (const Case& k : cases) {
    const OpenPlan plan = PlanOpen(k.rows, runsIfScript);
    EXPECT_EQ(plan.Uris.size(), k.rows.size());
    EXPECT_EQ(!plan.Question.empty(), k.asks) << k.rows.size() << " " << k.rows[0].Name;
  }
  EXPECT_EQ(PlanOpen({Target("/v/", "x y")}, nullptr).Uris[0], "file:///v/x%20y");

  const TerminalPlan t =
      PlanTerminals({Target("/v/", "a"), Target("/v/", "b"), Target("/v/", "d", true)});
  EXPECT_EQ(t.Folders, (std::vector<std::string>{"/v", "/v/d"}));
  EXPECT_EQ(t.Question, "");
  EXPECT_FALSE(PlanTerminals(many(11)).Question.empty());
}

}  // namespace
}  // namespace kestrum
