#pragma once
#include <string>

#include "core/presenter/main_presenter.h"

namespace kestrum {

// The list's listings. Each fills the presenter's list from the model through the adapter,
// following the presenter's ListingState (sort modes, drive layout) and its toggles. Window
// thread only.

// Lists parentNode, whose first child is firstChild (kNoNode when it has none): one row per
// child node in tree order, the file rows when the folder has no subfolders or "Files" is
// on, sorted in the current mode, the first row selected, the status line and path label
// written and, for a scanned drive, the statistics rows appended. A recycle-bin or trash
// folder is opened in the file manager instead and the list stays empty.
//
// File rows are read from the disk. When the presenter's queue is connected to the window,
// they are read on a worker thread: the list is empty and ListingPending() true until the
// whole listing appears in one piece; a newer listing supersedes it (its rows are dropped).
// Without a window the listing completes before the call returns.
void SetListView(MainPresenter& p, NodeId firstChild, NodeId parentNode);

// Drops any listing still being read (its rows never appear) and clears the list: for a
// command that is about to change the model under the list.
void CancelListing(MainPresenter& p);

// The status line of "My Computer": the disk volumes it lists (those not ready included), its
// folder entries and its saved scans, each counted apart, e.g. "3 disk volumes, 1 folder,
// 2 saved scans". A kind of which there is none is left out, but a list of nothing still says
// "0 disk volumes".
std::string ComputerStatus(const DiskCollection& disks);

// Lists the presenter's SelectedNode again, with its first child as the tree has it now;
// nothing when that node no longer exists.
void Relist(MainPresenter& p);

}  // namespace kestrum
