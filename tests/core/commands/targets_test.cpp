#include "core/commands/targets.h"

#include <gtest/gtest.h>

#include "core/adapter/row_tags.h"
#include "core/commands/listed_drive.h"

namespace kestrum {
namespace {

using Fixture = test::ListedDrive;

TEST(SelectFileTargets, FolderListingTakesItsFilesAndSubfolders) {
  Fixture f;
  f.Row("a \"b\".txt", FileTag(10));
  f.Row("unselected", FileTag(1), false);
  f.Row(f.sub.Name, NodeTag(f.nSub));
  f.Row("100 Largest Files", NodeTag(f.n100));  // not a real folder
  f.Row("Capacity", {});                        // a statistics row
  f.Row("x", NodeTag(f.nDeep));                 // a node that is not a child of the listing
  f.Row("bad/name", FileTag(1));                // no file name holds a separator
  const TargetSelection s = SelectFileTargets(f.list, f.ex, f.nRoot);
  ASSERT_EQ(s.Targets.size(), 2u);
  EXPECT_EQ(s.LeftOut, 4u);
  EXPECT_EQ(s.Targets[0].FullPath, "/v/a \"b\".txt");
  EXPECT_EQ(s.Targets[0].Folder, "/v/");
  EXPECT_FALSE(s.Targets[0].IsFolder);
  EXPECT_EQ(s.Targets[0].VolumeRoot, "/v/");
  EXPECT_EQ(s.Targets[1].FullPath, "/v/" + f.sub.Name);
  EXPECT_EQ(s.Targets[1].Name, f.sub.Name);
  EXPECT_TRUE(s.Targets[1].IsFolder);
  EXPECT_EQ(s.Targets[1].Node, f.nSub);
  EXPECT_EQ(s.Targets[1].Object, &f.sub);
  EXPECT_EQ(s.Targets[1].Row, 3u);
  EXPECT_TRUE(NothingToActOn(s).empty());

  // One row by position, selected or not.
  const TargetSelection one = SelectFileTargets(f.list, f.ex, f.nRoot, true, 2);
  ASSERT_EQ(one.Targets.size(), 1u);
  EXPECT_EQ(one.Targets[0].Name, "unselected");

  // A deeper listing derives the folder from the model, not from row texts.
  Fixture g;
  g.Row("f", FileTag(3));
  const TargetSelection d = SelectFileTargets(g.list, g.ex, g.nSub);
  ASSERT_EQ(d.Targets.size(), 1u);
  EXPECT_EQ(d.Targets[0].FullPath, "/v/" + g.sub.Name + "/f");
}

TEST(SelectFileTargets, DrivesRootsAndPlaceholdersAreNeverObjects) {
  Fixture f;
  // The drives listed under the root, and a drive's listing (its root folder row).
  f.Row("(/v)", NodeTag(f.nDrive));
  TargetSelection s = SelectFileTargets(f.list, f.ex, f.nComputer);
  EXPECT_TRUE(s.Targets.empty());
  EXPECT_EQ(s.LeftOut, 1u);
  EXPECT_FALSE(NothingToActOn(s).empty());

  Fixture g;
  g.Row("/v/", NodeTag(g.nRoot));
  g.Row("Drive not scanned...", {});
  g.Row("Files", FileTag(5));  // a file tag in a drive listing stands for no file
  s = SelectFileTargets(g.list, g.ex, g.nDrive);
  EXPECT_TRUE(s.Targets.empty());
  EXPECT_EQ(s.LeftOut, 3u);

  // A node removed since the listing was built.
  Fixture h;
  h.Row(h.sub.Name, NodeTag(h.nSub));
  h.ex.RemoveNode(h.nSub);
  EXPECT_TRUE(SelectFileTargets(h.list, h.ex, h.nRoot).Targets.empty());

  // Nothing selected: nothing to say.
  Fixture e;
  e.Row("f", FileTag(1), false);
  EXPECT_TRUE(NothingToActOn(SelectFileTargets(e.list, e.ex, e.nRoot)).empty());
}

TEST(SelectFileTargets, LargestFilesRowsCarryFullPathsAndKeys) {
  Fixture f;
  f.Row("/v/sub/big.iso", FileTag(1e9), true, "K7");
  f.Row("relative", FileTag(1), true, "K8");  // never a path a scan could record
  const TargetSelection s = SelectFileTargets(f.list, f.ex, f.n100);
  ASSERT_EQ(s.Targets.size(), 1u);
  EXPECT_EQ(s.Targets[0].FullPath, "/v/sub/big.iso");
  EXPECT_EQ(s.Targets[0].Folder, "/v/sub/");
  EXPECT_EQ(s.Targets[0].Name, "big.iso");
  EXPECT_EQ(s.Targets[0].LargestKey, "K7");
  EXPECT_EQ(s.Targets[0].VolumeRoot, "/v/");
  EXPECT_EQ(s.LeftOut, 1u);
}

}  // namespace
}  // namespace kestrum
