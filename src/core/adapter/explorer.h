#pragma once
#include <climits>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <variant>
#include <vector>

#include "core/tree/disk_model.h"

namespace kestrum {

class ListData;

// The data a node carries: a model object, a largest-files entry, or a plain value.
// Objects compare by identity, plain values by value; monostate is "empty".
using ItemValue = std::variant<std::monostate, DiskObject*, FileObject*, std::string, double>;
inline bool IsEmpty(const ItemValue& v) {
  return std::holds_alternative<std::monostate>(v) ||
         (std::holds_alternative<DiskObject*>(v) && !std::get<DiskObject*>(v)) ||
         (std::holds_alternative<FileObject*>(v) && !std::get<FileObject*>(v));
}

// The text of the placeholder child that gives a node an expander before it has children.
inline constexpr const char* kPlaceholderText = "dummy99999999";
// Separator between node texts in a node's full path.
inline constexpr char kPathSeparator = '/';

// One node of the folder tree. Node 0 is the invisible top; its children are the top-level
// nodes.
struct TreeNode {
  std::string Text;
  // Image keys, interned by the explorer: a handful of keys serve every node.
  std::string_view Image;
  std::string_view SelectedImage;
  std::vector<NodeId> Kids;
  NodeId Parent = kNoNode;  // after Kids, so that the flags fill the room before Item
  bool Sorted = false;      // keeps its children in text order
  bool Expanded = false;
  bool Alive = false;
  bool Detached = false;  // in a subtree built apart from the tree (see AddDetachedNode)
  // Some of its children are not made yet (see SetPending): expanding it, or a view asking
  // for its children (FetchChildren), raises GetChildren to make them.
  bool Pending = false;
  std::uint32_t Item = UINT32_MAX;  // slot of its data link, UINT32_MAX when it has none
};

// Told about every change of the tree that a view may have shown, so that a view can follow
// it: nothing is told of what happens below a pending node (see CExplorer::SetPending). Row
// is the 0-based position among the parent's children.
class TreeObserver {
 public:
  virtual ~TreeObserver() = default;
  virtual void NodeAboutToBeInserted(NodeId parent, int row) = 0;
  virtual void NodeInserted() = 0;
  virtual void NodeAboutToBeRemoved(NodeId parent, int row) = 0;
  virtual void NodeRemoved() = 0;
  virtual void TreeAboutToBeReset() = 0;
  virtual void TreeReset() = 0;
  virtual void NodeChanged(NodeId node) = 0;
};

// The tree/list adapter: owns the tree's nodes as plain data, links each node to at most
// one data value, keeps a placeholder child on nodes that may have children, fills the
// list's rows and columns, and turns the tree's events into GetChildren, GetItems and
// RenameNode. Lookups by node or by data go through hash indexes. Window thread only.
class CExplorer {
 public:
  bool AllowRename = false;
  bool AllowDelete = false;

  // Asked to add the children of the node carrying the value (the placeholder's, or a
  // pending node's). By default it makes the children of a model object's node from the
  // model (MakeChildNodes, folder_nodes.h).
  std::function<void(const ItemValue&)> GetChildren;
  std::function<void(const ItemValue&)> GetItems;
  std::function<void(const ItemValue&, std::string& newName, bool& cancel)> RenameNode;

  CExplorer();
  // Nodes refer to the explorer's own image keys, so an explorer is never copied.
  CExplorer(const CExplorer&) = delete;
  CExplorer& operator=(const CExplorer&) = delete;

  // Binds the list (may be null), stores the default images and clears the tree and list.
  void Init(ListData* listView, std::optional<std::string> image = std::nullopt,
            std::optional<std::string> selectedImage = std::nullopt,
            std::optional<std::string> itemImage = std::nullopt);
  void SetObserver(TreeObserver* observer) { observer_ = observer; }

  void ClearNodes();

