#include "core/adapter/folder_nodes.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/tree/largest.h"

namespace kestrum {
namespace {

// A scanned drive built by hand, its folders in depth-first order. Names that differ only in
// case sort as equals: the order of the drive's folders decides between them. FolderCount is
// left wrong on "b", as a file could leave it: the subfolders are still found.
//   /d/ (root) - b - z
//                  - y
//              - A
//              - a (unreadable: may hold folders, none known)
//              - B - q - deep
//              + 100 Largest Files
struct HandDrive {
  DiskObject drive;
  explicit HandDrive() {
    drive.Class = ObjectClass::Drive;
    drive.SetPath("/d");
    const struct {
      const char* name;
      int level;
      int folders;
      bool unreadable;
    } folders[] = {{"", 1, 8, false},  {"b", 2, 0, false}, {"z", 3, 0, false},
                   {"y", 3, 0, false}, {"A", 2, 0, false}, {"a", 2, 0, true},
                   {"B", 2, 2, false}, {"q", 3, 1, false}, {"deep", 4, 0, false}};
    std::vector<DiskObject*> open;
    for (const auto& f : folders) {
      DiskObject* o = drive.DiskObjects().AddNew();
      o->Class = ObjectClass::Folder;
      o->Name = f.name;
      o->Level = f.level;
      o->FolderCount = f.folders;
      o->Children = f.unreadable;
      open.resize(static_cast<std::size_t>(f.level - 1));
      o->Parent = open.empty() ? &drive : open.back();
      if (o->Parent != &drive) o->Parent->Children = true;
      open.push_back(o);
    }
    DiskObject* root = drive.DiskObjects().Item(1);
    root->RootDirectory = true;
    root->SetPath("/d/");
    drive.DriveForChange().Folder100 = std::make_unique<DiskObject>();
    drive.Drive().Folder100->Class = ObjectClass::Folder100;
    drive.Drive().Folder100->Name = kLargestFolderName;
    drive.Drive().Folder100->Parent = root;
  }
  DiskObject* Folder(const std::string& path) { return drive.DiskObjects().Find(path); }
};

std::vector<std::string> Texts(const CExplorer& ex, NodeId n) {
  std::vector<std::string> out;
  for (NodeId k : ex.Node(n)->Kids) out.push_back(ex.Node(k)->Text);
  return out;
}

TEST(FolderNodes, MadeAsExpandedInTheOrderOfTheWholeTree) {
  HandDrive h;
  CExplorer ex;
  h.drive.Node = ex.AddNode("drive", &h.drive, false, kNoNode, std::nullopt, std::nullopt, true);
  const NodeId root = MakeNode(ex, *h.Folder("/d/"));
  ASSERT_NE(root, kNoNode);
  EXPECT_EQ(ex.ItemCount(), 2u);  // the drive and its root folder, nothing else
  EXPECT_EQ(Texts(ex, root), std::vector<std::string>{kPlaceholderText});

  // Each folder's children, as expanding it makes them: equal texts in the drive's order,
  // the largest-files folder after the folders; a node with folders to make waits pending
  // behind the placeholder, an unreadable one keeps the placeholder alone.
  const struct {
    const char* path;
    std::vector<std::string> kids;
  } cases[] = {
      {"/d/", {kLargestFolderName, "A", "a", "b", "B"}},
      {"/d/b/", {"y", "z"}},
      {"/d/a/", {}},  // the placeholder goes on expanding, as it always did
      {"/d/B/", {"q"}},
      {"/d/B/q/", {"deep"}},
  };
  std::size_t made = 2;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const NodeId n = NodeOf(ex, h.Folder(c.path));
    ASSERT_NE(n, kNoNode);
    ex.TV_Expand(n);
    EXPECT_FALSE(ex.Node(n)->Pending);
    EXPECT_EQ(Texts(ex, n), c.kids);
    made += c.kids.size();
    EXPECT_EQ(ex.ItemCount(), made);
  }
  EXPECT_TRUE(ex.Node(NodeOf(ex, h.Folder("/d/A/")))->Kids.empty());
  EXPECT_EQ(Texts(ex, NodeOf(ex, h.Folder("/d/a/"))), std::vector<std::string>{});
}

TEST(FolderNodes, GoingToADeepFolderMakesItsWayAlone) {
  HandDrive h;
  CExplorer ex;
  h.drive.Node = ex.AddNode("drive", &h.drive, false, kNoNode, std::nullopt, std::nullopt, true);
  MakeNode(ex, *h.Folder("/d/"));
  const NodeId deep = MakeNode(ex, *h.Folder("/d/B/q/deep/"));
  ASSERT_NE(deep, kNoNode);
  EXPECT_EQ(ex.ItemCount(), 5u);  // drive, root, B, q, deep
  EXPECT_EQ(ex.FullPath(deep), "drive//d//B/q/deep");
  const NodeId b = NodeOf(ex, h.Folder("/d/B/"));
  EXPECT_EQ(Texts(ex, NodeOf(ex, h.Folder("/d/"))), std::vector<std::string>{"B"});
  EXPECT_TRUE(ex.Node(NodeOf(ex, h.Folder("/d/")))->Pending);
  // Going there again makes nothing.
  EXPECT_EQ(MakeNode(ex, *h.Folder("/d/B/q/deep/")), deep);
  EXPECT_EQ(ex.ItemCount(), 5u);
  // The rest comes when the root folder is expanded: B keeps its node and its place.
  ex.TV_Expand(NodeOf(ex, h.Folder("/d/")));
  EXPECT_EQ(Texts(ex, NodeOf(ex, h.Folder("/d/"))),
            (std::vector<std::string>{kLargestFolderName, "A", "a", "b", "B"}));
  EXPECT_EQ(NodeOf(ex, h.Folder("/d/B/")), b);
  EXPECT_EQ(ex.Node(b)->Kids.size(), 1u);
  // The largest-files folder has its way too; an object of no drive has none.
  EXPECT_NE(MakeNode(ex, *h.drive.Drive().Folder100), kNoNode);
  DiskObject stray;
  stray.Class = ObjectClass::Folder;
  EXPECT_EQ(MakeNode(ex, stray), kNoNode);
}

}  // namespace
}  // namespace kestrum
