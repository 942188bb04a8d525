#pragma once
#include <memory>
#include <string>
#include <vector>

#include "core/tree/disk_model.h"

namespace kestrum {

class MainPresenter;

// Reads each file (a saved scan in the JSON export format) on the command slot's worker and
// adds it under "My Computer" after the drives and folder entries, as an entry of class
// Import keyed by the file's canonical path (a file opened again replaces its entry's scan),
// labelled with the scanned root and the file's name, with its tree built as a scan's. A
// file that cannot be read gets one message box naming it, the byte offset and the fault;
// nothing of it is added. When all are read the first one added is selected and listed.
// Refused with a status line while a command runs. Window thread only.
void ImportScans(MainPresenter& p, const std::vector<std::string>& files);

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
