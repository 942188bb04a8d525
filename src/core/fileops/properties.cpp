#include "core/fileops/properties.h"

#include <fcntl.h>
#include <glib.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "core/platform/errors.h"
#include "core/platform/numbers.h"
#include "core/platform/open_folder.h"

namespace kestrum {

namespace {

std::string Time(const struct statx_timestamp& ts) {
  const std::time_t t = static_cast<std::time_t>(ts.tv_sec);
  struct tm local {};
  if (!localtime_r(&t, &local)) return {};
  char buffer[64];
  const std::size_t n = std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &local);
  return std::string(buffer, n);
}

std::string UserName(unsigned uid) {
  std::vector<char> buffer(16384);
  struct passwd pw {};
  struct passwd* found = nullptr;
  if (getpwuid_r(uid, &pw, buffer.data(), buffer.size(), &found) == 0 && found)
    return std::string(found->pw_name) + " (" + std::to_string(uid) + ")";
  return std::to_string(uid);
}

std::string GroupName(unsigned gid) {
  std::vector<char> buffer(16384);
  struct group gr {};
  struct group* found = nullptr;
  if (getgrgid_r(gid, &gr, buffer.data(), buffer.size(), &found) == 0 && found)
    return std::string(found->gr_name) + " (" + std::to_string(gid) + ")";
  return std::to_string(gid);
}

std::string TypeText(unsigned mode) {
  if (S_ISDIR(mode)) return "Folder";
  if (S_ISREG(mode)) return "File";
  if (S_ISLNK(mode)) return "Symbolic link";
  if (S_ISFIFO(mode)) return "Named pipe";
  if (S_ISSOCK(mode)) return "Socket";
  if (S_ISCHR(mode)) return "Character device";
  if (S_ISBLK(mode)) return "Block device";
  return "Unknown";
}

}  // namespace

std::string ByteCountText(double n) {
  std::string plain = std::to_string(static_cast<long long>(n));
  // Thousands grouped with blanks, so that a long count reads at a glance.
  std::string grouped;
  const std::size_t len = plain.size();
  for (std::size_t i = 0; i < len; ++i) {
    if (i > 0 && (len - i) % 3 == 0) grouped += ' ';
    grouped += plain[i];
  }
  return FormatSize(n) + " (" + grouped + (n == 1 ? " byte)" : " bytes)");
}

std::string PermissionText(unsigned mode) {
  std::string s = S_ISDIR(mode) ? "d" : S_ISLNK(mode) ? "l" : "-";
  const char* rwx = "rwx";
  for (int i = 0; i < 9; ++i) s += (mode & (0400u >> i)) ? rwx[i % 3] : '-';
  if (mode & S_ISUID) s[3] = (mode & S_IXUSR) ? 's' : 'S';
  if (mode & S_ISGID) s[6] = (mode & S_IXGRP) ? 's' : 'S';
  if (mode & S_ISVTX) s[9] = (mode & S_IXOTH) ? 't' : 'T';
  char octal[8];
  std::snprintf(octal, sizeof octal, "%04o", mode & 07777u);
  return s + " (" + octal + ")";
}

std::string FileUri(const std::string& path) {
  char* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
  if (!uri) return {};
  std::string out(uri);
  g_free(uri);
  return out;
}

PropertiesInfo ReadProperties(const FileTarget& t) {
  PropertiesInfo info;
  info.FullPath = t.FullPath;
  info.Name = t.Name;
  info.IsFolder = t.IsFolder;
  OpenedFolder parent = OpenFolderBelow(t.VolumeRoot.empty() ? "/" : t.VolumeRoot, t.Folder);
  struct statx st {};
  int error = parent.Error;
  if (error == 0 && ::statx(parent.Fd.Get(), t.Name.c_str(), AT_SYMLINK_NOFOLLOW,
                            STATX_BASIC_STATS | STATX_BTIME, &st) != 0)
    error = errno;
  if (error != 0) {
    info.Error = error == ENOENT ? t.FullPath + " no longer exists: it was removed since the scan."
                                 : "Cannot read " + t.FullPath + ": " + ErrorText(error);
    return info;
  }
  auto row = [&info](std::string label, std::string value) {
    info.Rows.emplace_back(std::move(label), std::move(value));
  };
  row("Name", t.Name);
  row("Folder", t.Folder);
  std::string type = TypeText(st.stx_mode);
  if (S_ISLNK(st.stx_mode)) {
    std::string target(4096, '\0');
    const ssize_t n = ::readlinkat(parent.Fd.Get(), t.Name.c_str(), target.data(), target.size());
    if (n >= 0) type += " to " + target.substr(0, static_cast<std::size_t>(n));
  }
  row("Type", type);
  row("Size", ByteCountText(static_cast<double>(st.stx_size)));
  row("Allocated", ByteCountText(static_cast<double>(st.stx_blocks) * 512.0));
  row("Modified", Time(st.stx_mtime));
  row("Changed", Time(st.stx_ctime));
  row("Owner", UserName(st.stx_uid));
  row("Group", GroupName(st.stx_gid));
  row("Permissions", PermissionText(st.stx_mode));
  row("Hard links", std::to_string(st.stx_nlink));
  return info;
}

}  // namespace kestrum
