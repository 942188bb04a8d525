#include "core/app/report_text.h"

#include <sys/stat.h>

#include <charconv>
#include <cmath>
#include <cstdio>

#include "core/scan/scan.h"
#include "core/scan/scanning.h"
#include "core/tree/summary.h"
#include "core/platform/mounts.h"

namespace kestrum {

namespace {

bool NeedsEscape(unsigned char c) { return c == '\\' || c < 0x20 || c == 0x7F; }

void AppendEscaped(std::string& out, std::string_view text) {
  std::size_t plain = 0;
  while (plain < text.size() && !NeedsEscape(static_cast<unsigned char>(text[plain]))) ++plain;
  out.append(text.data(), plain);
  for (std::size_t i = plain; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char buf[5];
          std::snprintf(buf, sizeof buf, "\\x%02X", c);
          out += buf;
        } else {
          out += text[i];
        }
    }
  }
}

void AppendNumber(std::string& out, double value) {
  const double t = std::trunc(value);
  // Whole numbers of the model print exactly as integers; anything else (-0, huge, not a
  // number) takes the general conversion, which gives the same text for the rest.
  if (std::fabs(t) < 9.0e15 && !(t == 0 && std::signbit(t))) {
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, static_cast<long long>(t));
    out.append(buf, r.ptr);
    return;
  }
  char buf[400];
  std::snprintf(buf, sizeof buf, "%.0f", t);
  out += buf;
}

void Field(std::string& out, std::string_view text) {
  out += '\t';
  AppendEscaped(out, text);
}

void Field(std::string& out, double value) {
  out += '\t';
  AppendNumber(out, value);
}

}  // namespace

std::string EscapeReportText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  AppendEscaped(out, text);
  return out;
}

std::string ReportNumber(double value) {
  std::string out;
  AppendNumber(out, value);
  return out;
}

namespace {

// Writes the report into out, handing out over to sink (when there is one) whenever it holds
// 64 KiB or more: small enough that the buffer's pages stay few and warm. False once sink has
// failed; nothing more is written then.
bool WriteReport(const DiskObject& drive, std::string& out, const TextSink* sink) {
  constexpr std::size_t kPiece = 64 * 1024;
  if (sink) out.reserve(kPiece + 8 * 1024);
  bool ok = true;
  auto line = [&] {
    out += '\n';
    if (sink && ok && out.size() >= kPiece) {
      ok = (*sink)(out);
      out.clear();
    }
  };
  // A scan that left something out, or crossed into other file systems, says so first; a
  // report of a scan without rules is what it always was.
  if (!drive.Drive().ExcludeLines.empty() || drive.Drive().CrossFileSystems) {
    out += "rules";
    for (const std::string& rule : drive.Drive().ExcludeLines) Field(out, rule);
    if (drive.Drive().CrossFileSystems) Field(out, "cross-file-systems");
    line();
  }
  out += "drive";
  Field(out, drive.OwnPath());
  Field(out, static_cast<double>(drive.Drive().DeviceSize));
  Field(out, static_cast<double>(drive.Drive().FreeSpace));
  Field(out, static_cast<double>(drive.UsedSpace));
  Field(out, static_cast<double>(drive.AllocatedSpace));
  Field(out, static_cast<double>(drive.Drive().AllocationUnit));
  Field(out, drive.Drive().FileSystem);
  line();
  if (const auto* folders = drive.DiskObjectsIfAny())
    folders->ForEachWithPath([&](const DiskObject& f, const std::string& path) {
      if (!ok) return;
      out += "folder";
      Field(out, path);
      Field(out, static_cast<double>(f.Level));
      Field(out, static_cast<double>(f.UsedSpace));
      Field(out, static_cast<double>(f.AllocatedSpace));
      Field(out, static_cast<double>(f.FileCount));
      Field(out, static_cast<double>(f.FolderCount));
      Field(out, static_cast<double>(f.fUsedSpace));
      Field(out, static_cast<double>(f.fAllocatedSpace));
      Field(out, static_cast<double>(f.fFileCount));
      Field(out, static_cast<double>(f.fFolderCount));
      line();
    });
  if (const auto* largest = drive.LargestFilesIfAny())
    for (const auto& e : *largest) {
      if (!ok) break;
      out += "largest";
      Field(out, e->key);
      Field(out, static_cast<double>(e->Size));
      Field(out, static_cast<double>(e->Allocated));
      Field(out, e->Name);
      line();
    }
  if (drive.Drive().Folder100 && ok) {
    out += "folder100";
    Field(out, drive.Drive().Folder100->Path());
    Field(out, static_cast<double>(drive.Drive().Folder100->fFileCount));
    Field(out, static_cast<double>(drive.Drive().Folder100->UsedSpace));
    Field(out, static_cast<double>(drive.Drive().Folder100->AllocatedSpace));
    line();
  }
  if (sink && ok && !out.empty()) ok = (*sink)(out);
  if (sink) out.clear();
  return ok;
}

// Scans canonicalPath as a drive's root folder into drive. False when it cannot be opened.
bool ScanForReport(const FileSystemService& fs, const std::string& canonicalPath, DiskObject& drive,
                   const MessageSink& report, unsigned threads, HardLinkRule links,
                   const ScanRules& rules, bool keepFiles = false) {
  drive.Class = ObjectClass::Drive;
  drive.SetPath(canonicalPath);
  drive.DriveForChange().RootFolder = canonicalPath == "/" ? "/" : canonicalPath + "/";
  // The file system is that of the mount whose device the folder is on; among several
  // (bind mounts) the one whose mount point is the longest prefix of the path.
  struct stat st {};
  if (::stat(canonicalPath.c_str(), &st) == 0) {
    std::size_t best = 0;
    for (const MountEntry& m : ReadMountTable(fs.Sources().MountTable)) {
      struct stat ms {};
      if (::stat(m.Target.c_str(), &ms) != 0 || ms.st_dev != st.st_dev) continue;
      const bool prefix = drive.Drive().RootFolder.compare(0, m.Target.size(), m.Target) == 0;
      const std::size_t score = (prefix ? m.Target.size() : 0) + 1;
      if (score > best) {
        best = score;
        drive.DriveForChange().FileSystem = m.FsType;
      }
    }
  }
  drive.DriveForChange().AllocationUnit = DriveAllocUnit(fs, canonicalPath);
  GetDriveSpace(fs, canonicalPath, drive.DriveForChange().DeviceSize,
                drive.DriveForChange().FreeSpace, report);
  std::int32_t keyCounter = 0;
  Scanning = true;
  ScanOptions options;
  options.Threads = threads;
  options.Links = links;
  options.KeepFiles = keepFiles;  // the report prints folders and the largest files only
  options.Excludes = rules.Excludes;
  options.CrossFileSystems = rules.CrossFileSystems;
  const bool ok = ScanDrive(drive, keyCounter, options);
  Scanning = false;
  SummarizeSizes(drive);
  if (!ok && report) report("Cannot read " + drive.Drive().RootFolder);
  return ok;
}

}  // namespace

