#pragma once
#include <cstddef>
#include <string>

#include "core/presenter/main_presenter.h"

namespace kestrum {

// The list's navigation: which node is listed and in which order, and what clicks on the
// list do. Window thread only. Each handler that acts ends in SetListView (listing.h).

// Mouse buttons as lvListView_MouseUp records them.
inline constexpr int kLeftButton = 1;
inline constexpr int kRightButton = 2;

// The tree's click: lists the tree's selected node, in name-sort mode except for the root
// and unscanned drives (unsorted). Refused while a scan runs.
void tvTreeView_Click(MainPresenter& p);

// Records the button and modifier state of a mouse-up on the list, for the click after it.
void lvListView_MouseUp(MainPresenter& p, int button, int shift);

// The list's click on the 1-based row (0: none), with the button and modifiers of the last
// mouse-up. Only without modifiers and on a row with a tag:
//  - file row, right button: the popup menu; left button: nothing;
//  - drive or drive's root-folder row, right button: the pie chart;
//  - other folder row, right button: the popup menu;
//  - any other drive or folder row (and the largest-files row with either button): goes
//    into it, keeping the sort mode.
// Refused while a scan runs.
void lvListView_Click(MainPresenter& p, std::size_t row);

// Enter on the list: a plain left click on the selected row, whatever the last mouse-up was.
void lvListView_Enter(MainPresenter& p, std::size_t row);

// A click on a column header: the drive layout on "My Computer", name or size order on a
// folder (or, while comparing, change order: "Change"); relists the listed node as the tree
// has it now.
void LvListView_ColumnClick(MainPresenter& p, const std::string& header);

// Goes into node as a click on its row does: lists it as the new SelectedNode, selected in
// the tree, keeping the sort mode.
void GoIntoNode(MainPresenter& p, NodeId node);

// Back up one level: lists the parent of the tree's selected node; nothing at the root.
void BackUpTree(MainPresenter& p);

// Shows the pie chart of a drive or a drive's root folder over the list.
void DisplayPieChart(MainPresenter& p, const DiskObject& object);

// A click on the pie chart: back to the list, which kept its rows.
void Graph_Click(MainPresenter& p);

}  // namespace kestrum
