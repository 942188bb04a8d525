#include "core/commands/delete_files.h"

#include <gtest/gtest.h>

#include "core/adapter/row_tags.h"
#include "core/commands/command_recorder.h"
#include "core/commands/properties_command.h"
#include "core/fileops/fileops_support.h"
#include "core/fileops/properties.h"
#include "core/scan/scanning.h"
#include "support/test_support.h"

namespace kestrum {
namespace {

using test::Exists;

// A scanned drive over a real temporary folder:
//   T/a.txt  T/b.txt  T/sub/inner/x.txt  T/locked/in/y.txt (in is read-only)
// with its tree, its folders, the largest-files folder and two largest-files entries.
struct Drive {
  test::TempDir t;
  std::string T = t.Path();
  CExplorer ex;
  ListData list;
  DiskCollection disks;
  DiskObject *computer, *drive, *root, *sub, *inner, *locked, *folder100;
  NodeId nDrive, nRoot, nSub, nInner, nLocked, n100;
  test::CommandRecorder window;
  CommandSlot slot{window.queue};
  DeleteFilesCommand cmd{window, ex, list, slot};

  Drive() {
    t.Write("a.txt", "aaaa");
    t.Write("b.txt", "bb");
    t.Write("sub/inner/x.txt", "x");
    t.Write("locked/in/y.txt", "y");
    ::chmod((T + "/locked/in").c_str(), 0555);
    ex.Init(&list);
    auto c = std::make_unique<DiskObject>();
    c->Class = ObjectClass::Root;
    c->SetPath("My Computer");
    computer = disks.Add(std::move(c));
    auto d = std::make_unique<DiskObject>();
    d->Class = ObjectClass::Drive;
    d->SetPath(T);
    d->DriveForChange().RootFolder = T + "/";
    d->Parent = computer;
    drive = disks.Add(std::move(d));
    root = AddFolder("", nullptr);
    root->SetPath(T + "/");
    root->RootDirectory = true;
    root->Parent = drive;
    // What a scan keeps of the root's entries.
    drive->DriveForChange().Files = std::make_shared<FileStore>();
    EntryPacker packed;
    for (const char* name : {"a.txt", "b.txt"}) {
      StoredEntry e;
      e.Name = name;
      packed.Add(e);
    }
    root->FilesAt = drive->Drive().Files->AddFolder({}, packed);
    sub = AddFolder("sub", root);
    inner = AddFolder("inner", sub);
    locked = AddFolder("locked", root);
    AddFolder("in", locked);
    drive->DriveForChange().Folder100 = std::make_unique<DiskObject>();
    folder100 = drive->Drive().Folder100.get();
    folder100->Class = ObjectClass::Folder100;
    folder100->SetPath(T + "/100 Largest Files/");
    folder100->Parent = root;
    std::int32_t keys = 0;
    drive->AddLargest(T + "/a.txt", 4, 4096, keys);
    drive->AddLargest(T + "/b.txt", 2, 4096, keys);

    const NodeId nComputer = ex.AddNode("My Computer", computer, true);
    nDrive = ex.AddNode("(" + T + ")", drive, true, nComputer);
    nRoot = ex.AddNode(T + "/", root, true, nDrive);
    nSub = ex.AddNode("sub", sub, true, nRoot);
    nInner = ex.AddNode("inner", inner, false, nSub);
    nLocked = ex.AddNode("locked", locked, true, nRoot);
    n100 = ex.AddNode("100 Largest Files", folder100, false, nRoot);
    cmd.DiskList = [this] { return &disks; };
  }
  ~Drive() { ::chmod((T + "/locked/in").c_str(), 0755); }