void FormatReport(const DiskObject& drive, std::string& out) { WriteReport(drive, out, nullptr); }

bool FormatReport(const DiskObject& drive, const TextSink& sink) {
  std::string out;
  return WriteReport(drive, out, &sink);
}

bool RunReport(const FileSystemService& fs, const std::string& canonicalPath, std::string& out,
               const MessageSink& report, unsigned threads, HardLinkRule links,
               const ScanRules& rules) {
  DiskObject drive;
  const bool ok = ScanForReport(fs, canonicalPath, drive, report, threads, links, rules);
  FormatReport(drive, out);
  return ok;
}

bool RunReport(const FileSystemService& fs, const std::string& canonicalPath,
               const TextSink& sink, const MessageSink& report, unsigned threads,
               HardLinkRule links, bool& writeFailed, const ScanRules& rules) {
  DiskObject drive;
  const bool ok = ScanForReport(fs, canonicalPath, drive, report, threads, links, rules);
  writeFailed = !FormatReport(drive, sink);
  return ok;
}

bool ScanKeepingFiles(const FileSystemService& fs, const std::string& canonicalPath,
                      DiskObject& drive, const MessageSink& report, unsigned threads,
                      HardLinkRule links, const ScanRules& rules) {
  return ScanForReport(fs, canonicalPath, drive, report, threads, links, rules, true);
}

std::string FormatTypesReport(const TypeCounts& counts) {
  std::string out = "category\tkey\tfiles\tbytes\tallocated\tshare%\tlargest\tlargest path\n";
  const auto line = [&](std::string_view category, std::string_view key, auto& t) {
    char share[32];
    const double part =
        counts.Bytes ? 100.0 * static_cast<double>(t.Bytes) / static_cast<double>(counts.Bytes)
                     : 0.0;
    std::snprintf(share, sizeof share, "%.1f", part);
    out += EscapeReportText(category);
    out += '\t';
    out += EscapeReportText(key);
    out += '\t' + std::to_string(t.Files) + '\t' + std::to_string(t.Bytes) + '\t' +
           std::to_string(t.Allocated) + '\t' + share + '\t' + std::to_string(t.LargestSize) + '\t';
    out += EscapeReportText(t.LargestPath);
    out += '\n';
  };
  for (const CategoryTotals& c : counts.Categories) {
    line(CategoryName(c.Category), "-", c);
    for (const TypeTotals& t : c.Keys)
      line(CategoryName(c.Category), t.Key.empty() ? "(none)" : t.Key, t);
  }
  return out;
}

}  // namespace kestrum
