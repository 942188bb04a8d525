#pragma once
#include <cstdint>
#include <string>

#include "core/tree/disk_model.h"
#include "core/scan/scan.h"

namespace kestrum {

// How many readers a parallel scan runs.
struct ReaderPlan {
  unsigned Start = 2;       // readers at the start
  bool Adaptive = false;    // false: Start readers throughout
  unsigned Cores = 1;       // adaptive: where busy readers settle
  unsigned Most = 64;       // adaptive: the upper bound
  bool InodeOrder = false;  // each folder's stat calls in inode order (a seeking device)
};

// ScanDrive with readers on helper threads, which also take turns to assemble the result,
// while the calling thread reads the root folder and then only watches for a stop and sets the
// reader count. Every promise of ScanDrive holds, and the result (folders,
// their order, levels and totals, largest files and their keys, DeepestLevel, progress counts)
// is exactly that of the one-thread walk; only a stop may end it at another point, always
// between two folders of the depth-first order. After a stop it returns without waiting for
// readers still inside a system call, unless options.Reader is the caller's: those finish in
// the background and what they read is dropped.
bool ScanDriveParallel(DiskObject& drive, std::int32_t& keyCounter, const ScanOptions& options,
                       const ReaderPlan& plan);

// Both walks: the root folder's descriptor, options.RootFd duplicated when given, else
// RootFolder opened through reader. -1 with errno set on failure.
int OpenScanRoot(DirectoryReader& reader, const DiskObject& drive, const ScanOptions& options);

// Both walks, on the thread that makes folders: whether a name of a file with more than one
// name (id) counts its bytes in folder, by options.Links, options.CountedBefore and the
// drive's HardLinks table, which a counting name claims the file in (and which folder's
// LinkClaims counts).
bool ClaimHardLink(DiskObject& drive, const ScanOptions& options, const FileId& id, double size,
                   double allocated, DiskObject& folder);

}  // namespace kestrum
