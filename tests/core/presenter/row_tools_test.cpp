#include <gtest/gtest.h>
#include <sys/stat.h>

#include "core/presenter/main_presenter.h"
#include "listing_fixture.h"

namespace kestrum {
namespace {

// The launcher as a recorder: what each entry asked the system to do.
struct LaunchRecorder : Launcher {
  std::vector<std::string>* log;
  std::string failWith;
  explicit LaunchRecorder(std::vector<std::string>* l) : log(l) {}
  std::string Start(const std::vector<std::string>& argv, const std::string& folder) override {
    std::string line = "start";
    for (const std::string& a : argv) line += " [" + a + "]";
    log->push_back(line + " in " + folder);
    return failWith;
  }
  std::string OpenDefault(const std::string& uri) override {
    log->push_back("open " + uri);
    return failWith;
  }
  void ShowItems(const std::vector<std::string>& paths) override {
    std::string line = "show";
    for (const std::string& p : paths) line += " [" + p + "]";
    log->push_back(line);
  }
};

struct RowToolsWorld {
  test::ListingWorld w{[](const test::TempDir& d, const std::string&) {
    d.Write("drive/dir/it's a \"file\"", "x");
    d.Write("drive/dir/sub/\xff", "y");
    ::chmod(d.Write("drive/dir/tool", "#!/bin/sh\n").c_str(), 0755);
  }};
  std::vector<std::string> log;
  LaunchRecorder* launcher;
  std::map<std::string, std::string> env;
  std::string dir;

  RowToolsWorld() {
    auto l = std::make_unique<LaunchRecorder>(&log);
    launcher = l.get();
    w.p->SetLauncher(std::move(l));
    w.p->Environment = [this](const char* name) { return env[name]; };
    w.p->Toggles().ShowFiles = true;
    w.TreeClick(w.Child(w.RootFolderNode(), "dir"));
    dir = w.drivePath + "/dir";
  }
  // Selects the rows named, and no other.
  void Select(std::initializer_list<const char*> names) {
    for (std::size_t i = 1; i <= w.List().Count(); ++i) w.p->List().SetSelected(i, false);
    for (const char* n : names) {
      ASSERT_NE(w.RowOf(n), 0u) << n;
      w.p->List().SetSelected(w.RowOf(n), true);
    }
  }
};

TEST(RowTools, EachEntryHandsTheRowsToItsProgram) {
  RowToolsWorld t;
  const std::string file = t.dir + "/it's a \"file\"";
  t.Select({"it's a \"file\"", "sub"});
  t.w.p->MenuClick("FileMenuOpen");
  t.w.p->MenuClick("mnuFileShowInFolder");
  t.env["PATH"] = "/bin:/usr/bin";
  const std::string term = FindProgram("sh", "/bin:/usr/bin");
  t.env["TERMINAL"] = "sh -x";
  t.w.p->MenuClick("FileMenuTerminal");
  EXPECT_EQ(t.log, (std::vector<std::string>{
                       "open file://" + t.dir + "/it's%20a%20%22file%22",
                       "open file://" + t.dir + "/sub",
                       "show [" + file + "] [" + t.dir + "/sub]",
                       "start [" + term + "] [-x] in " + t.dir,
                       "start [" + term + "] [-x] in " + t.dir + "/sub",
                   }));
  EXPECT_TRUE(t.w.view.questions.empty());
  t.w.p->MenuClick("mnuFileCopyPath");
  EXPECT_EQ(t.w.view.clipboard, (std::vector<std::string>{file + "\n" + t.dir + "/sub", ""}));
}

TEST(RowTools, AskFirstAndSayWhatFailed) {
  RowToolsWorld t;
  // An executable is asked about first; the answer in the recorder is no.
  t.Select({"tool"});
  t.w.p->MenuClick("mnuFileOpen");
  ASSERT_EQ(t.w.view.questions.size(), 1u);
  EXPECT_TRUE(t.log.empty());
  // No terminal anywhere: the message names what was tried.
  t.env["PATH"] = t.w.dir.Path() + "/nothing";
  t.w.p->MenuClick("mnuFileTerminal");
  ASSERT_EQ(t.w.view.messages.size(), 1u);
  EXPECT_NE(t.w.view.messages[0].find("x-terminal-emulator"), std::string::npos);
  // The handler refused: reported, never as done.
  t.launcher->failWith = "no handler";
  t.Select({"it's a \"file\""});
  t.w.p->MenuClick("FileMenuOpen");
  ASSERT_EQ(t.w.view.messages.size(), 2u);
  EXPECT_EQ(t.w.view.messages[1], "Could not open:\n" + t.dir + "/it's a \"file\": no handler\n");
}

// A user command that asks first runs nothing when the answer is no; one for folders says so
// when only files are selected.
TEST(RowTools, UserCommandsAskAndChooseTheirRows) {
  RowToolsWorld t;
  const std::string conf = t.w.dir.Path() + "/k.conf";
  {
    IniFile s;
    WriteUserCommands(s, {{"Touch", "touch {path}.done", AppliesTo::Both, true, false, true},
                          {"Clean", "make -C {path} clean", AppliesTo::Folders, false, false, true}});
    ASSERT_TRUE(s.Save(conf));
  }
  t.w.p->LoadUserCommands(conf);
  t.Select({"tool", "sub"});
  t.w.p->MenuClick("FileMenuUser0");
  ASSERT_EQ(t.w.view.questions, std::vector<std::string>{"Run \"Touch\" 2 times?"});
  EXPECT_FALSE(t.w.p->Slot().Busy());
  t.Select({"tool"});
  t.w.p->MenuClick("mnuToolsUser1");
  EXPECT_EQ(t.w.view.messages,
            std::vector<std::string>{"\"Clean\" is for folders: none of the selected rows is one."});
  EXPECT_FALSE(t.w.p->Slot().Busy());
  EXPECT_EQ(test::Names(t.dir).count("tool.done"), 0u);
}

}  // namespace
}  // namespace kestrum
