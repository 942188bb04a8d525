#include <gtest/gtest.h>

#include <cctype>
#include <set>

#include "core/commands/status_texts.h"
#include "core/scan/scanning.h"
#include "core/presenter/actions.h"
#include "core/presenter/main_presenter.h"
#include "core/presenter/treemap_pane.h"
#include "support/test_support.h"

namespace kestrum {
namespace {

// Records what the rules ask of the window.
class Recorder : public MainView {
 public:
  CExplorer* explorer = nullptr;
  std::vector<std::string> status, messages, paths;
  std::vector<NodeId> selected, expanded;
  int closes = 0, syncs = 0;
  bool toolbar = true, statusBar = true;
  void SetStatus(const std::string& t) override { status.push_back(t); }
  void SetPathLabel(const std::string& t) override { paths.push_back(t); }
  void ShowMessage(const std::string& t) override { messages.push_back(t); }
  void SetTreeEnabled(bool) override {}
  void SelectNode(NodeId n) override { selected.push_back(n); }
  void ExpandNode(NodeId n) override {
    expanded.push_back(n);
    explorer->TV_Expand(n);
  }
  void CloseWindow() override { ++closes; }
  void ShowBars(bool t, bool s) override {
    toolbar = t;
    statusBar = s;
  }
  void SyncToggles() override { ++syncs; }
};

struct PresenterTest : ::testing::Test {
  test::TempDir dir;
  Recorder view;
  std::unique_ptr<MainPresenter> p;
  void SetUp() override {
    const std::string a = dir.Mkdir("a"), b = dir.Mkdir("b");
    const std::string table = dir.Write("mountinfo", "1 0 8:1 / " + a +
                                                         " rw - ext4 /dev/sdz1 rw\n"
                                                         "2 0 0:9 / " +
                                                         b + " rw - tmpfs tmpfs rw\n");
    p = std::make_unique<MainPresenter>(
        view, [this, table] { return test::VolumesFromTable(table, dir.Path()); });
    view.explorer = &p->Explorer();
    Scanning = false;
  }
  void TearDown() override { Scanning = false; }
};

TEST_F(PresenterTest, LoadDisksBuildsTheTreeInTableOrder) {
  p->LoadDisks();
  CExplorer& ex = p->Explorer();
  const NodeId root = ex.FirstNode();
  ASSERT_NE(root, kNoNode);
  EXPECT_EQ(ex.Node(root)->Text, "My Computer");
  ASSERT_EQ(ex.ChildCount(root), 2);
  // Drives come in mount-table order: the root itself does not sort its children.
  EXPECT_EQ(ex.Node(ex.Node(root)->Kids[0])->Text, "(" + dir.Path() + "/a)");
  EXPECT_EQ(ex.Node(ex.Node(root)->Kids[1])->Text, "(" + dir.Path() + "/b)");
  const NodeId drive = ex.Node(root)->Kids[0];
  EXPECT_EQ(ex.Node(drive)->Image, "HardDrive");
  EXPECT_EQ(ex.ChildCount(drive), 1);  // the placeholder: the drive is ready
  EXPECT_TRUE(ex.Node(drive)->Sorted);
  DiskObject* d = std::get<DiskObject*>(ex.ItemData(drive));
  EXPECT_EQ(d->Node, drive);
  // The tree's click on the root lists the drives.
  EXPECT_EQ(view.status, (std::vector<std::string>{"Finding disks...", "Done", "2 disk volumes"}));
  EXPECT_EQ(view.selected, std::vector<NodeId>{root});
  EXPECT_EQ(view.expanded, std::vector<NodeId>{root});
  EXPECT_EQ(ex.SelectedItem(), root);
  EXPECT_EQ(view.paths.back(), "My Computer");
  EXPECT_FALSE(Scanning);

  // Rediscovery replaces the whole model, and is refused while a scan runs.
  DiskCollection* before = p->DiskList();
  Scanning = true;
  p->MenuClick("mnuScanDisks");
  EXPECT_EQ(p->DiskList(), before);
  Scanning = false;
  p->MenuClick("mnuScanDisks");
  EXPECT_EQ(p->Explorer().NodeCount(), 5u);  // root, two drives, their placeholders
}

// Which state refuses which entry, from each place it is given, and what the status line says.
TEST_F(PresenterTest, EachEntryIsRefusedByItsGuardWithItsStatusLine) {
  p->LoadDisks();
  enum State { Idle, Scan, Slot, Pending };
  const std::string busy = kBusyStatus, pending = kListingPendingStatus;
  struct Case {
    const char* entry;
    bool button;
    State state;
    std::string refusal;  // "" when the entry is given
  };
  const Case cases[] = {
      {"ScanDisks", true, Scan, busy},
      {"ScanDisks", true, Slot, busy},
      {"Back", true, Scan, busy},
      {"mnuViewBackUp", false, Slot, busy},
      {"mnuScanDisks", false, Scan, busy},
      {"mnuScanFolder", false, Slot, busy},
      {"mnuExportScan", false, Scan, busy},
      {"mnuOpenScan", false, Slot, busy},
      {"Delete", true, Scan, busy},
      {"Recycle", true, Pending, pending},
      {"Zip", true, Slot, busy},
      {"mnuFileDelete", false, Pending, pending},
      {"mnuFileZip", false, Scan, busy},
      {"mnuFileRecycle", false, Slot, busy},
      {"FileMenuDelete", false, Scan, ""},
      {"FileMenuZip", false, Slot, busy},
      {"FileMenuRecycle", false, Pending, pending},
      {"mnuFileProp", false, Pending, pending},
      {"FileMenuProperties", false, Slot, ""},
      {"mnuFileProp", false, Scan, ""},
      {"Stop", true, Slot, ""},
      {"mnuViewCD", false, Scan, ""},
      {"Delete", true, Idle, ""},
      {"mnuFileOpen", false, Scan, ""},
      {"FileMenuTerminal", false, Slot, ""},
      {"mnuFileShowInFolder", false, Pending, pending},
      {"FileMenuCopyPath", false, Pending, pending},
      {"mnuFileCopyPath", false, Slot, ""},
      {"FileMenuUser0", false, Scan, busy},
      {"mnuToolsUser0", false, Slot, busy},
      {"FileMenuUser0", false, Pending, pending},
      {"mnuToolsCommands", false, Slot, ""},
  };
  for (const Case& c : cases) {
    Scanning = c.state == Scan;
    if (c.state == Slot) {
      ASSERT_TRUE(p->Slot().Acquire());
    }
    p->SetListingPending(c.state == Pending);
    view.status.clear();
    if (c.button) {
      p->tbToolBar_ButtonClick(c.entry);
    } else {
      p->MenuClick(c.entry);
    }
    const bool refused =
        !view.status.empty() && (view.status.back() == busy || view.status.back() == pending);
    EXPECT_EQ(refused ? view.status.back() : "", c.refusal) << c.entry << " in state " << c.state;
    if (c.state == Slot) p->Slot().Release();
  }
  p->SetListingPending(false);
  Scanning = false;
}

// The switches change even while a scan runs; the list follows them only when it is safe.
TEST_F(PresenterTest, SwitchesDuringAScanLeaveTheListAlone) {
  p->LoadDisks();
  const std::size_t listings = p->Listing().Generation;
  Scanning = true;
  p->tbToolBar_ButtonClick("Files");
  EXPECT_TRUE(p->Toggles().ShowFiles);
  EXPECT_EQ(p->Listing().Generation, listings);
  p->tbToolBar_ButtonClick("Stop");
  EXPECT_FALSE(Scanning);
  p->MenuClick("mnuViewAllocated");
  EXPECT_TRUE(p->Toggles().Allocated);
  EXPECT_EQ(p->Listing().Generation, listings + 1);
  Scanning = true;
  p->MenuClick("mnuScanStop");
  EXPECT_FALSE(Scanning);
}

TEST_F(PresenterTest, TogglesStayInStepAndBarsRelayout) {
  const int syncs = view.syncs;
  p->MenuClick("mnuViewAllocated");
  EXPECT_TRUE(p->Toggles().Allocated);
  p->tbToolBar_ButtonClick("Allocated");
  EXPECT_FALSE(p->Toggles().Allocated);
  p->MenuClick("mnuViewCD");
  p->tbToolBar_ButtonClick("CDDrives");
  EXPECT_FALSE(p->Toggles().CDDrives);
  EXPECT_EQ(view.syncs, syncs + 4);
  p->MenuClick("mnuViewToolbar");
  EXPECT_FALSE(view.toolbar);
  p->MenuClick("mnuViewStatusBar");
  EXPECT_FALSE(view.statusBar);
  p->MenuClick("mnuViewToolbar");
  EXPECT_TRUE(view.toolbar);
  p->MenuClick("mnuFileExit");
  EXPECT_EQ(view.closes, 1);
}

// The kept switches reach the settings file the moment they change, leaving the rest of the
// file (the placement, which only the window's close writes) alone; the toolbar's two-state
// switches are never kept.
TEST_F(PresenterTest, KeptSwitchesAreWrittenAsTheyChange) {
  const std::string conf = dir.Write("conf/Kestrum.conf", "[Settings]\nMainWidth=1234\n");
  p->SetSettingsFile(conf);
  auto kept = [&] {
    IniFile s;
    s.Load(conf);
    return std::vector<std::optional<std::string>>{
        s.Get("Settings", "CountHardLinksOnce"), s.Get("Settings", "Treemap"),
        s.Get("Settings", "TreemapSplit"), s.Get("Settings", "MainWidth")};
  };
  using Kept = std::vector<std::optional<std::string>>;
  const std::string split = "0.4000";
  const struct {
    const char* click;  // a menu entry, or a toolbar button
    Kept want;
  } steps[] = {
      {"Files", {std::nullopt, std::nullopt, std::nullopt, "1234"}},
      {"Allocated", {std::nullopt, std::nullopt, std::nullopt, "1234"}},
      {"CDDrives", {std::nullopt, std::nullopt, std::nullopt, "1234"}},
      {"mnuViewHardLinks", {"0", "0", split, "1234"}},
      {"mnuViewTreemap", {"0", "1", split, "1234"}},
      {"mnuViewHardLinks", {"1", "1", split, "1234"}},
  };
  for (const auto& step : steps) {
    if (std::string(step.click).starts_with("mnu"))
      p->MenuClick(step.click);
    else
      p->tbToolBar_ButtonClick(step.click);
    EXPECT_EQ(kept(), step.want) << step.click;
  }
  // The pane's share follows the handle, within its bounds, and is kept when let go.
  SetTreemapSplit(*p, 0.95);
  EXPECT_EQ(p->MapPane().Split, 0.9);
  EXPECT_TRUE(p->KeepSettings());
  EXPECT_EQ(kept()[2], "0.9000");
  // The next run starts from them.
  Recorder again;
  MainPresenter next(again, [] { return std::make_unique<FileSystemService>(); });
  IniFile s;
  s.Load(conf);
  next.ReadKeptSettings(s);
  EXPECT_TRUE(next.Toggles().HardLinksOnce);
  EXPECT_TRUE(next.MapPane().Shown);
  EXPECT_EQ(next.MapPane().Split, 0.9);
  EXPECT_FALSE(next.Toggles().ShowFiles || next.Toggles().Allocated || next.Toggles().CDDrives);
  // A file that cannot be written is said so; the switch changes all the same.
  p->SetSettingsFile(dir.Path() + "/conf");
  std::string err;
  EXPECT_FALSE(p->KeepSettings(&err));
  EXPECT_FALSE(err.empty());
  p->MenuClick("mnuViewHardLinks");
  EXPECT_FALSE(p->Toggles().HardLinksOnce);
}

TEST(Commands, VocabularyAndTwins) {
  const auto& buttons = ToolbarButtons();
  ASSERT_EQ(buttons.size(), 9u);
  std::vector<std::string> keys;
  for (const auto& b : buttons) keys.push_back(b.Key);
  EXPECT_EQ(keys, (std::vector<std::string>{"ScanDisks", "Stop", "CDDrives", "Back", "Files",
                                            "Allocated", "Recycle", "Delete", "Zip"}));
  EXPECT_EQ(std::string(buttons[2].Image), "CDDrive");
  EXPECT_EQ(std::string(buttons[4].Image), "File");
  // A two-state button gives the command of a check item of the menu bar, and only those.
  for (const auto& b : buttons) {
    const char* twin = nullptr;
    for (const auto& m : MenuBar())
      for (const auto& e : m.Entries)
        if (e.Checkable && e.Does == b.Does) twin = e.Name;
    EXPECT_EQ(b.TwoState, twin != nullptr) << b.Key;
  }
  EXPECT_EQ(FindMenuEntry("FileMenuZip")->Does, Command::Zip);
  EXPECT_EQ(FindMenuEntry("nothing"), nullptr);
  ASSERT_EQ(MenuBar().size(), 4u);
  EXPECT_EQ(std::string(MenuBar()[0].Entries.back().Caption), "E&xit");
  EXPECT_EQ(std::string(MenuBar()[2].Caption), "&Tools");
  EXPECT_EQ(std::string(MenuBar()[3].Entries.back().Caption), "&About Kestrum...");
  EXPECT_EQ(FileMenu().Entries.size(), 13u);
  // Each entry of the row menu that acts on rows is also in the menu bar, with a key.
  for (const MenuEntry& e : FileMenu().Entries) {
    if (e.Does == Command::None || e.Does == Command::RefreshRow) continue;
    bool twin = false;
    for (const auto& m : MenuBar())
      for (const auto& b : m.Entries) twin = twin || b.Does == e.Does;
    EXPECT_TRUE(twin) << e.Name;
  }
  for (const char* name : {"mnuFileOpen", "mnuFileShowInFolder", "mnuFileTerminal",
                           "mnuFileCopyPath"})
    EXPECT_NE(FindMenuEntry(name)->Shortcut, nullptr) << name;
  EXPECT_EQ(UserCommandIndex(UserCommandEntryName(true, 12)), 12);
  EXPECT_EQ(UserCommandIndex(UserCommandEntryName(false, 0)), 0);
  for (const char* name : {"FileMenuUser", "FileMenuUserX", "mnuToolsUser-1", "FileMenuOpen"})
    EXPECT_EQ(UserCommandIndex(name), -1) << name;
}

// Within each menu and submenu every access key is taken once, and every key of the window
// once.
TEST(Commands, AccessKeysAndShortcutsAreUnique) {
  std::vector<const Menu*> menus;
  for (const Menu& m : MenuBar()) {
    menus.push_back(&m);
    for (const MenuEntry& e : m.Entries)
      if (e.Submenu) menus.push_back(e.Submenu);
  }
  menus.push_back(&FileMenu());
  std::set<std::string> keys = {"Ctrl+O", "F5", "Ctrl+M", "Ctrl+Shift+O", "F12"};
  for (std::size_t i = 0; i < 9; ++i) keys.insert(UserCommandShortcut(i));
  EXPECT_EQ(UserCommandShortcut(9), nullptr);
  for (const Menu* m : menus) {
    std::set<char> letters;
    for (const MenuEntry& e : m->Entries) {
      const std::string caption = e.Caption;
      const std::size_t amp = caption.find('&');
      if (caption == "-") continue;
      ASSERT_NE(amp, std::string::npos) << e.Name << " has no access key";
      const char key = static_cast<char>(std::tolower(caption[amp + 1]));
      EXPECT_TRUE(letters.insert(key).second) << m->Name << ": " << e.Name << " repeats &" << key;
      if (e.Shortcut) {
        EXPECT_TRUE(keys.insert(e.Shortcut).second) << e.Name << " " << e.Shortcut;
      }
    }
  }
}

}  // namespace
}  // namespace kestrum
