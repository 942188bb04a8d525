#pragma once
#include <string>
#include <string_view>

#include "core/platform/text_sink.h"
#include "core/scan/scan.h"

namespace kestrum {

// What an export may be told.
struct ExportOptions {
  DirectoryReader* Reader = nullptr;  // null: the real file system
  ScanProgress* Progress = nullptr;   // null: not counted
  unsigned Threads = 0;               // the scan's readers (see ScanOptions::Threads)
  // An export from memory ends, failing, when Scanning goes false (the window's Stop).
  bool Stoppable = false;
  // An export from memory writes this folder of the drive and what lies below it, as a tree of
  // its own; null: the drive's whole tree.
  const DiskObject* Top = nullptr;
  // A scan's export: what it leaves out (written as "excluded":"pattern") and whether it
  // crosses into file systems mounted below its folder (see ScanOptions).
  std::shared_ptr<const ExcludeRules> Excludes;
  bool CrossFileSystems = false;
};

// A name as the export writes it, the way ncdu writes it: '"' and '\' escaped, the control
// bytes below 0x20 and 0x7F as \b \f \n \r \t or \u00XX, every other byte as it is (so a name
// that is not UTF-8 keeps its bytes).
void AppendExportName(std::string& out, std::string_view name);

// Scans the folder tree under root (an absolute folder path) with the scan's own walk, which
// hands each folder here instead of building the model, and writes it to sink in the JSON
// export format, version 1.2, as it goes (only the folders read ahead are held at once): one nested array per folder
// (its information first: name, the root's device, modification time, and read_error where
// it could not be read), its files after it (asize = size, dsize = the space the scan counts,
// mtime, and ino with nlink and hlnkc where the file has more than one name), its other
// entries (links, devices, pipes, sockets) as notreg and its mount points as excluded
// ("othfs"), both without sizes, then its subfolders. A folder that could not be opened, read
// or whose entries could not be stated is written with read_error and what could be read. Never leaves root's file system, never
// follows a link and does not recurse, so depth is limited only by memory. False with error
// set when root cannot be opened, when sink fails or when Scanning goes false (a stop).
bool ExportTree(const std::string& root, const TextSink& sink, std::string& error,
                const ExportOptions& options = {});

// Writes what drive (a scanned drive or folder entry, or a saved scan, that kept its entries)
// holds in memory in the same format, without reading the disk: for a tree unchanged since
// its scan, the text ExportTree would write of it but for the timestamp. Entries deleted
// since are left out. False with error set when drive kept no entries, when sink fails or,
// with Stoppable, on a stop.
bool ExportScan(const DiskObject& drive, const TextSink& sink, std::string& error,
                const ExportOptions& options = {});

// Exports root into file ("-": standard output) through a pending file, so that a stopped or
// failed export leaves no file and an earlier file of that name is replaced only by a
// complete one; a name ending in ".gz" or ".zst" is written compressed with gzip or zstd.
// False with error set on any failure.
bool ExportToFile(const std::string& root, const std::string& file, std::string& error,
                  const ExportOptions& options = {});
// The same for the tree drive holds in memory (ExportScan).
bool ExportScanToFile(const DiskObject& drive, const std::string& file, std::string& error,
                      const ExportOptions& options = {});

}  // namespace kestrum
