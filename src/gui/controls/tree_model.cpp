#include "gui/controls/tree_model.h"

#include <vector>

#include "gui/controls/icons.h"
#include "gui/controls/text.h"

namespace kestrum::gui {

TreeModel::TreeModel(CExplorer& explorer, QObject* parent)
    : QAbstractItemModel(parent), explorer_(explorer) {
  explorer_.SetObserver(this);
}

TreeModel::~TreeModel() { explorer_.SetObserver(nullptr); }

NodeId TreeModel::NodeAt(const QModelIndex& index) const {
  return index.isValid() ? static_cast<NodeId>(index.internalId()) : kNoNode;
}

QModelIndex TreeModel::IndexOf(NodeId node) const {
  // A node below a pending one stands among siblings not made yet: make them first, top down,
  // so that the row given out is the one the view will see.
  bool pendingAbove = false;
  for (const TreeNode* n = explorer_.Node(node); n && !pendingAbove; n = explorer_.Node(n->Parent))
    if (const TreeNode* up = explorer_.Node(n->Parent)) pendingAbove = up->Pending;
  if (pendingAbove) {
    std::vector<NodeId> way;
    for (const TreeNode* n = explorer_.Node(node); n && n->Parent != kNoNode;
         n = explorer_.Node(n->Parent))
      way.push_back(n->Parent);
    for (auto it = way.rbegin(); it != way.rend(); ++it) explorer_.FetchChildren(*it);
  }
  const int row = explorer_.RowOf(node);
  return row < 0 ? QModelIndex() : createIndex(row, 0, static_cast<quintptr>(node));
}

QModelIndex TreeModel::ParentIndex(NodeId parent) const {
  return parent == kNoNode ? QModelIndex() : IndexOf(parent);
}

QModelIndex TreeModel::index(int row, int column, const QModelIndex& parent) const {
  if (column != 0 || row < 0) return {};
  const NodeId p = NodeAt(parent);
  explorer_.FetchChildren(p);
  const std::vector<NodeId>* kids = nullptr;
  if (p == kNoNode) {
    kids = &explorer_.TopLevel();
  } else if (const TreeNode* n = explorer_.Node(p)) {
    kids = &n->Kids;
  }
  if (!kids || row >= static_cast<int>(kids->size())) return {};
  return createIndex(row, 0, static_cast<quintptr>((*kids)[static_cast<std::size_t>(row)]));
}

QModelIndex TreeModel::parent(const QModelIndex& child) const {
  const TreeNode* n = explorer_.Node(NodeAt(child));
  return n ? ParentIndex(n->Parent) : QModelIndex();
}

int TreeModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid() && parent.column() != 0) return 0;
  // Children are made when a view first asks for them; none were shown before, so the view
  // is told nothing of their making.
  explorer_.FetchChildren(NodeAt(parent));
  return explorer_.ChildCount(NodeAt(parent));
}

int TreeModel::columnCount(const QModelIndex&) const { return 1; }

bool TreeModel::hasChildren(const QModelIndex& parent) const {
  // Answered without making them: a view asks it of every row it draws.
  if (parent.isValid() && parent.column() != 0) return false;
  const NodeId p = NodeAt(parent);
  if (p == kNoNode) return !explorer_.TopLevel().empty();
  const TreeNode* n = explorer_.Node(p);
  return n && (n->Pending || !n->Kids.empty());
}

QVariant TreeModel::data(const QModelIndex& index, int role) const {
  const TreeNode* n = explorer_.Node(NodeAt(index));
  if (!n) return {};
  switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
      return DisplayText(n->Text);
    case Qt::DecorationRole:
      return IconFor(std::string(
          n->Expanded || explorer_.SelectedItem() == NodeAt(index) ? n->SelectedImage : n->Image));
    default:
      return {};
  }
}

void TreeModel::NodeAboutToBeInserted(NodeId parent, int row) {
  beginInsertRows(ParentIndex(parent), row, row);
}
void TreeModel::NodeInserted() { endInsertRows(); }
void TreeModel::NodeAboutToBeRemoved(NodeId parent, int row) {
  beginRemoveRows(ParentIndex(parent), row, row);
}
void TreeModel::NodeRemoved() { endRemoveRows(); }
void TreeModel::TreeAboutToBeReset() { beginResetModel(); }
void TreeModel::TreeReset() { endResetModel(); }
void TreeModel::NodeChanged(NodeId node) {
  const QModelIndex i = IndexOf(node);
  if (i.isValid()) emit dataChanged(i, i);
}

}  // namespace kestrum::gui
