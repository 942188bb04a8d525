#include "core/adapter/explorer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>

#include "core/adapter/folder_nodes.h"
#include "core/adapter/list_data.h"

namespace kestrum {

namespace {
unsigned char Fold(unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; }
}  // namespace

bool TextLess(const std::string& a, const std::string& b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char x = Fold(static_cast<unsigned char>(a[i]));
    const unsigned char y = Fold(static_cast<unsigned char>(b[i]));
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

std::size_t CExplorer::ValueHash::operator()(const ItemValue& v) const {
  return std::hash<ItemValue>{}(v);
}

std::uint32_t CExplorer::HashOf(const ItemValue& v) {
  // Pointer hashes are the addresses, whose low bits are all alike: mix before masking.
  return static_cast<std::uint32_t>((std::hash<ItemValue>{}(v)*0x9E3779B97F4A7C15ULL) >> 32);
}

std::size_t CExplorer::FindFirst(const ItemValue& v, std::uint32_t hash) const {
  if (firstByData_.empty()) return SIZE_MAX;
  const std::size_t mask = firstByData_.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    const Bucket& b = firstByData_[i];
    if (b.Slot == UINT32_MAX) return SIZE_MAX;
    if (b.Hash == hash && items_[b.Slot].Data == v) return i;
  }
}

void CExplorer::ResizeFirsts(std::size_t links) {
  std::size_t size = 16;
  while (size < links * 2) size *= 2;
  if (size <= firstByData_.size()) return;
  std::vector<Bucket> old = std::move(firstByData_);
  firstByData_.assign(size, Bucket{});
  const std::size_t mask = size - 1;
  for (const Bucket& b : old) {
    if (b.Slot == UINT32_MAX) continue;
    std::size_t i = b.Hash & mask;
    while (firstByData_[i].Slot != UINT32_MAX) i = (i + 1) & mask;
    firstByData_[i] = b;
  }
}

bool CExplorer::AddFirst(const ItemValue& v, std::uint32_t slot) {
  const std::uint32_t hash = HashOf(v);
  if (FindFirst(v, hash) != SIZE_MAX) return false;
  ResizeFirsts(firstCount_ + 1);
  const std::size_t mask = firstByData_.size() - 1;
  std::size_t i = hash & mask;
  while (firstByData_[i].Slot != UINT32_MAX) i = (i + 1) & mask;
  firstByData_[i] = Bucket{slot, hash};
  ++firstCount_;
  return true;
}

void CExplorer::EraseBucket(std::size_t at) {
  // Shift later members of the probe run back, so that no lookup stops early at the hole.
  const std::size_t mask = firstByData_.size() - 1;
  std::size_t hole = at;
  for (std::size_t j = (at + 1) & mask; firstByData_[j].Slot != UINT32_MAX; j = (j + 1) & mask) {
    const std::size_t home = firstByData_[j].Hash & mask;
    const bool staysPut = hole <= j ? (hole < home && home <= j) : (hole < home || home <= j);
    if (staysPut) continue;
    firstByData_[hole] = firstByData_[j];
    hole = j;
  }
  firstByData_[hole] = Bucket{};
  --firstCount_;
}

CExplorer::CExplorer() {
  GetChildren = [this](const ItemValue& v) { MakeChildNodes(*this, NodeOfData(v)); };
  ClearNodes();
}

std::string_view CExplorer::Intern(std::string_view key) {
  auto it = imageKeys_.find(key);
  if (it == imageKeys_.end()) it = imageKeys_.emplace(key).first;
  return *it;
}

void CExplorer::Init(ListData* listView, std::optional<std::string> image,
                     std::optional<std::string> selectedImage,
                     std::optional<std::string> itemImage) {
  lv_ = listView;
  image_ = std::move(image);
  selectedImage_ = std::move(selectedImage);
  itemImage_ = std::move(itemImage);
  ClearNodes();
  if (lv_) ClearItems();
}

void CExplorer::ClearNodes() {
  if (observer_) observer_->TreeAboutToBeReset();
  nodes_.clear();
  nodes_.emplace_back();  // the invisible top, node 0
  nodes_[0].Alive = true;
  liveNodes_ = 0;
  items_.clear();
  liveItems_ = 0;
  firstByData_.clear();
  firstCount_ = 0;
  moreByData_.clear();
  selected_ = kNoNode;
  if (observer_) observer_->TreeReset();
}

const TreeNode* CExplorer::Node(NodeId id) const {
  return id != kNoNode && id < nodes_.size() && nodes_[id].Alive ? &nodes_[id] : nullptr;
}

int CExplorer::ChildCount(NodeId id) const {
  if (id == kNoNode) return static_cast<int>(nodes_[0].Kids.size());
  const TreeNode* n = Node(id);
  return n ? static_cast<int>(n->Kids.size()) : 0;
}

int CExplorer::RowOf(NodeId id) const {
  const TreeNode* n = Node(id);
  if (!n) return -1;
  const auto& sib = nodes_[n->Parent].Kids;
  const auto it = std::find(sib.begin(), sib.end(), id);
  return it == sib.end() ? -1 : static_cast<int>(it - sib.begin());
}

bool CExplorer::Told(NodeId node) const {
  for (NodeId n = node; n != kNoNode; n = nodes_[n].Parent) {
    const TreeNode& t = nodes_[n];
    if (!t.Alive || t.Pending || t.Detached) return false;
  }
  return true;
}

NodeId CExplorer::NewNode(const std::string& text, NodeId parent, std::string image,
                          std::string selectedImage) {
  const bool detached = parent != kNoNode && nodes_[parent].Detached;
  auto& kids = nodes_[parent].Kids;
  auto pos = kids.end();
  // A detached subtree is sorted once when it is attached.
  if (!detached && parent != kNoNode && nodes_[parent].Sorted)
    pos = std::upper_bound(kids.begin(), kids.end(), text, [this](const std::string& t, NodeId k) {
      return TextLess(t, nodes_[k].Text);
    });
  const int row = static_cast<int>(pos - kids.begin());
  const bool tell = observer_ && !detached && Told(parent);
  if (tell) observer_->NodeAboutToBeInserted(parent, row);
  // Taken after the observer was told: a view answering it may have fetched children.
  const auto id = static_cast<NodeId>(nodes_.size());
  TreeNode n;
  n.Text = text;
  n.Image = Intern(image);
  n.SelectedImage = Intern(selectedImage);
  n.Parent = parent;
  n.Alive = true;
  n.Detached = detached;
  nodes_.push_back(std::move(n));
  auto& k2 = nodes_[parent].Kids;  // nodes_ may have moved
  k2.insert(k2.begin() + row, id);
  ++liveNodes_;
  if (tell) observer_->NodeInserted();
  return id;
}

NodeId CExplorer::AddDetachedNode(const std::string& text, const ItemValue& data, bool hasChildren,
                                  std::optional<std::string> image,
                                  std::optional<std::string> selectedImage, bool sorted) {
  if (!image) image = image_;
  if (!selectedImage) selectedImage = image;
  const auto id = static_cast<NodeId>(nodes_.size());
  TreeNode n;
  n.Text = text;
  n.Image = Intern(image.value_or(""));
  n.SelectedImage = Intern(selectedImage.value_or(""));
  n.Alive = true;
  n.Detached = true;
  n.Sorted = sorted;
  nodes_.push_back(std::move(n));
  ++liveNodes_;
  if (!IsEmpty(data)) Link(id, data);
  if (hasChildren) AddPlaceholder(id);
  return id;
}

void CExplorer::AttachNode(NodeId detached, NodeId parent) {
  if (!Node(detached) || !nodes_[detached].Detached || nodes_[detached].Parent != kNoNode) return;
  if (parent != kNoNode && (!Node(parent) || nodes_[parent].Detached)) return;
  std::vector<NodeId> sub;
  Collect(detached, sub);
  for (NodeId n : sub) {
    TreeNode& t = nodes_[n];
    t.Detached = false;
    // Equal texts keep the order they were added in: ids grow with it. A plain sort on
    // (text, id) gives the stable order without a stable sort's buffer per folder.
    if (t.Sorted && t.Kids.size() > 1)
      std::sort(t.Kids.begin(), t.Kids.end(), [this](NodeId a, NodeId b) {
        if (TextLess(nodes_[a].Text, nodes_[b].Text)) return true;
        return !TextLess(nodes_[b].Text, nodes_[a].Text) && a < b;
      });
  }
  if (parent != kNoNode) RemovePlaceholderIfOnlyChild(parent);
  auto& kids = nodes_[parent].Kids;
  auto pos = kids.end();
  if (parent != kNoNode && nodes_[parent].Sorted)
    pos = std::upper_bound(
        kids.begin(), kids.end(), nodes_[detached].Text,
        [this](const std::string& t, NodeId k) { return TextLess(t, nodes_[k].Text); });
  const int row = static_cast<int>(pos - kids.begin());
  const bool tell = observer_ && Told(parent);
  if (tell) observer_->NodeAboutToBeInserted(parent, row);
  nodes_[detached].Parent = parent;
  auto& k2 = nodes_[parent].Kids;
  k2.insert(k2.begin() + row, detached);
  if (tell) observer_->NodeInserted();
}

bool CExplorer::PlaceChildren(NodeId parent, const std::vector<NodeId>& order) {
  if (parent != kNoNode && (!Node(parent) || nodes_[parent].Detached)) return false;
  // The present children, the placeholder aside, must come in order and in their order;
  // anything else must be the top of a detached subtree.
  const auto& present = nodes_[parent].Kids;
  const bool placeholderOnly =
      parent != kNoNode && present.size() == 1 && nodes_[present[0]].Text == kPlaceholderText;
  std::size_t next = placeholderOnly ? present.size() : 0;
  for (NodeId n : order) {
    if (next < present.size() && present[next] == n) {
      ++next;
      continue;
    }
    const TreeNode* t = Node(n);
    if (!t || !t->Detached || t->Parent != kNoNode || n == parent) return false;
  }
  if (next != present.size()) return false;
  if (order.size() == (placeholderOnly ? 0 : present.size())) return true;
  if (placeholderOnly) RemovePlaceholderIfOnlyChild(parent);
  std::vector<NodeId> sub;
  auto join = [&](NodeId top) {
    sub.clear();
    Collect(top, sub);
    for (NodeId s : sub) nodes_[s].Detached = false;
    nodes_[top].Parent = parent;
  };
  const bool tell = observer_ && Told(parent);
  if (!tell) {
    for (NodeId n : order)
      if (nodes_[n].Detached) join(n);
    nodes_[parent].Kids = order;
    return true;
  }
  for (std::size_t row = 0; row < order.size(); ++row) {
    const NodeId n = order[row];
    if (!nodes_[n].Detached) continue;
    observer_->NodeAboutToBeInserted(parent, static_cast<int>(row));
    join(n);
    auto& kids = nodes_[parent].Kids;
    kids.insert(kids.begin() + static_cast<std::ptrdiff_t>(row), n);
    observer_->NodeInserted();
  }
  return true;
}

void CExplorer::SetPending(NodeId node, bool pending) {
  if (Node(node)) nodes_[node].Pending = pending;
}

void CExplorer::FetchChildren(NodeId node) {
  if (!Node(node) || !nodes_[node].Pending) return;
  // Still pending while the handler adds: the observer hears nothing of it.
  const ItemValue d = ItemData(node);
  if (GetChildren && !IsEmpty(d)) GetChildren(d);
  if (Node(node)) nodes_[node].Pending = false;
}

void CExplorer::AddPlaceholder(NodeId node) {
  if (nodes_[node].Kids.empty()) NewNode(kPlaceholderText, node, {}, {});
}

bool CExplorer::RemovePlaceholderIfOnlyChild(NodeId node) {
  const auto& kids = nodes_[node].Kids;
  if (kids.size() == 1 && nodes_[kids[0]].Text == kPlaceholderText) {
    RemoveNode(kids[0]);
    return true;
  }
  return false;
}

NodeId CExplorer::AddNode(const std::string& text, const ItemValue& data, bool hasChildren,
                          NodeId parent, std::optional<std::string> image,
                          std::optional<std::string> selectedImage, bool sorted) {
  if (!image) image = image_;
  if (!selectedImage) selectedImage = image;
  if (parent != kNoNode) {
    if (!Node(parent)) return kNoNode;
    RemovePlaceholderIfOnlyChild(parent);
  }
  const NodeId id = NewNode(text, parent, image.value_or(""), selectedImage.value_or(""));
  if (sorted) nodes_[id].Sorted = true;
  if (!IsEmpty(data)) Link(id, data);
  if (hasChildren) AddPlaceholder(id);
  return id;
}

NodeId CExplorer::AddNodeUnder(const ItemValue& parentData, const std::string& text,
                               const ItemValue& data, bool hasChildren,
                               std::optional<std::string> image,
                               std::optional<std::string> selectedImage, bool sorted) {
  const NodeId parent = NodeOfData(parentData);
  if (parent == kNoNode) return kNoNode;
  return AddNode(text, data, hasChildren, parent, std::move(image), std::move(selectedImage),
                 sorted);
}

void CExplorer::Collect(NodeId node, std::vector<NodeId>& out) const {
  // Iterative, so that a tree thousands of levels deep does not exhaust the stack.
  std::vector<NodeId> stack{node};
  while (!stack.empty()) {
    const NodeId n = stack.back();
    stack.pop_back();
    out.push_back(n);
    for (NodeId k : nodes_[n].Kids) stack.push_back(k);
  }
}

void CExplorer::RemoveNode(NodeId node) {
  if (!Node(node)) return;
  const NodeId parent = nodes_[node].Parent;
  const bool detachedTop = nodes_[node].Detached && parent == kNoNode;
  const bool quiet = nodes_[node].Detached || !Told(parent);
  const int row = detachedTop ? -1 : RowOf(node);
  if (observer_ && !quiet) observer_->NodeAboutToBeRemoved(parent, row);
  std::vector<NodeId> doomed;
  Collect(node, doomed);
  for (NodeId n : doomed) {
    // Links of the descendants go too: a link left on a removed node would keep pointing at
    // a model object that the next scan frees.
    DropLink(n);
    if (selected_ == n) selected_ = kNoNode;
    TreeNode& t = nodes_[n];
    t = TreeNode{};
    --liveNodes_;
  }
  if (!detachedTop) {
    auto& sib = nodes_[parent].Kids;
    sib.erase(sib.begin() + row);
  }
  if (observer_ && !quiet) observer_->NodeRemoved();
}

void CExplorer::RemoveNodeByData(const ItemValue& data) {
  const NodeId n = NodeOfData(data);
  if (n != kNoNode) RemoveNode(n);
}

void CExplorer::Reserve(std::size_t moreNodes) {
  // A quarter more than asked: the nodes that refreshes add later (removed nodes keep their
  // slots) then fit without moving a tree of a million nodes on the window thread. Room
  // never written takes no memory.
  const std::size_t room = moreNodes + moreNodes / 4;
  nodes_.reserve(nodes_.size() + room);
  items_.reserve(items_.size() + room);
  ResizeFirsts(firstCount_ + moreNodes);
}

void CExplorer::Link(NodeId node, const ItemValue& value) {
  const auto slot = static_cast<std::uint32_t>(items_.size());
  items_.push_back({node, value});
  nodes_[node].Item = slot;
  ++liveItems_;
  if (!AddFirst(value, slot)) moreByData_[value].push_back(slot);
}

void CExplorer::DropLink(NodeId node) {
  const std::uint32_t slot = nodes_[node].Item;
  if (slot == UINT32_MAX) return;
  nodes_[node].Item = UINT32_MAX;
  --liveItems_;
  Entry& e = items_[slot];
  const std::size_t first = FindFirst(e.Data, HashOf(e.Data));
  const auto more = moreByData_.find(e.Data);
  if (first != SIZE_MAX && firstByData_[first].Slot == slot) {
    if (more != moreByData_.end()) {
      firstByData_[first].Slot = more->second.front();
      more->second.erase(more->second.begin());
      if (more->second.empty()) moreByData_.erase(more);
    } else {
      EraseBucket(first);
    }
  } else if (more != moreByData_.end()) {
    auto& v = more->second;
    v.erase(std::find(v.begin(), v.end(), slot));
    if (v.empty()) moreByData_.erase(more);
  }
  e = Entry{kNoNode, {}};
  // Compact when most slots are empty, keeping the order of the rest.
  if (items_.size() > 64 && liveItems_ * 4 < items_.size()) {
    std::vector<Entry> kept;
    kept.reserve(liveItems_);
    for (Entry& x : items_)
      if (x.Node != kNoNode) kept.push_back(std::move(x));
    items_ = std::move(kept);
    firstByData_.clear();
    firstCount_ = 0;
    moreByData_.clear();
    ResizeFirsts(items_.size());
    for (std::uint32_t i = 0; i < items_.size(); ++i) {
      nodes_[items_[i].Node].Item = i;
      if (!AddFirst(items_[i].Data, i)) moreByData_[items_[i].Data].push_back(i);
    }
  }
}

ItemValue CExplorer::ItemData(NodeId node) const {
  const TreeNode* n = Node(node);
  return n && n->Item != UINT32_MAX ? items_[n->Item].Data : ItemValue{};
}

void CExplorer::SetItemData(NodeId node, const ItemValue& value) {
  if (!Node(node)) return;
  DropLink(node);
  if (!IsEmpty(value)) Link(node, value);
}

NodeId CExplorer::NodeOfData(const ItemValue& data) const {
  if (IsEmpty(data)) return kNoNode;
  const std::size_t at = FindFirst(data, HashOf(data));
  return at == SIZE_MAX ? kNoNode : items_[firstByData_[at].Slot].Node;
}

std::string CExplorer::FullPath(NodeId node) const {
  std::vector<const std::string*> parts;
  for (const TreeNode* n = Node(node); n; n = Node(n->Parent)) parts.push_back(&n->Text);
  std::string out;
  for (auto it = parts.rbegin(); it != parts.rend(); ++it) {
    if (!out.empty() || it != parts.rbegin()) out += kPathSeparator;
    out += **it;
  }
  return out;
}

NodeId CExplorer::GetNodeFromPath(const std::string& fullPath) const {
  // Descend along the path: a node matches when its text is the next piece of the path,
  // followed by the separator or the end. Texts may hold the separator themselves, so every
  // matching branch is followed; the earliest added node wins.
  NodeId best = kNoNode;
  std::vector<std::pair<NodeId, std::size_t>> stack{{kNoNode, 0}};
  while (!stack.empty()) {
    auto [parent, offset] = stack.back();
    stack.pop_back();
    for (NodeId k : nodes_[parent].Kids) {
      const std::string& t = nodes_[k].Text;
      if (fullPath.compare(offset, t.size(), t) != 0) continue;
      const std::size_t end = offset + t.size();
      if (end == fullPath.size()) {
        if (best == kNoNode || k < best) best = k;
      } else if (end < fullPath.size() && fullPath[end] == kPathSeparator) {
        stack.push_back({k, end + 1});
      }
    }
  }
  return best;
}

void CExplorer::SetSelectedItem(NodeId node) {
  if (node == kNoNode || Node(node)) selected_ = node;
}

void CExplorer::TV_Expand(NodeId node) {
  if (!Node(node)) return;
  nodes_[node].Expanded = true;
  if (nodes_[node].Pending) {
    FetchChildren(node);
    return;
  }
  if (!RemovePlaceholderIfOnlyChild(node)) return;
  if (GetChildren) {
    const ItemValue d = ItemData(node);
    if (!IsEmpty(d)) GetChildren(d);
  }
}

void CExplorer::TV_Collapse(NodeId node) {
  if (Node(node)) nodes_[node].Expanded = false;
}

void CExplorer::TV_NodeClick(NodeId node) {
  const ItemValue d = ItemData(node);
  if (!IsEmpty(d) && GetItems) GetItems(d);
}

void CExplorer::TV_KeyDown(int keyCode, int) {
  if (keyCode == 46 && AllowDelete) RemoveNode(selected_);
}

void CExplorer::TV_BeforeLabelEdit(bool& cancel) const {
  if (!AllowRename) cancel = true;
}

void CExplorer::TV_AfterLabelEdit(bool& cancel, std::string& newString) {
  const ItemValue d = ItemData(selected_);
  if (!IsEmpty(d) && RenameNode) RenameNode(d, newString, cancel);
}

void CExplorer::ClearItems() {
  if (!lv_) return;
  lv_->Clear();
  lv_->SetSorted(false);
}

std::size_t CExplorer::AddItem(const std::string& text, const std::string& image,
                               const std::vector<std::string>& subItems) {
  return AddItem2(text, {}, image, subItems);
}

std::size_t CExplorer::AddItem2(const std::string& text, const std::string& key,
                                const std::string& image,
                                const std::vector<std::string>& subItems) {
  if (!lv_) return 0;
  ListRow row;
  row.Text = text;
  row.Key = key;
  row.Icon = row.SmallIcon = image.empty() ? itemImage_.value_or("") : image;
  row.SubItems = subItems;
  return lv_->Add(std::move(row));
}

void CExplorer::RemoveItem(std::size_t index) {
  if (lv_) lv_->Remove(index);
}

void CExplorer::RemoveItem(const std::string& key) {
  if (lv_) lv_->Remove(lv_->IndexOfKey(key));
}

void CExplorer::SetColumns(const std::vector<std::variant<std::string, double>>& args) {
  if (!lv_) return;
  lv_->ClearColumns();
  auto text = [](const std::variant<std::string, double>& v) {
    if (const auto* s = std::get_if<std::string>(&v)) return *s;
    const double d = std::get<double>(v);
    return d == std::trunc(d) ? std::to_string(static_cast<long long>(d)) : std::to_string(d);
  };
  auto number = [](const std::variant<std::string, double>& v) -> double {
    if (const auto* d = std::get_if<double>(&v)) return std::trunc(*d);
    try {
      return std::trunc(std::stod(std::get<std::string>(v)));
    } catch (...) {
      return 0;
    }
  };
  for (std::size_t i = 0; i < args.size(); i += 2) {
    double width;
    if (i + 1 < args.size()) {
      width = number(args[i + 1]);
    } else {
      const auto& cols = lv_->Columns();
      width = 2000;
      if (!cols.empty()) {
        const double fill = lv_->Width - lv_->ColumnLeft(cols.size() - 1) - cols.back().Width - 730;
        width = std::max(fill, 2000.0);
      }
    }
    lv_->AddColumn(text(args[i]), width);
  }
}

}  // namespace kestrum
