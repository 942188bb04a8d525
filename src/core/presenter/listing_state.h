#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "core/presenter/layout.h"
#include "core/tree/disk_model.h"

namespace kestrum {

// The state of the list's listings: which node is listed and how, kept by the presenter
// and read and written by the listing, navigation and statistics modules.
struct ListingState {
  ListingState() = default;
  ListingState(const ListingState&) = delete;
  ListingState& operator=(const ListingState&) = delete;

  NodeId FirstChildNode = kNoNode;  // first child of the listed node, kNoNode when none
  bool ColumnsSet = false;          // the current listing's columns were set
  bool SuffixSort = false;          // name-sort mode
  bool PaddedSizeSort = false;      // size-sort mode (by the byte counts, descending)
  bool ChangeSort = false;          // while comparing: by change, largest growth first
  ObjectClass CurrentClass =
      ObjectClass::None;     // class of the rows shown: Drive, Folder, Folder100
  std::string DriveColumns;  // "", "Free" or "Used": the layout of the drives listing
  int LastButton = 0;        // button of the last mouse-up on the list (1 left, 2 right)
  int LastShift = 0;         // modifier state of that mouse-up (0: none)
  bool ChartShown = false;   // the pie chart covers the list
  std::string PathLabel;     // what the listings last put in the path label
  std::string StatusLine;    // the status line the last listing wrote
  ColumnFit Columns;         // the list's column widths; each listing forgets the user's
  // Bumped by every listing; a worker's rows of an older listing are dropped on arrival.
  std::uint64_t Generation = 0;
  // The newest Generation, for workers still reading to notice they were superseded; shared
  // with them, since a worker stuck on a dead server may outlive the presenter.
  std::shared_ptr<std::atomic<std::uint64_t>> Newest =
      std::make_shared<std::atomic<std::uint64_t>>(0);
};

}  // namespace kestrum
