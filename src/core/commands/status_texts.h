#pragma once

namespace kestrum {

// Status lines of commands refused rather than queued.

// A command given while another (scan, delete, trash, zip) still runs.
inline constexpr const char* kBusyStatus =
    "A command is running: wait for it to end or press Stop.";

// A command on rows given while the list is still being read: it would otherwise act on
// whatever rows the finished listing selects.
inline constexpr const char* kListingPendingStatus =
    "The list is still being read; try again when it is shown.";

// A command that reads or changes this computer's files, given on a saved scan's entry or rows.
inline constexpr const char* kSavedScanStatus =
    "This is a saved scan: nothing on this computer is scanned, deleted, trashed, zipped or "
    "opened through it.";

}  // namespace kestrum
