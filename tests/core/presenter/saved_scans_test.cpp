#include "core/presenter/saved_scans.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include "core/platform/numbers.h"
#include "core/saved/json_export.h"
#include "core/saved/saved_support.h"
#include "core/rows/list_cells.h"
#include "listing_fixture.h"

namespace kestrum {
namespace {

// A saved scan of the world's drive, taken before the drive changed, opened in the window.
struct SavedWorld {
  test::ListingWorld w{[](const test::TempDir& d, const std::string&) {
    d.Write("drive/a/one", std::string(3000, 'x'));
    d.Write("drive/two", "22");
  }};
  DiskObject* entry = nullptr;

  SavedWorld() {
    const std::string text = test::SavedScanText(w.drivePath);
    const std::string file = w.dir.Write("server.json", text);
    ::unlink((w.drivePath + "/two").c_str());
    w.dir.Write("drive/three", "333");
    Open({file, w.dir.Write("broken.json", "[1,2,{},[")});
    for (const auto& d : *w.p->DiskList())
      if (d->Class == ObjectClass::Import) entry = d.get();
  }
  void Open(const std::vector<std::string>& files) {
    Start(files);
    Finish();
  }
  // The import runs on the worker between these two.
  void Start(const std::vector<std::string>& files) {
    w.p->Queue()->Connect([this](std::function<void()> t) { w.tasks.Post(std::move(t)); });
    ImportScans(*w.p, files);
  }
  void Finish() {
    w.tasks.RunWhile([this] { return w.p->Slot().Busy(); });
    w.p->Queue()->Disconnect();
  }
  NodeId RootFolder() { return w.Ex().Node(entry->Node)->Kids.front(); }
};

bool Listed(test::ListingWorld& w, const std::string& name) {
  for (const std::string& t : w.Texts())
    if (t.rfind(name, 0) == 0) return true;
  return false;
}

TEST(SavedScans, ListsTheFileNotTheDisk) {
  SavedWorld s;
  ASSERT_NE(s.entry, nullptr);
  EXPECT_EQ(s.w.p->DiskList()->Count(),
            3u);  // root, drive, one saved scan; the broken file adds nothing
  EXPECT_EQ(s.w.Ex().Node(s.entry->Node)->Text, s.w.drivePath + " (server.json)");
  EXPECT_EQ(s.w.Ex().Node(s.entry->Node)->Image, "SavedScan");
  s.w.p->Toggles().ShowFiles = true;
  s.w.TreeClick(s.RootFolder());
  EXPECT_TRUE(Listed(s.w, "two"));     // gone from the disk, kept in the file
  EXPECT_FALSE(Listed(s.w, "three"));  // on the disk, not in the file
  EXPECT_TRUE(Listed(s.w, "a"));
  // The statistics say only what the file knows.
  s.w.TreeClick(s.entry->Node);
  EXPECT_TRUE(Listed(s.w, "Files"));
  EXPECT_FALSE(Listed(s.w, "Device Size"));
  EXPECT_FALSE(Listed(s.w, "Free Space"));
  // My Computer lists it after the drive, with what it holds as its size.
  s.w.TreeClick(s.w.Root());
  const ListRow& row = s.w.Row(s.w.Ex().Node(s.entry->Node)->Text);
  EXPECT_EQ(row.Cell(1), SizeText(3002));
  // Rediscovery keeps it, with its tree.
  s.w.p->LoadDisks();
  const DiskObject* kept = s.w.p->DiskList()->Find(s.entry->OwnPath());
  ASSERT_NE(kept, nullptr);
  EXPECT_EQ(kept->Class, ObjectClass::Import);
  EXPECT_EQ(s.w.Ex().ChildCount(kept->Node), 1);
}

TEST(SavedScans, EveryCommandIsRefusedAndTouchesNothing) {
  SavedWorld s;
  ASSERT_NE(s.entry, nullptr);
  s.w.p->Toggles().ShowFiles = true;
  const NodeId a = s.w.Child(s.RootFolder(), "a");
  s.w.TreeClick(a);
  ASSERT_TRUE(Listed(s.w, "one"));
  s.w.view.messages.clear();  // the broken file's
  for (const char* name :
       {"mnuFileDelete", "mnuFileRecycle", "mnuFileZip", "mnuFileProp", "FileMenuDelete",
        "FileMenuRecycle", "FileMenuZip", "FileMenuProperties", "FileMenuRefresh", "mnuFileOpen",
        "FileMenuOpen", "mnuFileShowInFolder", "FileMenuShowInFolder", "mnuFileTerminal",
        "FileMenuTerminal", "FileMenuUser0", "mnuToolsUser2"}) {
    for (std::size_t i = 1; i <= s.w.List().Count(); ++i) s.w.p->List().SetSelected(i, true);
    s.w.view.status.clear();
    s.w.p->MenuClick(name);
    ASSERT_FALSE(s.w.view.status.empty()) << name;
    EXPECT_EQ(s.w.view.status.back(), kSavedScanStatus) << name;
  }
  // The entry, and a folder of it, selected in the tree: no scan, no refresh.
  for (NodeId n : {s.entry->Node, a}) {
    s.w.Ex().SetSelectedItem(n);
    s.w.view.status.clear();
    s.w.p->tbToolBar_ButtonClick("ScanDisks");
    s.w.p->MenuClick("mnuViewRefresh");
    EXPECT_EQ(s.w.view.status, (std::vector<std::string>(2, kSavedScanStatus)));
    EXPECT_FALSE(s.w.p->Slot().Busy());
  }
  EXPECT_TRUE(s.w.view.questions.empty());
  EXPECT_TRUE(s.w.view.opened.empty());
  EXPECT_TRUE(s.w.view.messages.empty());
  // Only reading the rows' paths is allowed: they are the paths the file names.
  s.w.p->List().SetSelected(s.w.RowOf("one"), true);
  s.w.p->MenuClick("FileMenuCopyPath");
  EXPECT_EQ(s.w.view.clipboard,
            (std::vector<std::string>{s.w.drivePath + "/a/one", ""}));
  EXPECT_EQ(::access((s.w.drivePath + "/a/one").c_str(), F_OK), 0);
  // No pie chart: a saved scan knows no device.
  s.w.TreeClick(s.entry->Node);
  s.w.RowClick(1, kRightButton);
  EXPECT_TRUE(s.w.view.charts.empty());
}

// A failed import, and one stopped while it reads, leave the tree, the list and the selection
// as they were; only the failure gets a message. The status line follows the bytes read.
TEST(SavedScans, FailedOrStoppedImportChangesNothing) {
  SavedWorld s;
  ASSERT_NE(s.entry, nullptr);
  const std::string fifo = s.w.dir.Path() + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string broken = s.w.dir.Write("cut.json", "[1,2,{},[{\"name\":\"/x\"}");
  struct Case {
    std::string file;
    bool stop;  // Stop while the file is half written, else the file fails
    std::string status;
  };
  for (const Case& c : {Case{broken, false, "Open Scan failed: nothing was added"},
                        Case{fifo, true, "Open Scan stopped: nothing was added"}}) {
    s.w.TreeClick(s.w.Child(s.w.RootFolderNode(), "a"));
    const NodeId listed = s.w.p->SelectedNode();
    const std::vector<std::string> rows = s.w.Texts();
    const std::size_t entries = s.w.p->DiskList()->Count();
    const int nodes = s.w.Ex().ChildCount(s.w.Root());
    s.w.view.messages.clear();
    s.Start({c.file});
    EXPECT_TRUE(s.w.p->Refused(Guard::Busy, false)) << c.file;  // as while a scan runs
    if (c.stop) {
      const int fd = ::open(fifo.c_str(), O_WRONLY);  // the import holds it open for reading
      ASSERT_GE(fd, 0);
      const std::string part = "[1,2,{},[{\"name\":\"/srv\"},";
      ASSERT_EQ(::write(fd, part.data(), part.size()), static_cast<ssize_t>(part.size()));
      // No size for a stream: the bytes read alone.
      const std::string line = "Reading fifo: " + FormatSize(static_cast<double>(part.size()));
      while (s.w.p->Slot().ProgressLine() != line) std::this_thread::yield();
      s.w.p->tbToolBar_ButtonClick("Stop");
      s.Finish();
      ::close(fd);
    } else {
      s.Finish();
    }
    EXPECT_EQ(s.w.p->DiskList()->Count(), entries) << c.file;
    EXPECT_EQ(s.w.Ex().ChildCount(s.w.Root()), nodes) << c.file;
    EXPECT_EQ(s.w.p->SelectedNode(), listed) << c.file;
    EXPECT_EQ(s.w.Ex().SelectedItem(), listed) << c.file;
    EXPECT_EQ(s.w.Texts(), rows) << c.file;
    EXPECT_EQ(s.w.view.messages.size(), c.stop ? 0u : 1u) << c.file;
    EXPECT_EQ(s.w.view.status.back(), c.status);
    EXPECT_FALSE(s.w.p->Slot().Busy());
  }
}

}  // namespace
}  // namespace kestrum

