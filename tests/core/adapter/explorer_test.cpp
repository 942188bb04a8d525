#include "core/adapter/explorer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

#include "core/adapter/list_data.h"
#include "core/adapter/row_tags.h"

namespace kestrum {
namespace {

std::vector<std::string> KidTexts(const CExplorer& ex, NodeId n) {
  std::vector<std::string> out;
  const auto& kids = n == kNoNode ? ex.TopLevel() : ex.Node(n)->Kids;
  for (NodeId k : kids) out.push_back(ex.Node(k)->Text);
  return out;
}

TEST(Explorer, PlaceholderComesAndGoes) {
  CExplorer ex;
  DiskObject a, b;
  const NodeId root = ex.AddNode("root", &a, true);
  EXPECT_EQ(KidTexts(ex, root), std::vector<std::string>{kPlaceholderText});
  // The only child being the placeholder, it gives way to the first real child.
  const NodeId c = ex.AddNode("child", &b, false, root);
  EXPECT_EQ(KidTexts(ex, root), std::vector<std::string>{"child"});
  // HasChildren on a node that already has children adds nothing; on a new node it does.
  ex.AddNode("x", {}, true, c);
  ex.AddNode("y", {}, false, c);
  EXPECT_EQ(KidTexts(ex, c).size(), 2u);
  EXPECT_EQ(KidTexts(ex, ex.GetNodeFromPath("root/child/x")),
            std::vector<std::string>{kPlaceholderText});
}

TEST(Explorer, PlaceholderBesideOtherChildrenStays) {
  CExplorer ex;
  const NodeId p = ex.AddNode("p", {}, false);
  ex.AddNode("real", {}, false, p);
  ex.AddNode(kPlaceholderText, {}, false, p);
  ex.AddNode("more", {}, false, p);
  EXPECT_EQ(KidTexts(ex, p), (std::vector<std::string>{"real", kPlaceholderText, "more"}));
}

TEST(Explorer, SortedParentKeepsTextOrderCaseInsensitively) {
  CExplorer ex;
  const NodeId top = ex.AddNode("top", {}, false, kNoNode, std::nullopt, std::nullopt, false);
  const NodeId s = ex.AddNode("sorted", {}, false, top, std::nullopt, std::nullopt, true);
  for (const char* t : {"delta", "Alpha", "charlie", "bravo", "alpha"}) ex.AddNode(t, {}, false, s);
  EXPECT_EQ(KidTexts(ex, s),
            (std::vector<std::string>{"Alpha", "alpha", "bravo", "charlie", "delta"}));
  // The unsorted parent keeps insertion order.
  ex.AddNode("b", {}, false, top);
  ex.AddNode("a", {}, false, top);
  EXPECT_EQ(KidTexts(ex, top), (std::vector<std::string>{"sorted", "b", "a"}));
}

TEST(Explorer, ImagesDefault) {
  CExplorer ex;
  const NodeId a = ex.AddNode("a", {}, false, kNoNode, std::string("HardDrive"));
  EXPECT_EQ(ex.Node(a)->SelectedImage, "HardDrive");
  const NodeId b = ex.AddNode("b", {}, false);
  EXPECT_EQ(ex.Node(b)->Image, "");
  ex.Init(nullptr, std::string("File"));
  const NodeId c = ex.AddNode("c", {}, false);
  EXPECT_EQ(ex.Node(c)->Image, "File");
  EXPECT_EQ(ex.Node(c)->SelectedImage, "File");
}

TEST(Explorer, ParentGivenAsDataFirstMatchWins) {
  CExplorer ex;
  DiskObject shared;
  const NodeId first = ex.AddNode("first", &shared, false);
  const NodeId second = ex.AddNode("second", &shared, false);
  const NodeId kid = ex.AddNodeUnder(&shared, "kid", {}, false);
  EXPECT_EQ(ex.Node(kid)->Parent, first);
  EXPECT_EQ(ex.ChildCount(second), 0);
  DiskObject stranger;
  EXPECT_EQ(ex.AddNodeUnder(&stranger, "lost", {}, false), kNoNode);
  EXPECT_EQ(ex.NodeCount(), 3u);
  // Plain values match by value.
  const NodeId v = ex.AddNode("v", std::string("key"), false);
  EXPECT_EQ(ex.Node(ex.AddNodeUnder(std::string("key"), "under v", {}, false))->Parent, v);
}

TEST(Explorer, ItemDataLetSetAndRemove) {
  CExplorer ex;
  const NodeId n = ex.AddNode("n", {}, false);
  ex.SetItemData(n, {});
  EXPECT_EQ(ex.ItemCount(), 0u);
  ex.SetItemData(n, 42.0);
  EXPECT_EQ(std::get<double>(ex.ItemData(n)), 42.0);
  DiskObject obj;
  ex.SetItemData(n, &obj);
  EXPECT_EQ(std::get<DiskObject*>(ex.ItemData(n)), &obj);
  EXPECT_EQ(ex.NodeOfData(42.0), kNoNode);
  EXPECT_EQ(ex.NodeOfData(&obj), n);
  ex.SetItemData(n, static_cast<DiskObject*>(nullptr));
  EXPECT_TRUE(IsEmpty(ex.ItemData(n)));
  EXPECT_EQ(ex.NodeOfData(&obj), kNoNode);
  EXPECT_TRUE(IsEmpty(ex.ItemData(9999)));
}

TEST(Explorer, RemoveNodeDropsSubtreeAndEveryLinkBelow) {
  CExplorer ex;
  DiskObject d, f1, f2, keep;
  const NodeId drive = ex.AddNode("drive", &d, true);
  const NodeId a = ex.AddNode("a", &f1, false, drive);
  ex.AddNode("b", &f2, false, a);
  const NodeId k = ex.AddNode("keep", &keep, false, drive);
  ex.SetSelectedItem(a);
  ex.RemoveNode(a);
  EXPECT_EQ(ex.NodeCount(), 2u);
  EXPECT_EQ(ex.NodeOfData(&f1), kNoNode);
  // A link left behind would point at a freed object that a new one may reuse the address of.
  EXPECT_EQ(ex.NodeOfData(&f2), kNoNode);
  EXPECT_EQ(ex.NodeOfData(&keep), k);
  EXPECT_EQ(ex.SelectedItem(), kNoNode);
  ex.RemoveNodeByData(&keep);
  EXPECT_EQ(KidTexts(ex, drive), std::vector<std::string>{});
  ex.RemoveNodeByData(&keep);  // nobody carries it any more: nothing happens
  EXPECT_EQ(ex.NodeCount(), 1u);
}

TEST(Explorer, ManyNodesBeyondSixteenBitIndexes) {
  CExplorer ex;
  std::vector<DiskObject> objs(70000);
  const NodeId top = ex.AddNode("top", {}, false);
  for (auto& o : objs) ex.AddNode("n", &o, false, top);
  EXPECT_EQ(ex.NodeOfData(&objs.back()), static_cast<NodeId>(objs.size() + 1));
  ex.RemoveNodeByData(&objs[40000]);
  EXPECT_EQ(ex.NodeOfData(&objs[40001]), static_cast<NodeId>(40000 + 3));
  EXPECT_EQ(ex.ChildCount(top), 69999);
}

// Links made and dropped at random, several nodes sharing values, across the table's growth
// and compaction: the node found for a value is always the holder of its earliest live link.
TEST(Explorer, DataLookupFollowsRandomLinkChurn) {
  CExplorer ex;
  std::vector<DiskObject> objs(300);
  std::vector<NodeId> nodes;
  for (int i = 0; i < 3000; ++i) nodes.push_back(ex.AddNode("n", {}, false));
  std::uint64_t seed = 12345;
  auto next = [&seed](std::uint64_t n) {
    seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<std::size_t>((seed >> 33) % n);
  };
  std::vector<std::pair<NodeId, const DiskObject*>> order;  // live links, oldest first
  auto drop = [&order](NodeId n) {
    order.erase(std::remove_if(order.begin(), order.end(), [n](auto& l) { return l.first == n; }),
                order.end());
  };
  for (int round = 0; round < 20000; ++round) {
    const NodeId n = nodes[next(nodes.size())];
    drop(n);
    if (next(3) == 0) {
      ex.SetItemData(n, {});
    } else {
      DiskObject* o = &objs[next(objs.size())];
      ex.SetItemData(n, o);
      order.emplace_back(n, o);
    }
    if (round % 500 != 499) continue;
    for (DiskObject& o : objs) {
      NodeId expected = kNoNode;
      for (const auto& [node, obj] : order)
        if (obj == &o) {
          expected = node;
          break;
        }
      ASSERT_EQ(ex.NodeOfData(&o), expected) << "round " << round;
    }
  }
  EXPECT_EQ(ex.ItemCount(), order.size());
}

TEST(Explorer, ExpandRaisesGetChildrenOnlyForPlaceholder) {
  CExplorer ex;
  DiskObject d;
  std::vector<DiskObject*> asked;
  ex.GetChildren = [&](const ItemValue& v) { asked.push_back(std::get<DiskObject*>(v)); };
  const NodeId lazy = ex.AddNode("lazy", &d, true);
  const NodeId plain = ex.AddNode("plain", {}, true);
  ex.TV_Expand(lazy);
  EXPECT_EQ(asked, std::vector<DiskObject*>{&d});
  EXPECT_EQ(ex.ChildCount(lazy), 0);  // nobody answered: no children
  ex.TV_Expand(lazy);
  EXPECT_EQ(asked.size(), 1u);
  ex.TV_Expand(plain);  // placeholder removed, but no data: nothing raised
  EXPECT_EQ(ex.ChildCount(plain), 0);
  EXPECT_EQ(asked.size(), 1u);
}

TEST(Explorer, ClickAndLabelEditEvents) {
  CExplorer ex;
  DiskObject d;
  int clicks = 0;
  ex.GetItems = [&](const ItemValue&) { ++clicks; };
  const NodeId n = ex.AddNode("n", &d, false);
  const NodeId bare = ex.AddNode("bare", {}, false);
  ex.TV_NodeClick(n);
  ex.TV_NodeClick(bare);
  EXPECT_EQ(clicks, 1);

  bool cancel = false;
  ex.TV_BeforeLabelEdit(cancel);
  EXPECT_TRUE(cancel);
  ex.AllowRename = true;
  cancel = false;
  ex.TV_BeforeLabelEdit(cancel);
  EXPECT_FALSE(cancel);
  ex.RenameNode = [](const ItemValue&, std::string& name, bool& c) {
    name += "!";
    c = true;
  };
  ex.SetSelectedItem(n);
  std::string text = "new";
  ex.TV_AfterLabelEdit(cancel, text);
  EXPECT_EQ(text, "new!");
  EXPECT_TRUE(cancel);

  ex.TV_KeyDown(46, 0);
  EXPECT_TRUE(ex.Exists(n));
  ex.AllowDelete = true;
  ex.TV_KeyDown(46, 0);
  EXPECT_FALSE(ex.Exists(n));
}

TEST(Explorer, GetNodeFromPathIsExactAndEarliestWins) {
  CExplorer ex;
  const NodeId root = ex.AddNode("My Computer", {}, false);
  const NodeId drive = ex.AddNode("Data (/mnt/data)", {}, false, root);
  const NodeId folder = ex.AddNode("Music", {}, false, drive);
  EXPECT_EQ(ex.FullPath(folder), "My Computer/Data (/mnt/data)/Music");
  EXPECT_EQ(ex.GetNodeFromPath("My Computer/Data (/mnt/data)/Music"), folder);
  EXPECT_EQ(ex.GetNodeFromPath("my computer/Data (/mnt/data)/Music"), kNoNode);
  EXPECT_EQ(ex.GetNodeFromPath("My Computer/Data (/mnt/data)/Musi"), kNoNode);
  EXPECT_EQ(ex.GetNodeFromPath("My Computer"), root);
  const NodeId twin = ex.AddNode("Music", {}, false, drive);
  EXPECT_NE(twin, folder);
  EXPECT_EQ(ex.GetNodeFromPath("My Computer/Data (/mnt/data)/Music"), folder);
}

TEST(Explorer, ListRowsAndColumns) {
  CExplorer ex;
  ListData lv;
  lv.Width = 10000;
  ex.Init(&lv, std::nullopt, std::nullopt, std::string("File"));
  ex.AddItem("a", "", {});
  EXPECT_EQ(lv.Item(1)->Icon, "File");
  EXPECT_TRUE(lv.Item(1)->SubItems.empty());
  ex.AddItem2("b", "kb", "HardDrive", {"1", "2"});
  EXPECT_EQ(lv.Item(2)->Cell(2), "2");
  ex.RemoveItem(std::string("kb"));
  EXPECT_EQ(lv.Count(), 1u);

  ex.SetColumns({std::string("Name"), 3000.0, std::string("Size")});
  ASSERT_EQ(lv.Columns().size(), 2u);
  EXPECT_EQ(lv.Columns()[1].Width, 10000 - 0 - 3000 - 730);
  ex.SetColumns({std::string("Name"), 3000.0, std::string("Size"), 1500.0, std::string("Rest")});
  EXPECT_EQ(lv.Columns()[2].Width, 10000 - 3000 - 1500 - 730);
  lv.Width = 5000;
  ex.SetColumns({std::string("Name"), 3000.0, std::string("Size")});
  EXPECT_EQ(lv.Columns()[1].Width, 2000);  // never below the minimum
  ex.SetColumns({std::string("Name"), 3000.0, std::string("Size"), 9000.0});
  EXPECT_EQ(lv.Columns()[1].Width, 9000);  // an even count stretches nothing
  ex.SetColumns({std::string("Only")});
  EXPECT_EQ(lv.Columns()[0].Width, 2000);
  ex.SetColumns({});
  EXPECT_TRUE(lv.Columns().empty());

  lv.SetSorted(true);
  ex.ClearItems();
  EXPECT_FALSE(lv.Sorted());
  EXPECT_EQ(lv.Count(), 0u);
}

ListRow Row(const char* text) {
  ListRow r;
  r.Text = text;
  return r;
}

TEST(ListData, SortOnceThenAppend) {
  ListData lv;
  for (const char* t : {"b", "C", "a"}) lv.Add(Row(t));
  lv.SortOrder = 1;
  lv.SetSorted(true);
  EXPECT_EQ(lv.Item(1)->Text, "C");
  EXPECT_EQ(lv.Item(3)->Text, "a");
  lv.SetSorted(false);
  lv.Add(Row("z"));
  EXPECT_EQ(lv.Item(4)->Text, "z");
}

}  // namespace
}  // namespace kestrum

