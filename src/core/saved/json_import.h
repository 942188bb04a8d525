#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "core/tree/disk_model.h"
#include "core/scan/scan.h"

namespace kestrum {

// Why an import failed: the file's message for the user and, for the command line, one line.
struct ImportError {
  std::string Message;  // names the file, the byte offset and what was wrong
};

// How much of its file an import has read. The import writes it; any thread may read it
// while the import runs (a progress line).
struct ImportReadProgress {
  // The file's own bytes read so far: of the compressed file where it is compressed.
  std::atomic<std::uint64_t> Bytes{0};
  // The file's size once it is open; -1 before, and for a stream (standard input, a FIFO, a
  // pipe), whose size is not known.
  std::atomic<std::int64_t> Size{-1};
};

// What an import may be told.
struct ImportOptions {
  HardLinkRule Links = HardLinkRule::Once;
  ScanProgress* Progress = nullptr;  // null: not counted
  ImportReadProgress* Read = nullptr;  // null: not counted
  // True in the window: Stop (Scanning going false) ends the import, which fails, before the
  // next piece of the file is read and during a wait for a stream's data. The report program
  // reads to the end.
  bool Stoppable = false;
  // Whether drive.Files keeps every entry (the window); the report needs only the folders.
  bool KeepFiles = true;
};

// Reads a saved scan in the common JSON export format (major version 1, any minor version;
// written by this program, by ncdu 1.x and 2.x or by gdu), plain or compressed with gzip or
// zstd (told by their first bytes), into the detached drive object drive, as ScanDrive would
// have scanned the tree: one "Folder" object per folder in the file's order (the root folder
// first, Level 1, its path the root's name in the file), LargestFiles and Folder100, and
// drive.Files holding every entry (FromFile) for the listing and what reads the whole tree. Folders' own totals are filled
// and summarised. Counting follows the scan's rules: only regular files count (entries marked
// notreg or excluded count nothing and get no row), folders' own sizes are not counted, and
// under HardLinkRule::Once a file with more than one name counts once, at its first name in
// the file, by device (inherited from the nearest folder that names one) and inode; gdu's
// files, which mark only the later names of a linked file (inode and "hlnkc" without "nlink"),
// count at their unmarked first name. The further names keep a row marked CountedElsewhere
// and count in neither sizes nor file counts.
//
// Streams: the file is never held whole ("-" reads standard input; a FIFO is read as a stream,
// its open never waits for a writer), and what the file says cannot make the reader hold more
// than a bounded amount beyond the tree it accepts: names of at most 4,096 bytes (the root's,
// its path, at most 64 MiB), keys of 256, skipped strings of 65,536, folders nested at most
// 150,000 deep, paths of 64 MiB, skipped values nested 1,000 deep. Stops, leaving drive
// empty, with false and error set when the file cannot be read, is not such an export (a
// binary ncdu export gets the command that converts it), or is damaged: truncated, not JSON,
// another major version, a number negative, fractional or out of range, an invalid escape, a
// name that holds a NUL, a name below the root that is empty, "." or "..", or holds a "/", two
// entries of one name in a folder, nesting that does not close, or anything beyond the bounds
// above. gzip members may be followed by zero padding, and zstd frames by skippable ones.
// Unknown fields and the metadata are skipped. Scanning is read only when Stoppable; a stopped
// import leaves drive empty as a failed one does, and its message says "stopped".
bool ImportScan(const std::string& file, DiskObject& drive, std::int32_t& keyCounter,
                ImportError& error, const ImportOptions& options = {});

}  // namespace kestrum
