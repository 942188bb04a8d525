#include "core/adapter/folder_nodes.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "core/tree/subfolders.h"

namespace kestrum {

namespace {

// A child node with what orders it among its siblings: its text, then Key (its folder's
// position in the drive's folders; the largest-files folder last).
struct Placed {
  NodeId Node = kNoNode;
  std::size_t Key = 0;
};

// A child the model gives a node: the object and its Key.
struct Wanted {
  DiskObject* Object = nullptr;
  std::size_t Key = 0;
};

constexpr std::size_t kLastKey = SIZE_MAX;

const FolderList* FoldersOf(const DiskObject& object) {
  const DiskObject* drive = DriveOf(&object);
  return drive ? drive->DiskObjectsIfAny() : nullptr;
}

// True when folder (at position in its drive's folders) is the root folder over the
// largest-files folder.
DiskObject* LargestUnder(const DiskObject& folder, std::size_t position) {
  if (position != 1) return nullptr;
  DiskObject* drive = DriveOf(const_cast<DiskObject*>(&folder));
  if (!drive || !drive->Drive().Folder100 || drive->Drive().Folder100->Parent != &folder)
    return nullptr;
  return drive->Drive().Folder100.get();
}

std::size_t KeyOf(const DiskObject& object) {
  if (object.Class == ObjectClass::Folder100) return kLastKey;
  const FolderList* folders = FoldersOf(object);
  return folders ? folders->PositionOf(&object) : 0;
}

std::vector<Wanted> ChildrenOf(DiskObject& object) {
  std::vector<Wanted> out;
  if (IsDriveClass(object.Class)) {
    const FolderList* folders = object.DiskObjectsIfAny();
    if (folders && !folders->Empty()) out.push_back({folders->Item(1), 1});
    return out;
  }
  if (object.Class != ObjectClass::Folder) return out;
  const FolderList* folders = FoldersOf(object);
  const std::size_t position = folders ? folders->PositionOf(&object) : 0;
  if (position == 0) return out;
  for (const PlacedFolder& f : Subfolders(*folders, position))
    out.push_back({f.Folder, f.Position});
  if (DiskObject* largest = LargestUnder(object, position)) out.push_back({largest, kLastKey});
  return out;
}

// Makes the node of child apart from the tree: with the placeholder and pending when it has
// children to make, with the placeholder alone when its folder may hold folders the scan
// could not read.
NodeId MakeDetached(CExplorer& explorer, DiskObject& child, std::size_t key) {
  bool more = false;
  if (child.Class == ObjectClass::Folder && key != kLastKey) {
    const FolderList* folders = FoldersOf(child);
    more = folders && (HasSubfolders(*folders, key) || LargestUnder(child, key));
  }
  const NodeId n =
      explorer.AddDetachedNode(child.Label(), ItemValue(&child), more || child.Children,
                               child.ClosedIcon(), child.OpenIcon(), true);
  if (more) explorer.SetPending(n, true);
  child.Node = n;
  return n;
}

std::vector<Placed> PresentChildren(const CExplorer& explorer, NodeId node) {
  std::vector<Placed> out;
  const TreeNode* n = explorer.Node(node);
  if (!n) return out;
  out.reserve(n->Kids.size());
  for (NodeId k : n->Kids) {
    const TreeNode* t = explorer.Node(k);
    if (!t || (t->Text == kPlaceholderText && n->Kids.size() == 1)) continue;
    const DiskObject* o = ObjectOf(explorer, k);
    out.push_back({k, o ? KeyOf(*o) : 0});
  }
  return out;
}

auto OrderOf(const CExplorer& explorer) {
  return [&explorer](const Placed& a, const Placed& b) {
    const std::string& x = explorer.Node(a.Node)->Text;
    const std::string& y = explorer.Node(b.Node)->Text;
    if (TextLess(x, y)) return true;
    if (TextLess(y, x)) return false;
    return a.Key < b.Key;
  };
}

bool Place(CExplorer& explorer, NodeId node, const std::vector<Placed>& present,
           std::vector<Placed>& made) {
  const auto less = OrderOf(explorer);
  std::sort(made.begin(), made.end(), less);
  // A merge keeps the present children in the order they stand, whatever made them.
  std::vector<Placed> all;
  all.reserve(present.size() + made.size());
  std::merge(present.begin(), present.end(), made.begin(), made.end(), std::back_inserter(all),
             less);
  std::vector<NodeId> order;
  order.reserve(all.size());
  for (const Placed& p : all) order.push_back(p.Node);
  if (explorer.PlaceChildren(node, order)) return true;
  for (const Placed& p : made) explorer.RemoveNode(p.Node);
  return false;
}

}  // namespace

NodeId NodeOf(const CExplorer& explorer, const DiskObject* object) {
  if (!object) return kNoNode;
  if (ObjectOf(explorer, object->Node) == object) return object->Node;
  return explorer.NodeOfData(ItemValue(const_cast<DiskObject*>(object)));
}

void MakeChildNodes(CExplorer& explorer, NodeId node) {
  DiskObject* object = ObjectOf(explorer, node);
  if (!object) return;
  std::vector<Placed> made;
  for (const Wanted& w : ChildrenOf(*object))
    if (NodeOf(explorer, w.Object) == kNoNode)
      made.push_back({MakeDetached(explorer, *w.Object, w.Key), w.Key});
  if (!made.empty()) Place(explorer, node, PresentChildren(explorer, node), made);
  explorer.SetPending(node, false);
}

NodeId MakeNode(CExplorer& explorer, DiskObject& object) {
  // The way up to the nearest object that has its node.
  std::vector<DiskObject*> missing;
  NodeId at = kNoNode;
  for (DiskObject* o = &object; o; o = o->Parent) {
    at = NodeOf(explorer, o);
    if (at != kNoNode) break;
    if (o->Class != ObjectClass::Folder && o->Class != ObjectClass::Folder100) return kNoNode;
    missing.push_back(o);
  }
  if (at == kNoNode) return kNoNode;
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    DiskObject& child = **it;
    const TreeNode* parent = explorer.Node(at);
    if (!parent->Pending) {
      // A view may show this node's children: it gets all of them, never a part.
      MakeChildNodes(explorer, at);
    } else {
      const std::size_t key = KeyOf(child);
      if (key == 0) return kNoNode;
      std::vector<Placed> made{{MakeDetached(explorer, child, key), key}};
      if (!Place(explorer, at, PresentChildren(explorer, at), made)) return kNoNode;
    }
    at = NodeOf(explorer, &child);
    if (at == kNoNode) return kNoNode;
  }
  return at;
}

}  // namespace kestrum
