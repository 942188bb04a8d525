#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/tree/disk_model.h"

namespace kestrum {

class MainPresenter;

// Reads each file (a saved scan in the JSON export format) on the command slot's worker, as a
// long command: the tree is disabled, the status line shows the file and its bytes read (of
// its size, for a regular file) once a second, and Stop drops the file at hand (its read ends
// between two pieces of it, or in a wait for a stream's data) and reads no further file.
// Once the reading ends, each file read to its end before that is added under "My Computer" after the
// drives and folder entries, as an entry of class Import keyed by the file's canonical path (a
// file opened again replaces its entry's scan), labelled with the scanned root and the file's
// name, with its tree built as a scan's, and the first one added is selected and listed. A
// file that cannot be read gets one message box naming it, the byte offset and the fault; it
// adds nothing and undoes no other file. When none is added (every file failed, or Stop came
// first) the tree, the list and the selection stay as they were. Refused with a status line
// while a command runs. Window thread only.
void ImportScans(MainPresenter& p, const std::vector<std::string>& files);

// The status line while an import reads file index (0-based) of count, named name, with bytes
// of its size read; size -1 (a stream) gives the bytes alone.
std::string ImportProgressText(const std::string& name, std::size_t index, std::size_t count,
                               std::uint64_t bytes, std::int64_t size);
// The status line when an import of count files ends with added of them added.
std::string ImportEndText(std::size_t added, std::size_t count, bool stopped);

// "&Export Scan...": asks for a file and writes into it, from memory and without reading the
// disk, the scan of the tree selected (a scanned drive or folder entry, or a saved scan, whole;
// or a folder of one and what lies below it), in the command slot, with the progress line and
// Stop (a stopped or failed export leaves no file; a name ending in .gz or .zst is
// compressed). The root, a drive not scanned and the largest-files folder get a status line.
void ExportSelected(MainPresenter& p);

// Rediscovery keeps saved scans: taken out of the old model before it goes, added back to
// the new one with their trees.
std::vector<std::unique_ptr<DiskObject>> TakeSavedScans(DiskCollection* disks);
void AddSavedScan(MainPresenter& p, std::unique_ptr<DiskObject> entry);

}  // namespace kestrum
