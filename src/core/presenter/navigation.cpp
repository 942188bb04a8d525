#include "core/presenter/navigation.h"

#include "core/adapter/row_tags.h"
#include "core/presenter/listing.h"
#include "core/presenter/treemap_pane.h"
#include "core/rows/pie_data.h"
#include "core/tree/file_list.h"

namespace kestrum {

namespace {

NodeId FirstKid(const CExplorer& ex, NodeId node) {
  const TreeNode* n = ex.Node(node);
  return n && !n->Kids.empty() ? n->Kids.front() : kNoNode;
}

}  // namespace

void GoIntoNode(MainPresenter& p, NodeId node) {
  CExplorer& ex = p.Explorer();
  // The listing shows the node's children: all of them must be made.
  ex.FetchChildren(node);
  p.Listing().FirstChildNode = FirstKid(ex, node);
  p.SetSelectedNode(node);
  ex.SetSelectedItem(node);
  p.View().SelectNode(node);
  SetListView(p, p.Listing().FirstChildNode, node);
}

void tvTreeView_Click(MainPresenter& p) {
  if (p.Refused(Guard::Scan)) return;
  CExplorer& ex = p.Explorer();
  const NodeId selected = ex.SelectedItem();
  if (!ex.Exists(selected)) return;
  ex.FetchChildren(selected);
  ListingState& st = p.Listing();
  const NodeId first = FirstKid(ex, selected);
  st.FirstChildNode = first;
  p.SetSelectedNode(selected);
  st.SuffixSort = true;
  if (const TreeNode* f = ex.Node(first)) {
    const TreeNode* up = ex.Node(f->Parent);
    if ((up && up->Text == "My Computer") || f->Text == kPlaceholderText) st.SuffixSort = false;
  }
  st.PaddedSizeSort = false;
  // The results folder lists by size, or in the order found (the newest or oldest first).
  if (const DiskObject* d = ObjectOf(ex, selected); d && d->Class == ObjectClass::Results) {
    st.SuffixSort = false;
    st.PaddedSizeSort = !d->Drive().Listed || d->Drive().Listed->Order == ListedOrder::BySize;
  }
  SetListView(p, first, selected);
}

void lvListView_MouseUp(MainPresenter& p, int button, int shift) {
  p.Listing().LastButton = button;
  p.Listing().LastShift = shift;
}

void lvListView_Click(MainPresenter& p, std::size_t position) {
  if (p.Refused(Guard::Scan)) return;
  ListingState& st = p.Listing();
  if (st.LastShift != 0) return;
  const ListRow* row = p.List().Item(position);
  if (!row || IsEmpty(row->Tag)) return;
  if (IsFileTag(row->Tag)) {
    if (st.LastButton == kRightButton) p.View().PopupFileMenu();
    return;
  }
  const std::optional<NodeId> node = TagNode(row->Tag);
  CExplorer& ex = p.Explorer();
  // A row whose node an attach removed since the listing does nothing.
  if (!node || !ex.Exists(*node)) return;
  if (st.LastButton == kRightButton) {
    if (const DiskObject* d = ObjectOf(ex, *node)) {
      // A saved scan knows no device size or free space: it has no chart to show.
      if (!IsImported(d) && (d->Class == ObjectClass::Drive ||
                             (d->Class == ObjectClass::Folder && d->RootDirectory))) {
        DisplayPieChart(p, *d);
        return;
      }
      if (d->Class == ObjectClass::Folder || d->Class == ObjectClass::File) {
        p.View().PopupFileMenu();
        return;
      }
    }
  }
  GoIntoNode(p, *node);
}

void lvListView_Enter(MainPresenter& p, std::size_t row) {
  lvListView_MouseUp(p, kLeftButton, 0);
  lvListView_Click(p, row);
}

void LvListView_ColumnClick(MainPresenter& p, const std::string& header) {
  ListingState& st = p.Listing();
  if (IsDriveClass(st.CurrentClass)) {
    // While comparing, "Change" puts the largest growth first; any other header switches
    // between free and used space, in the volumes' own order.
    st.ChangeSort = header == "Change";
    if (!st.ChangeSort) st.DriveColumns = header == "Free" ? "Used" : "Free";
  } else if (st.CurrentClass == ObjectClass::Folder || st.CurrentClass == ObjectClass::Folder100 ||
             st.CurrentClass == ObjectClass::Results) {
    if (header == "Name") {
      st.SuffixSort = true;
      st.PaddedSizeSort = st.ChangeSort = false;
    } else if (header == "Size" || header == "Change") {
      st.SuffixSort = false;
      st.PaddedSizeSort = header == "Size";
      st.ChangeSort = header == "Change";
    } else {
      return;
    }
  } else {
    return;
  }
  Relist(p);
}

void BackUpTree(MainPresenter& p) {
  CExplorer& ex = p.Explorer();
  const TreeNode* n = ex.Node(ex.SelectedItem());
  if (!n || !ex.Exists(n->Parent)) return;
  GoIntoNode(p, n->Parent);
}

void DisplayPieChart(MainPresenter& p, const DiskObject& object) {
  // The map shows the drive's root folder meanwhile.
  const DiskObject* root = &object;
  if (object.Class == ObjectClass::Drive) {
    const FolderList* folders = object.DiskObjectsIfAny();
    root = folders ? folders->Item(1) : nullptr;
  }
  const PieChartData chart = PieChartOf(object, root ? CrossedSpaceOf(*root) : CrossedSpace{});
  p.List().Visible = false;
  p.Listing().ChartShown = true;
  p.View().ShowPieChart(chart);
  p.View().SetPathLabel(chart.PathLabel);
  p.MapPane().ChartNode = root ? root->Node : kNoNode;
  UpdateTreemap(p);
}

void Graph_Click(MainPresenter& p) {
  p.Listing().ChartShown = false;
  p.List().Visible = true;
  p.View().HidePieChart();
  p.View().SetPathLabel(p.Listing().PathLabel);
  UpdateTreemap(p);
}

}  // namespace kestrum