namespace kestrum {
namespace {

// "Export Scan..." writes what the window holds, not the disk: a saved scan exports what its
// file said, whole or from a folder down, and compressed as its name asks.
TEST(SavedScans, ExportWritesTheTreeShownFromMemory) {
  SavedWorld s;
  ASSERT_NE(s.entry, nullptr);
  s.w.p->Queue()->Connect([&s](std::function<void()> t) { s.w.tasks.Post(std::move(t)); });
  const auto exportAs = [&s](NodeId node, const std::string& name) {
    s.w.Ex().SetSelectedItem(node);
    s.w.view.exportFile = s.w.dir.Path() + "/" + name;
    s.w.p->MenuClick("mnuExportScan");
    s.w.tasks.RunWhile([&s] { return s.w.p->Slot().Busy(); });
    return test::Import(s.w.view.exportFile);
  };
  const test::Imported whole = exportAs(s.entry->Node, "again.json.zst");
  ASSERT_TRUE(whole.Ok) << whole.Message;
  EXPECT_EQ(whole.Drive->UsedSpace, 3002);  // "two" is gone from the disk, not from the scan
  const test::Imported a = exportAs(s.w.Child(s.RootFolder(), "a"), "a.json.gz");
  ASSERT_TRUE(a.Ok) << a.Message;
  EXPECT_EQ(a.Drive->DiskObjects().Item(1)->Path(), s.w.drivePath + "/a/");
  EXPECT_EQ(a.Drive->UsedSpace, 3000);
  EXPECT_EQ(s.w.view.status.back(), "Done: the scan is saved in " + s.w.view.exportFile);
  s.w.p->Queue()->Disconnect();
}

}  // namespace
}  // namespace kestrum
