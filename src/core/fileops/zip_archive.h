#pragma once
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/fileops/seam.h"

namespace kestrum {

// One selected file or folder handed to the archive writer, as exact bytes.
struct ZipItem {
  std::string Folder;     // the folder that holds it on disk, ending in "/"
  std::string Name;       // its last name in that folder
  std::string EntryName;  // its name in the archive (no trailing "/"; a folder's content
                          // goes below EntryName + "/")
  std::string Root;       // the folder it is opened below without following links, "/"-ended
  bool IsFolder = false;  // as the row said; the disk decides in the end
};

// The message for a refused target.
inline constexpr const char* kTargetIncorrect = "Target zip file name incorrect";

// The result codes of one zip run (16-bit, as the zip window reads them):
enum ZipResultCode : std::uint16_t {
  kZipDone = 0,           // the archive holds every item
  kZipLeftOut = 1,        // the archive was written, but some items were left out (listed)
  kZipTargetRefused = 2,  // the target name is empty, ends in "/" or names a folder
  kZipOpenFailed = 3,     // the target cannot be opened or created: not a zip archive,
                          // unreadable, its folder missing or not writable
  kZipWriteFailed = 4,    // writing the archive failed (full disk, a read error while
                          // writing, a failed close); any earlier archive is untouched
  kZipCancelled = 9,      // cancelled; any earlier archive is untouched, no new one is left
};

// One item that is not in the archive, with why.
struct ZipLeftOutItem {
  std::string Path;    // the full path on disk, exact bytes
  std::string Reason;  // "(13) Permission denied", "a FIFO: not archived", ...
};

struct ZipOutcome {
  std::uint16_t Code = kZipDone;
  std::string Message;  // "" for kZipDone; otherwise what went wrong (paths as bytes)
  std::vector<ZipLeftOutItem> LeftOut;
  std::uint64_t Entries = 0;  // entries added or replaced in this run
};

// Progress of a run. Major is the whole job, minor the current item; percent is 0..100.
// Both are called on the writer's thread.
struct ZipEvents {
  std::function<void(const std::string& item, int percent)> Major;
  std::function<void(const std::string& item, int percent)> Minor;
  // Set from any thread to stop the run as soon as possible.
  const std::atomic<bool>* Cancel = nullptr;
};

// How a file's data is stored.
struct ZipCompression {
  int Level = 6;  // deflate level 1..9, as zip's own default
  // Stores data that is already compressed (known media and archive types by extension or
  // leading bytes, or a first block that looks random) instead of deflating it again.
  bool StoreCompressed = true;
};

// Creates the archive at target (an absolute path) or updates it when it exists: entries of
// the same name are replaced, others kept. For each item: a file adds that file; a folder adds
// a folder entry and its whole content depth first, each entry named EntryName + "/" + the
// path below it. Names are the exact bytes; the UTF-8 flag is set only on valid UTF-8.
// Symbolic links are stored as links, never followed; FIFOs, sockets and devices are left out
// without being opened; folders on another file system are not entered; the archive itself is
// never added. Modes and modification times are kept; Zip64 is used where sizes or counts
// need it. Every file is opened once when it is added; one that cannot be is left out and
// listed. The data is written when the archive is closed, into a temporary file that replaces
// the target only when complete: a cancelled or failed run leaves an earlier archive as it
// was and no new file behind.
// Runs on the calling thread; events may be empty.
ZipOutcome WriteZipArchive(const std::string& target, const std::vector<ZipItem>& items,
                           const ZipEvents& events, const ZipCompression& compression = {},
                           const FileOpsSeam& calls = SystemSeam());

// True when data named name whose first bytes are head is already compressed, so deflating it
// again would cost time for nothing: known compressed formats by extension or leading bytes,
// or a first block (of at least 4 KiB) whose byte entropy is near 8 bits.
bool LooksCompressed(std::string_view name, std::string_view head);

// The text of a ZipOutcome's left-out list: one line per item, "path: reason", at most
// maxLines of them and then a count of the rest.
std::string LeftOutText(const std::vector<ZipLeftOutItem>& items, std::size_t maxLines = 30);

}  // namespace kestrum
