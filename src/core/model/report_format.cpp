#include "core/model/report_format.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdio>

#include "core/globals.h"
#include "core/model/scan.h"
#include "core/model/summary.h"
#include "core/platform/mounts.h"

namespace kestrum {

std::string EscapeReportText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char buf[5];
          std::snprintf(buf, sizeof buf, "\\x%02X", c);
          out += buf;
        } else {
          out += ch;
        }
    }
  }
  return out;
}

std::string ReportNumber(double value) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.0f", std::trunc(value));
  return buf;
}

namespace {

void Field(std::string& out, const std::string& text) {
  out += '\t';
  out += text;
}

}  // namespace

void FormatReport(const DiskObject& drive, std::string& out) {
  out += "drive";
  Field(out, EscapeReportText(drive.Path));
  Field(out, ReportNumber(drive.DeviceSize));
  Field(out, ReportNumber(drive.FreeSpace));
  Field(out, ReportNumber(drive.UsedSpace));
  Field(out, ReportNumber(drive.AllocatedSpace));
  Field(out, ReportNumber(drive.AllocationUnit));
  Field(out, EscapeReportText(drive.FileSystem));
  out += '\n';
  if (const auto* folders = drive.DiskObjectsIfAny())
    for (const auto& f : *folders) {
      out += "folder";
      Field(out, EscapeReportText(f->Path));
      Field(out, ReportNumber(f->Level));
      Field(out, ReportNumber(f->UsedSpace));
      Field(out, ReportNumber(f->AllocatedSpace));
      Field(out, ReportNumber(f->FileCount));
      Field(out, ReportNumber(f->FolderCount));
      Field(out, ReportNumber(f->fUsedSpace));
      Field(out, ReportNumber(f->fAllocatedSpace));
      Field(out, ReportNumber(f->fFileCount));
      Field(out, ReportNumber(f->fFolderCount));
      out += '\n';
    }
  if (const auto* largest = drive.LargestFilesIfAny())
    for (const auto& e : *largest) {
      out += "largest";
      Field(out, EscapeReportText(e->key));
      Field(out, ReportNumber(e->Size));
      Field(out, ReportNumber(e->Allocated));
      Field(out, EscapeReportText(e->Name));
      out += '\n';
    }
  if (drive.Folder100) {
    out += "folder100";
    Field(out, EscapeReportText(drive.Folder100->Path));
    Field(out, ReportNumber(drive.Folder100->fFileCount));
    Field(out, ReportNumber(drive.Folder100->UsedSpace));
    Field(out, ReportNumber(drive.Folder100->AllocatedSpace));
    out += '\n';
  }
}

bool RunReport(const FileSystemService& fs, const std::string& canonicalPath, std::string& out,
               const MessageSink& report, unsigned threads) {
  DiskObject drive;
  drive.Class = "Drive";
  drive.Path = canonicalPath;
  drive.RootFolder = canonicalPath == "/" ? "/" : canonicalPath + "/";
  // The file system is that of the mount whose device the folder is on; among several
  // (bind mounts) the one whose mount point is the longest prefix of the path.
  struct stat st{};
  if (::stat(canonicalPath.c_str(), &st) == 0) {
    std::size_t best = 0;
    for (const MountEntry& m : ReadMountTable(fs.Sources().MountTable)) {
      struct stat ms{};
      if (::stat(m.Target.c_str(), &ms) != 0 || ms.st_dev != st.st_dev) continue;
      const bool prefix = drive.RootFolder.compare(0, m.Target.size(), m.Target) == 0;
      const std::size_t score = (prefix ? m.Target.size() : 0) + 1;
      if (score > best) {
        best = score;
        drive.FileSystem = m.FsType;
      }
    }
  }
  drive.AllocationUnit = DriveAllocUnit(fs, canonicalPath);
  GetDriveSpace(fs, canonicalPath, drive.DeviceSize, drive.FreeSpace, report);
  std::int32_t keyCounter = 0;
  Scanning = true;
  ScanOptions options;
  options.Threads = threads;
  const bool ok = ScanDrive(drive, keyCounter, options);
  Scanning = false;
  SummarizeSizes(drive);
  if (!ok && report) report("Cannot read " + drive.RootFolder);
  FormatReport(drive, out);
  return ok;
}

}  // namespace kestrum