  // Adds a node under parent (kNoNode: top level). When the parent's only child is the
  // placeholder, the placeholder goes first. A sorted parent keeps its children in text
  // order (case-insensitive, a new node after its equals). Returns the new node.
  NodeId AddNode(const std::string& text, const ItemValue& data, bool hasChildren,
                 NodeId parent = kNoNode, std::optional<std::string> image = std::nullopt,
                 std::optional<std::string> selectedImage = std::nullopt, bool sorted = false);
  // The same, with the parent given by its data (the first node carrying it). Returns kNoNode
  // and adds nothing when no node carries it.
  NodeId AddNodeUnder(const ItemValue& parentData, const std::string& text, const ItemValue& data,
                      bool hasChildren, std::optional<std::string> image = std::nullopt,
                      std::optional<std::string> selectedImage = std::nullopt, bool sorted = false);

  // Builds a subtree apart from the tree, so that a scan's many folders reach the view as
  // one insertion: AddDetachedNode makes its top, AddNode under it (or under its
  // descendants) adds the rest without telling the observer, and AttachNode puts the whole
  // subtree under parent exactly as if each node had been added there one by one (sorted
  // parents sort their children once, keeping equal texts in the order they came).
  NodeId AddDetachedNode(const std::string& text, const ItemValue& data, bool hasChildren,
                         std::optional<std::string> image = std::nullopt,
                         std::optional<std::string> selectedImage = std::nullopt,
                         bool sorted = false);
  void AttachNode(NodeId detached, NodeId parent);
  // Gives a node that has no children the placeholder child that shows an expander, as
  // AddNode's hasChildren does; a batch adds its nodes without and calls this for the nodes
  // left childless, instead of making and removing a placeholder per parent.
  void AddExpander(NodeId node) {
    if (Node(node)) AddPlaceholder(node);
  }

  // Makes order node parent's children: the children it has (its placeholder aside) in the
  // order they stand, with the tops of detached subtrees (AddDetachedNode) put among them,
  // which join the tree as AttachNode's do but at the place order gives them, whatever the
  // parent's Sorted says: the caller has sorted. A placeholder that was the only child goes
  // first. The observer hears of each new child at its row, in order. Returns false, changing
  // nothing, when order leaves out a child parent has or holds any other node.
  bool PlaceChildren(NodeId parent, const std::vector<NodeId>& order);

  // Marks a node whose children are made on demand: until its children are fetched, some of
  // them (or all, the placeholder standing for them) are missing, and the observer hears
  // nothing of what happens below it, since no view can have shown its children yet.
  void SetPending(NodeId node, bool pending);
  // Makes a pending node's missing children: raises GetChildren for its data (the handler
  // adds them; the observer is not told, as a view asks for them before it shows them) and
  // clears the mark. Nothing for a node that is not pending. Views call it before they count
  // or show a node's children.
  void FetchChildren(NodeId node);
  // True when the observer hears of changes among node's children: neither node nor an
  // ancestor is pending or detached.
  bool Told(NodeId node) const;

  // Removes a node with its descendants, and their data links.
  void RemoveNode(NodeId node);
  // Removes the first node carrying data; nothing when none does.
  void RemoveNodeByData(const ItemValue& data);

  // The data linked to node; empty when it has none or the node does not exist.
  ItemValue ItemData(NodeId node) const;
  // Links value to node; an empty value (or null object) removes the link.
  void SetItemData(NodeId node, const ItemValue& value);
  // The first node carrying data, or kNoNode.
  NodeId NodeOfData(const ItemValue& data) const;

  // The first node, in the order nodes were added, whose full path equals fullPath exactly.
  NodeId GetNodeFromPath(const std::string& fullPath) const;
  std::string FullPath(NodeId node) const;

  // Tree events, called by the window. Expanding a pending node fetches its children;
  // expanding one whose only child is the placeholder removes it and raises GetChildren.
  void TV_Expand(NodeId node);
  void TV_Collapse(NodeId node);
  void TV_NodeClick(NodeId node);
  void TV_KeyDown(int keyCode, int shift);
  void TV_BeforeLabelEdit(bool& cancel) const;
  void TV_AfterLabelEdit(bool& cancel, std::string& newString);

