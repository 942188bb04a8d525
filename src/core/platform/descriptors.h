#pragma once
#include <cstddef>

namespace kestrum {

// The process's soft limit on open descriptors (RLIMIT_NOFILE), or 1024 when it cannot be
// read; a very large or infinite limit reads as 1 << 20.
std::size_t DescriptorLimit();

// Raises the soft limit on open descriptors to at most `most`, within the hard limit the
// system grants; never lowers it. For a scan, open folders are its read-ahead: the usual soft
// limit of 1024 is there for programs that still use select(), which this one does not.
void RaiseDescriptorLimit(std::size_t most);

// Grows the process's descriptor table, if it is smaller, to hold at least `count` descriptors
// (within the soft limit), so that opening that many later never grows it. Growing a table
// that threads share waits for an RCU grace period, milliseconds in which every thread opening
// a file waits too; with one thread it does not wait. Opens nothing that stays open.
void ReserveDescriptorTable(std::size_t count);

// What the programs raise the limit to: enough for the scan's largest read-ahead.
inline constexpr std::size_t kScanDescriptors = 16384;

}  // namespace kestrum
