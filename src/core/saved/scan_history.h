#pragma once
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/tree/disk_model.h"

namespace kestrum {

// How much the history keeps: at most PerRoot scans of one root and TotalBytes of files in
// all, the oldest dropped first.
struct HistoryLimits {
  std::size_t PerRoot = 10;
  std::uint64_t TotalBytes = std::uint64_t{500} << 20;
};

// What a scanned tree is known by in the history: its root folder's path and, where the
// system names one, its file system's UUID, so that another file system mounted at the same
// place later is another root.
struct HistoryRoot {
  std::string Path;
  std::string Uuid;  // "" when none is known
};

// One earlier scan kept in the history.
struct HistoryEntry {
  std::string File;       // full path of the saved scan
  std::int64_t Time = 0;  // when it was saved, seconds since 1970 (UTC), from its name
  std::uint64_t Bytes = 0;
};

// What a save did. Kept false with Message saying why (a failure to write, or a scan larger
// than the whole budget); Dropped counts the older files the limits removed.
struct HistorySaved {
  bool Kept = false;
  std::string File;
  std::string Message;
  std::size_t Dropped = 0;
};

// The history's folder: dataHome/Kestrum/history, where dataHome is $XDG_DATA_HOME when it
// is an absolute path, else home/.local/share. Given the two values, not read here, so that
// tests and the window each say where.
std::string HistoryFolder(const char* xdgDataHome, const char* home);

// The UUID of the file system that holds device dev (a stat's st_dev), found among the links
// of byUuid (normally /dev/disk/by-uuid, whose links name block devices); "" when none names
// it, as for file systems without a block device of their own.
std::string FileSystemUuid(dev_t dev, const std::string& byUuid = "/dev/disk/by-uuid");

// The scans kept of the roots a program has scanned, as compressed saved scans
// (ROOTKEY-YYYYMMDDTHHMMSSZ[-N].json.zst, the key a hash of the root's UUID and path). The
// folder is made mode 0700 and each file 0600: they list every name of the tree. Not safe for
// two saves at once into one folder; one save and any number of listings are.
class ScanHistory {
 public:
  explicit ScanHistory(std::string folder, HistoryLimits limits = {})
      : folder_(std::move(folder)), limits_(limits) {}

  const std::string& Folder() const { return folder_; }

  // Writes drive (a completed scan that kept its entries) from memory as the scan of root at
  // time now, then drops the oldest files beyond the limits. A file larger than the whole
  // budget is removed again and not kept. Stoppable: a stop (Scanning false) ends it, nothing
  // kept.
  HistorySaved Save(const DiskObject& drive, const HistoryRoot& root, std::int64_t now,
                    bool stoppable = false) const;

  // The scans kept of root, newest first.
  std::vector<HistoryEntry> List(const HistoryRoot& root) const;

  // The name prefix of root's files.
  static std::string RootKey(const HistoryRoot& root);

 private:
  // Drops the oldest files beyond the limits; returns how many went.
  std::size_t Prune() const;
  std::string folder_;
  HistoryLimits limits_;
};

}  // namespace kestrum