  DiskObject* AddFolder(const std::string& name, DiskObject* parent) {
    auto f = std::make_unique<DiskObject>();
    f->Class = ObjectClass::Folder;
    f->Name = name;
    f->Parent = parent;
    return drive->DiskObjects().Add(std::move(f));
  }
  void FileRow(const std::string& text, bool selected = true, std::string key = {}) {
    ListRow r;
    r.Text = text;
    r.Tag = FileTag(1);
    r.Key = std::move(key);
    r.Selected = selected;
    list.Add(std::move(r));
  }
  void FolderRow(const std::string& text, NodeId node, bool selected = true) {
    ListRow r;
    r.Text = text;
    r.Tag = NodeTag(node);
    r.Selected = selected;
    list.Add(std::move(r));
  }
  void StatisticsRow() {
    ListRow r;
    r.Text = "Capacity";
    r.Selected = true;
    list.Add(std::move(r));
  }
  // The names the drive keeps for the root folder.
  std::string Kept() const {
    std::string out;
    drive->Drive().Files->ForEach(
        root->FilesAt, [&out](const StoredEntry& e) { out += std::string(e.Name) + " "; });
    return out;
  }
  // Gives the command and lets it run to its end.
  bool Run(DeleteAction action, NodeId listed) {
    const bool given = cmd.DeleteFiles(action, listed);
    window.RunAll(slot);
    return given;
  }
};

TEST(DeleteFiles, CancelAsksOnceAndChangesNothing) {
  Drive d;
  d.FileRow("a.txt");
  d.FolderRow("sub", d.nSub);
  d.FileRow("b.txt", false);
  d.StatisticsRow();
  d.window.Answer = false;
  EXPECT_TRUE(d.Run(DeleteAction::Delete, d.nRoot));
  ASSERT_EQ(d.window.Questions.size(), 1u);
  EXPECT_EQ(d.window.Questions[0], "Are you sure you want to Delete the selected objects?");
  EXPECT_EQ(d.window.Details[0], "2 objects will be deleted:\n" + d.T + "/a.txt\n" + d.T +
                                     "/sub/\n1 selected row is not a file or folder and will "
                                     "be left alone.\n");
  EXPECT_TRUE(Exists(d.T + "/a.txt"));
  EXPECT_TRUE(Exists(d.T + "/sub/inner/x.txt"));
  EXPECT_TRUE(d.ex.Exists(d.nSub));
  EXPECT_EQ(d.window.relists, 0);
  EXPECT_FALSE(d.slot.Busy());
  EXPECT_TRUE(d.window.Messages.empty());
}

TEST(DeleteFiles, DeletesTheSelectedRowsAndKeepsTreeModelAndLargestFilesInStep) {
  Drive d;
  d.FileRow("a.txt");
  d.FileRow("b.txt", false);
  d.FolderRow("sub", d.nSub);
  d.StatisticsRow();
  const std::size_t folders = d.drive->DiskObjects().Count();
  EXPECT_TRUE(d.Run(DeleteAction::Delete, d.nRoot));
  EXPECT_EQ(d.window.Questions.size(), 1u);
  EXPECT_FALSE(Exists(d.T + "/a.txt"));
  EXPECT_TRUE(Exists(d.T + "/b.txt"));
  EXPECT_FALSE(Exists(d.T + "/sub"));
  EXPECT_FALSE(d.ex.Exists(d.nSub));
  EXPECT_FALSE(d.ex.Exists(d.nInner));
  EXPECT_TRUE(d.ex.Exists(d.nLocked));
  // The folder and the one below it left the model; the others are still found.
  EXPECT_EQ(d.drive->DiskObjects().Count(), folders - 2);
  EXPECT_EQ(d.drive->DiskObjects().Find(d.T + "/sub/"), nullptr);
  EXPECT_EQ(d.drive->DiskObjects().Find(d.T + "/locked/"), d.locked);
  // Deleted from an ordinary folder: the largest-files list keeps its entry; what the scan
  // kept of the file goes.
  EXPECT_EQ(d.drive->LargestFiles().Count(), 2u);
  EXPECT_EQ(d.Kept(), "b.txt ");
  EXPECT_EQ(d.window.relists, 1);
  EXPECT_TRUE(d.window.Messages.empty());
  EXPECT_FALSE(d.slot.Busy());
  EXPECT_FALSE(Scanning);
  EXPECT_FALSE(d.window.Timer);
  // The relisting writes the last status line, the folder's counts.
  EXPECT_EQ(d.window.Statuses().back(), "Deleting...");
}

TEST(DeleteFiles, FromTheLargestFilesFolderRemovesExactlyThatEntry) {
  Drive d;
  const FileObject* b = d.drive->LargestFiles().Item(2);
  ASSERT_NE(b, nullptr);
  const std::string key = b->key;
  d.FileRow(d.T + "/b.txt", true, key);
  EXPECT_TRUE(d.Run(DeleteAction::Delete, d.n100));
  EXPECT_FALSE(Exists(d.T + "/b.txt"));
  EXPECT_TRUE(Exists(d.T + "/a.txt"));
  ASSERT_EQ(d.drive->LargestFiles().Count(), 1u);
  EXPECT_EQ(d.drive->LargestFiles().Find(key), nullptr);
  EXPECT_EQ(d.Kept(), "a.txt ");

  // Gone meanwhile: counts as done (the entry goes too) and the message says so.
  Drive e;
  const std::string keyA = e.drive->LargestFiles().Item(1)->key;
  ::unlink((e.T + "/a.txt").c_str());
  e.FileRow(e.T + "/a.txt", true, keyA);
  EXPECT_TRUE(e.Run(DeleteAction::Delete, e.n100));
  EXPECT_EQ(e.drive->LargestFiles().Count(), 1u);
  ASSERT_EQ(e.window.Messages.size(), 1u);
  EXPECT_NE(e.window.Messages[0].find(e.T + "/a.txt no longer exists"), std::string::npos);
  EXPECT_EQ(e.window.relists, 1);
}

TEST(DeleteFiles, AFailureStopsAtThatRowKeepsItAndSaysWhatWasDone) {
  Drive d;
  d.FileRow("a.txt");
  d.FolderRow("locked", d.nLocked);
  d.FileRow("b.txt");
  EXPECT_TRUE(d.Run(DeleteAction::Delete, d.nRoot));
  EXPECT_FALSE(Exists(d.T + "/a.txt"));
  EXPECT_TRUE(Exists(d.T + "/locked/in/y.txt"));
  EXPECT_TRUE(Exists(d.T + "/b.txt"));
  EXPECT_TRUE(d.ex.Exists(d.nLocked));
  EXPECT_EQ(d.drive->DiskObjects().Find(d.T + "/locked/"), d.locked);
  ASSERT_EQ(d.window.Messages.size(), 1u);
  const std::string& m = d.window.Messages[0];
  EXPECT_NE(m.find(d.T + "/locked/in is a read-only folder"), std::string::npos) << m;
  EXPECT_NE(m.find("1 of 3 objects was deleted"), std::string::npos) << m;
  EXPECT_EQ(d.window.relists, 1);
  EXPECT_FALSE(d.slot.Busy());
}

TEST(DeleteFiles, AFailedTrashLeavesTheRowsModelAsItWas) {
  Drive d;
  d.FileRow(d.T + "/a.txt", true, d.drive->LargestFiles().Item(1)->key);
  const FileOpsSeam sys = d.cmd.Control.Seam;
  d.cmd.Control.Seam.Statx = [sys](int fd, const char* name, int flags, unsigned mask,
                                   struct statx* out) {
    if (std::string(name) == "a.txt") {
      errno = EIO;
      return -1;
    }
    return sys.Statx(fd, name, flags, mask, out);
  };
  EXPECT_TRUE(d.Run(DeleteAction::Recycle, d.n100));
  EXPECT_EQ(d.window.Questions[0], "Are you sure you want to Recycle the selected objects?");
  EXPECT_TRUE(Exists(d.T + "/a.txt"));
  EXPECT_EQ(d.drive->LargestFiles().Count(), 2u);
  ASSERT_EQ(d.window.Messages.size(), 1u);
  EXPECT_NE(d.window.Messages[0].find("Input/output error"), std::string::npos);
  EXPECT_NE(d.window.Messages[0].find("0 of 1 object were moved to the trash"), std::string::npos)
      << d.window.Messages[0];
  EXPECT_EQ(d.window.relists, 0);
  EXPECT_TRUE(d.window.Has("liststatus"));
}

TEST(DeleteFiles, StopEndsBetweenObjectsAndReportsWhatWent) {
  Drive d;
  d.FileRow("a.txt");
  d.FileRow("b.txt");
  const FileOpsSeam sys = d.cmd.Control.Seam;
  d.cmd.Control.Seam.UnlinkAt = [sys](int fd, const char* name, int flags) {
    const int r = sys.UnlinkAt(fd, name, flags);
    CommandSlot::Stop();  // the user presses Stop while the first file goes
    return r;
  };
  EXPECT_TRUE(d.Run(DeleteAction::Delete, d.nRoot));
  EXPECT_FALSE(Exists(d.T + "/a.txt"));
  EXPECT_TRUE(Exists(d.T + "/b.txt"));
  ASSERT_EQ(d.window.Messages.size(), 1u);
  EXPECT_EQ(d.window.Messages[0], "Stopped: 1 of 2 objects was deleted.");
  EXPECT_EQ(d.window.relists, 1);
}

TEST(DeleteFiles, NotGivenWhileTheSlotIsTakenAndSilentWithoutRealRows) {
  Drive d;
  d.FileRow("a.txt");
  ASSERT_TRUE(d.slot.Acquire());  // a scan or zip holds the slot
  EXPECT_FALSE(d.cmd.DeleteFiles(DeleteAction::Delete, d.nRoot));
  EXPECT_TRUE(d.window.Questions.empty());
  EXPECT_TRUE(Exists(d.T + "/a.txt"));
  d.slot.Release();

  // Only rows that are not files or folders: a message, no question.
  Drive e;
  e.FolderRow("(" + e.T + ")", e.nDrive);
  EXPECT_TRUE(e.Run(DeleteAction::Delete, e.nDrive));
  EXPECT_TRUE(e.window.Questions.empty());
  EXPECT_EQ(e.window.Messages.size(), 1u);
  EXPECT_TRUE(Exists(e.T));
}

TEST(DeleteFiles, RecycleMovesAFolderToTheTrashAndDropsItsNode) {
  Drive d;
  d.FolderRow("sub", d.nSub);
  EXPECT_TRUE(d.Run(DeleteAction::Recycle, d.nRoot));
  if (!d.window.Messages.empty()) GTEST_SKIP() << d.window.Messages[0];
  EXPECT_FALSE(Exists(d.T + "/sub"));
  EXPECT_FALSE(d.ex.Exists(d.nSub));
  EXPECT_EQ(d.drive->DiskObjects().Find(d.T + "/sub/"), nullptr);
}

TEST(Properties, TakesTheCurrentRowAndReadsTheObjectAsItIsNow) {
  Drive d;
  d.FileRow("a.txt", false);
  d.FolderRow("sub", d.nSub, true);
  d.sub->UsedSpace = 1234;
  d.sub->FileCount = 7;
  EXPECT_FALSE(PropertiesTarget(d.list, d.ex, d.nRoot, 0));
  auto file = PropertiesTarget(d.list, d.ex, d.nRoot, 1);  // current, though not selected
  ASSERT_TRUE(file);
  EXPECT_EQ(file->FullPath, d.T + "/a.txt");
  ::chmod(file->FullPath.c_str(), 0640);
  PropertiesInfo info = PropertiesOf(*file);
  ASSERT_TRUE(info.Error.empty()) << info.Error;
  auto value = [&info](const std::string& label) {
    for (const auto& [l, v] : info.Rows)
      if (l == label) return v;
    return std::string("<missing>");
  };
  EXPECT_EQ(value("Name"), "a.txt");
  EXPECT_EQ(value("Folder"), d.T + "/");
  EXPECT_EQ(value("Type"), "File");
  EXPECT_NE(value("Size").find("(4 bytes)"), std::string::npos) << value("Size");
  EXPECT_EQ(value("Permissions"), "-rw-r----- (0640)");
  EXPECT_EQ(value("Hard links"), "1");
  EXPECT_EQ(value("Scanned size"), "<missing>");

  auto folder = PropertiesTarget(d.list, d.ex, d.nRoot, 2);
  ASSERT_TRUE(folder);
  info = PropertiesOf(*folder);
  EXPECT_EQ(value("Type"), "Folder");
  EXPECT_NE(value("Scanned size").find("(1 234 bytes)"), std::string::npos);
  EXPECT_EQ(value("Scanned files"), "7");

  ::unlink((d.T + "/a.txt").c_str());
  info = PropertiesOf(*file);
  EXPECT_NE(info.Error.find("no longer exists"), std::string::npos);
}

TEST(CommandSlot, OneCommandAtATimeAndPostsDroppedOnceItIsGone) {
  test::CommandRecorder window;
  int ran = 0;
  {
    CommandSlot slot(window.queue);
    EXPECT_TRUE(slot.Acquire());
    EXPECT_FALSE(slot.Acquire());
    EXPECT_TRUE(slot.Busy());
    slot.Progress = [] { return std::string("half way"); };
    EXPECT_EQ(slot.ProgressLine(), "half way");
    slot.Run([&slot, &ran] { slot.Post([&ran] { ++ran; }); });
    window.RunAll(slot);
    EXPECT_EQ(ran, 1);
    slot.Run([&slot, &ran] { slot.Post([&ran] { ++ran; }); });
    slot.Join();
    slot.Release();
    EXPECT_FALSE(slot.Busy());
    EXPECT_EQ(slot.ProgressLine(), "");
  }
  CommandSlot other(window.queue);
  window.RunAll(other);  // the task posted before the slot went does nothing
  EXPECT_EQ(ran, 1);
  // A disconnected queue drops what is posted to it.
  window.queue->Disconnect();
  EXPECT_FALSE(window.queue->Post([&ran] { ++ran; }));
  window.RunAll(other);
  EXPECT_EQ(ran, 1);
}

}  // namespace
}  // namespace kestrum
