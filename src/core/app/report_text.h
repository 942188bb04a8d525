#pragma once
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "core/platform/text_sink.h"
#include "core/scan/exclude_rules.h"
#include "core/tree/discovery.h"
#include "core/tree/disk_model.h"
#include "core/query/file_types.h"

namespace kestrum {

// What a headless scan leaves out and whether it crosses into file systems mounted below its
// folder (see ScanOptions).
struct ScanRules {
  std::shared_ptr<const ExcludeRules> Excludes;
  bool CrossFileSystems = false;
};

// A byte string as the report writes it: backslash as "\\", TAB "\t", LF "\n", CR "\r",
// any other byte below 0x20 and 0x7F as "\xHH" (upper-case hex); every other byte as is.
std::string EscapeReportText(std::string_view text);
// A byte count or count as plain decimal integer text.
std::string ReportNumber(double value);

// The report of a scanned drive (DiskObjects summarised, Folder100 built): one "drive"
// line, one "folder" line per DiskObjects entry in order, one "largest" line per
// LargestFiles entry in stored order and one "folder100" line; TAB-separated fields. A scan
// made with exclude rules or across file systems begins with a "rules" line: each rule's line
// (see ExcludeRule::Line), then "cross-file-systems" when it crossed.
void FormatReport(const DiskObject& drive, std::string& out);

// As above, but hands the text to sink in pieces of about a megabyte as it goes, so that the
// report of a very deep tree (whose paths alone may run to gigabytes) is never held whole.
// False when sink failed.
bool FormatReport(const DiskObject& drive, const TextSink& sink);

// Scans canonicalPath (an absolute folder path without trailing "/", or "/") as a drive's
// root folder and appends its report to out. Capacity, free space, file system and
// allocation unit are those of the volume holding the folder; the drive's Path is the
// folder's path. Messages a window would show go to report. False when the folder could
// not be opened. threads is the scan's thread count (0: the default, see ScanOptions), links
// how it counts files with more than one name.
bool RunReport(const FileSystemService& fs, const std::string& canonicalPath, std::string& out,
               const MessageSink& report, unsigned threads = 0,
               HardLinkRule links = HardLinkRule::Once, const ScanRules& rules = {});

// As above, writing the report through sink. writeFailed is set when sink failed.
bool RunReport(const FileSystemService& fs, const std::string& canonicalPath,
               const TextSink& sink, const MessageSink& report, unsigned threads,
               HardLinkRule links, bool& writeFailed, const ScanRules& rules = {});

// Scans canonicalPath into drive as RunReport does, keeping every file met in the drive's
// store (what --types counts). False when the folder could not be opened.
bool ScanKeepingFiles(const FileSystemService& fs, const std::string& canonicalPath,
                      DiskObject& drive, const MessageSink& report, unsigned threads,
                      HardLinkRule links, const ScanRules& rules = {});

// The types table of --types: a header line, then per category (largest first) one line
// "category TAB - TAB files TAB bytes TAB allocated TAB share% TAB largest-size TAB
// largest-path" and under it one line per key, the key in place of "-" ("(none)" for files
// without one). share% is of the counted bytes, one decimal; texts escaped as in the report.
std::string FormatTypesReport(const TypeCounts& counts);

}  // namespace kestrum