namespace kestrum {
namespace {

struct CountingObserver : TreeObserver {
  int inserts = 0, removes = 0;
  void NodeAboutToBeInserted(NodeId, int) override { ++inserts; }
  void NodeInserted() override {}
  void NodeAboutToBeRemoved(NodeId, int) override { ++removes; }
  void NodeRemoved() override {}
  void TreeAboutToBeReset() override {}
  void TreeReset() override {}
  void NodeChanged(NodeId) override {}
};

// The shape of a subtree as text, children in order.
std::string Shape(const CExplorer& ex, NodeId n) {
  std::string out = ex.Node(n)->Text + "(";
  for (NodeId k : ex.Node(n)->Kids) out += Shape(ex, k) + ",";
  return out + ")";
}

TEST(Explorer, DetachedSubtreeAttachesAsIfAddedOneByOne) {
  const std::vector<std::pair<int, std::string>> folders = {{0, "b"}, {0, "A"}, {1, "z"}, {1, "y"},
                                                            {0, "a"}, {4, "q"}, {0, "B"}};
  DiskObject objs[8];
  CExplorer direct, batched;
  CountingObserver counter;
  batched.SetObserver(&counter);
  const NodeId d1 = direct.AddNode("drive", {}, true, kNoNode, std::nullopt, std::nullopt, true);
  const NodeId d2 = batched.AddNode("drive", {}, true, kNoNode, std::nullopt, std::nullopt, true);
  const int before = counter.inserts;

  std::vector<NodeId> n1{
      direct.AddNode("root", &objs[0], true, d1, std::nullopt, std::nullopt, true)};
  std::vector<NodeId> n2{
      batched.AddDetachedNode("root", &objs[0], true, std::nullopt, std::nullopt, true)};
  for (std::size_t i = 0; i < folders.size(); ++i) {
    const auto& [parent, text] = folders[i];
    n1.push_back(
        direct.AddNode(text, &objs[i + 1], false, n1[parent], std::nullopt, std::nullopt, true));
    n2.push_back(
        batched.AddNode(text, &objs[i + 1], false, n2[parent], std::nullopt, std::nullopt, true));
  }
  EXPECT_EQ(counter.inserts, before);    // nothing shown yet
  EXPECT_EQ(batched.ChildCount(d2), 1);  // the drive still has its placeholder
  batched.AttachNode(n2[0], d2);
  EXPECT_EQ(counter.inserts, before + 1);
  EXPECT_EQ(counter.removes, 1);  // the placeholder
  EXPECT_EQ(Shape(batched, d2), Shape(direct, d1));
  EXPECT_EQ(batched.NodeOfData(&objs[6]), n2[6]);
  EXPECT_EQ(batched.FullPath(n2[6]), "drive/root/b/y/q");
  EXPECT_EQ(batched.GetNodeFromPath("drive/root/b/y/q"), n2[6]);
  // Attaching twice, or under a detached node, does nothing.
  batched.AttachNode(n2[0], d2);
  EXPECT_EQ(batched.ChildCount(d2), 1);
}

// A view has shown no child of a pending node: nothing below it is told, fetching included,
// and once fetched its children are told again.
TEST(Explorer, NothingBelowAPendingNodeIsTold) {
  CExplorer ex;
  CountingObserver counter;
  ex.SetObserver(&counter);
  DiskObject objs[3];
  const NodeId p = ex.AddNode("p", &objs[0], true);
  ex.SetPending(p, true);
  ex.GetChildren = [&](const ItemValue&) { ex.AddNode("k", &objs[1], false, p); };
  const int inserts = counter.inserts, removes = counter.removes;
  const NodeId q = ex.AddNode("q", &objs[2], true, p);  // the placeholder goes, unseen
  EXPECT_FALSE(ex.Told(q));
  ex.TV_Expand(p);
  EXPECT_FALSE(ex.Node(p)->Pending);
  EXPECT_EQ(KidTexts(ex, p), (std::vector<std::string>{"q", "k"}));
  EXPECT_EQ(counter.inserts, inserts);
  EXPECT_EQ(counter.removes, removes);
  EXPECT_TRUE(ex.Told(q));
  ex.AddNode("r", {}, false, p);
  EXPECT_EQ(counter.inserts, inserts + 1);
}

TEST(Explorer, DetachedSubtreeCanBeDroppedUnseen) {
  CExplorer ex;
  CountingObserver counter;
  ex.SetObserver(&counter);
  DiskObject a, b;
  const NodeId top = ex.AddDetachedNode("top", &a, false);
  ex.AddNode("kid", &b, false, top);
  ex.RemoveNode(top);
  EXPECT_EQ(counter.inserts + counter.removes, 0);
  EXPECT_EQ(ex.NodeCount(), 0u);
  EXPECT_EQ(ex.NodeOfData(&b), kNoNode);
}

TEST(RowTags, FileTagsCarryWholeByteCounts) {
  EXPECT_EQ(FileTag(4096), "File 4096");
  EXPECT_EQ(FileTag(0), "File 0");
  EXPECT_EQ(FileTag(1e16 + 2), "File 10000000000000002");
  EXPECT_TRUE(IsFileTag(std::string("File 1")));
  EXPECT_FALSE(IsFileTag(std::string("Fil")));
  EXPECT_FALSE(IsFileTag(NodeTag(3)));
  EXPECT_EQ(TagNode(NodeTag(3)), 3u);
  EXPECT_EQ(TagNode(NodeTag(kNoNode)), std::nullopt);
  EXPECT_EQ(TagNode(std::string("File 3")), std::nullopt);
  EXPECT_EQ(TagNode(RowTag{}), std::nullopt);
}

}  // namespace
}  // namespace kestrum
