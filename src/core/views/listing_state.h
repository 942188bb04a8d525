#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "core/model/disk_model.h"

namespace kestrum {

// Where a file listing read on a worker delivers its rows: the window's queue while the
// window lives, nothing once it is gone. Shared by the presenter and every worker still
// reading, so that a worker stuck on a dead server can outlive the window harmlessly.
struct ListingMailbox {
  std::mutex Lock;
  // Runs a task later on the window thread; empty: listings are read on the caller's thread.
  std::function<void(std::function<void()>)> Post;
  // The generation of the newest listing, for workers to notice they were superseded.
  std::atomic<std::uint64_t> Current{0};
};

// The state of the list's listings: which node is listed and how, kept by the presenter
// and read and written by the listing, navigation and statistics modules.
struct ListingState {
  ListingState() : Mailbox(std::make_shared<ListingMailbox>()) {}
  ~ListingState() {
    // Workers still reading find no one to deliver to.
    std::lock_guard<std::mutex> g(Mailbox->Lock);
    Mailbox->Post = nullptr;
  }
  ListingState(const ListingState&) = delete;
  ListingState& operator=(const ListingState&) = delete;

  NodeId FirstChildNode = kNoNode;  // first child of the listed node, kNoNode when none
  bool ColumnsSet = false;          // the current listing's columns were set
  bool SuffixSort = false;          // name-sort mode
  bool PaddedSizeSort = false;      // size-sort mode (by the byte counts, descending)
  std::string CurrentClass;         // class of the rows shown: "Drive", "Folder", "Folder100"
  std::string DriveColumns;         // "", "Free" or "Used": the layout of the drives listing
  int LastButton = 0;               // button of the last mouse-up on the list (1 left, 2 right)
  int LastShift = 0;                // modifier state of that mouse-up (0: none)
  bool ChartShown = false;          // the pie chart covers the list
  std::string PathLabel;            // what the listings last put in the path label
  // Bumped by every listing; a worker's rows of an older listing are dropped on arrival.
  std::uint64_t Generation = 0;
  std::shared_ptr<ListingMailbox> Mailbox;
};

}  // namespace kestrum
