#pragma once
#include <string>

namespace kestrum {

// The path the kernel gives for an open file or folder (through /proc/self/fd), with links
// resolved; "" when it cannot tell.
std::string CanonicalPathOf(int fd);

// The first mount point in the mount table (in /proc/self/mountinfo form) that is
// canonicalPath itself or lies below it, bind mounts included; "" when there is none.
// Costs one pass over the table, whatever the size of the tree below the path. When the
// table cannot be read, tableError gets its errno and the result is "".
std::string MountPointAtOrBelow(const std::string& canonicalPath, int* tableError = nullptr,
                                const std::string& table = "/proc/self/mountinfo");

}  // namespace kestrum