  // Node access for views.
  const TreeNode* Node(NodeId id) const;
  bool Exists(NodeId id) const { return Node(id) != nullptr; }
  const std::vector<NodeId>& TopLevel() const { return nodes_[0].Kids; }
  int ChildCount(NodeId id) const;
  int RowOf(NodeId id) const;  // position among its siblings, -1 when not in the tree
  NodeId FirstNode() const { return TopLevel().empty() ? kNoNode : TopLevel().front(); }
  std::size_t NodeCount() const { return liveNodes_; }
  std::size_t ItemCount() const { return liveItems_; }
  // Makes room for this many more nodes, ahead of a large batch.
  void Reserve(std::size_t moreNodes);

  NodeId SelectedItem() const { return selected_; }
  void SetSelectedItem(NodeId node);
  bool Enabled = true;

  // List rows (the list view must have been given to Init).
  void ClearItems();
  std::size_t AddItem(const std::string& text, const std::string& image,
                      const std::vector<std::string>& subItems);
  std::size_t AddItem2(const std::string& text, const std::string& key, const std::string& image,
                       const std::vector<std::string>& subItems);
  void RemoveItem(std::size_t index);
  void RemoveItem(const std::string& key);
  // Columns from name, width, name, width, ... optionally ending with a name alone, which
  // then fills the view: view width - last column's left - its width - 730, at least 2000.
  void SetColumns(const std::vector<std::variant<std::string, double>>& args);
  ListData* LV() const { return lv_; }

 private:
  struct Entry {
    NodeId Node;
    ItemValue Data;
  };
  struct ValueHash {
    std::size_t operator()(const ItemValue& v) const;
  };

  NodeId NewNode(const std::string& text, NodeId parent, std::string image,
                 std::string selectedImage);
  void AddPlaceholder(NodeId node);
  bool RemovePlaceholderIfOnlyChild(NodeId node);
  void DropLink(NodeId node);
  void Link(NodeId node, const ItemValue& value);
  void Collect(NodeId node, std::vector<NodeId>& out) const;

  std::vector<TreeNode> nodes_;
  std::size_t liveNodes_ = 0;
  // Links in the order they were made; slots of removed links stay empty (Node 0).
  std::vector<Entry> items_;
  std::size_t liveItems_ = 0;
  // The earliest link of each value: an open-addressing table of link slots (linear
  // probing, deletion by shifting back), the values read from items_. Eight bytes a link,
  // and no allocation per link, which a million-folder scan would feel.
  struct Bucket {
    std::uint32_t Slot = UINT32_MAX;  // UINT32_MAX: free
    std::uint32_t Hash = 0;
  };
  std::vector<Bucket> firstByData_;
  std::size_t firstCount_ = 0;
  static std::uint32_t HashOf(const ItemValue& v);
  std::size_t FindFirst(const ItemValue& v, std::uint32_t hash) const;  // bucket, or SIZE_MAX
  bool AddFirst(const ItemValue& v, std::uint32_t slot);  // false when v has a first link
  void EraseBucket(std::size_t at);
  void ResizeFirsts(std::size_t links);
  // The later links (ascending) of values that several nodes carry.
  std::unordered_map<ItemValue, std::vector<std::uint32_t>, ValueHash> moreByData_;
  std::optional<std::string> image_, selectedImage_, itemImage_;
  // The image keys nodes refer to; nodes of a set never move, and keys are never dropped.
  std::set<std::string, std::less<>> imageKeys_;
  std::string_view Intern(std::string_view key);
  ListData* lv_ = nullptr;
  TreeObserver* observer_ = nullptr;
  NodeId selected_ = kNoNode;
};

// The model object node carries; nullptr when it carries none (or no node exists).
inline DiskObject* ObjectOf(const CExplorer& explorer, NodeId node) {
  const ItemValue v = explorer.ItemData(node);
  DiskObject* const* o = std::get_if<DiskObject*>(&v);
  return o ? *o : nullptr;
}

// Case-insensitive (ASCII) text order used by sorted nodes.
bool TextLess(const std::string& a, const std::string& b);

}  // namespace kestrum
