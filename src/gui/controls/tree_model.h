#pragma once
#include <QAbstractItemModel>

#include "core/adapter/explorer.h"

namespace kestrum::gui {

// Shows the explorer's nodes in a QTreeView. A QModelIndex carries the node id, so no Qt
// object exists per node; the model follows every change through the explorer's observer.
// The children of a pending node are fetched (CExplorer::FetchChildren) when they are first
// counted or indexed, and IndexOf fetches those of the pending nodes above the node it is
// given, so that the tree's nodes are made only as the view shows them.
class TreeModel : public QAbstractItemModel, public TreeObserver {
  Q_OBJECT
 public:
  explicit TreeModel(CExplorer& explorer, QObject* parent = nullptr);
  ~TreeModel() override;

  QModelIndex IndexOf(NodeId node) const;
  NodeId NodeAt(const QModelIndex& index) const;

  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool hasChildren(const QModelIndex& parent = {}) const override;

  void NodeAboutToBeInserted(NodeId parent, int row) override;
  void NodeInserted() override;
  void NodeAboutToBeRemoved(NodeId parent, int row) override;
  void NodeRemoved() override;
  void TreeAboutToBeReset() override;
  void TreeReset() override;
  void NodeChanged(NodeId node) override;

 private:
  QModelIndex ParentIndex(NodeId parent) const;
  CExplorer& explorer_;
};

}  // namespace kestrum::gui
