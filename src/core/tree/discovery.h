#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/tree/disk_model.h"
#include "core/platform/volumes.h"

namespace kestrum {

// Shows a message to the user (a message box in the window, standard error in the report).
using MessageSink = std::function<void(const std::string& text)>;

// The bytes per allocation unit of the volume holding path (f_frsize), 1 when it cannot be
// read. Never changes the process's current directory.
std::int32_t DriveAllocUnit(const FileSystemService& fs, const std::string& path);

// Capacity and total free bytes (all free blocks, not only those free to the user) of the
// volume holding path. On failure both are 0, the sink gets
// "GetDiskFreeSpaceEx failed: " + the system's error text, and the result is false.
bool GetDriveSpace(const FileSystemService& fs, const std::string& path, double& total,
                   double& free, const MessageSink& report);

// The model of one discovery: the root "My Computer" and one drive per volume, in order.
// Tree nodes are not made here (see adapter/explorer.h); Node stays kNoNode.
std::unique_ptr<DiskCollection> DiscoverDrives(const FileSystemService& fs,
                                               const MessageSink& report);

}  // namespace kestrum
