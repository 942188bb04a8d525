#include "core/saved/scan_history.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <map>
#include <memory>

#include "core/platform/errors.h"
#include "core/platform/numbers.h"
#include "core/saved/json_export.h"

namespace kestrum {

namespace {

struct CloseDir {
  void operator()(DIR* d) const { ::closedir(d); }
};

constexpr std::string_view kSuffix = ".json.zst";
constexpr std::size_t kKeyLength = 16;

// Makes folder and the folders above it that are missing; the last one mode 0700, and made
// so when it stood already. 0 or the errno of the failure.
int MakePrivateFolder(const std::string& folder) {
  for (std::size_t at = 1; at <= folder.size(); ++at) {
    if (at != folder.size() && folder[at] != '/') continue;
    const std::string part = folder.substr(0, at);
    const bool last = at == folder.size();
    if (::mkdir(part.c_str(), last ? 0700 : 0755) != 0 && errno != EEXIST) return errno;
  }
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) return errno;
  if (!S_ISDIR(st.st_mode)) return ENOTDIR;
  if ((st.st_mode & 0777) != 0700 && ::chmod(folder.c_str(), 0700) != 0) return errno;
  return 0;
}

// A file of the history read from its name: KEY-YYYYMMDDTHHMMSSZ[-N].json.zst.
struct Named {
  std::string Key;
  HistoryEntry Entry;
  unsigned Counter = 0;
};

bool ReadName(const std::string& folder, const std::string& name, Named& out) {
  if (name.size() < kKeyLength + 1 + 16 + kSuffix.size() || !name.ends_with(kSuffix) ||
      name[kKeyLength] != '-')
    return false;
  const std::string stamp = name.substr(kKeyLength + 1, 16);
  std::tm tm{};
  const char* end = ::strptime(stamp.c_str(), "%Y%m%dT%H%M%SZ", &tm);
  if (!end || *end != '\0') return false;
  const std::string rest = name.substr(kKeyLength + 17, name.size() - kKeyLength - 17 - kSuffix.size());
  out.Counter = 0;
  if (!rest.empty()) {
    if (rest[0] != '-' || rest.size() < 2 || rest.size() > 6) return false;
    for (std::size_t i = 1; i < rest.size(); ++i) {
      if (rest[i] < '0' || rest[i] > '9') return false;
      out.Counter = out.Counter * 10 + static_cast<unsigned>(rest[i] - '0');
    }
  }
  out.Key = name.substr(0, kKeyLength);
  out.Entry.File = folder + "/" + name;
  out.Entry.Time = static_cast<std::int64_t>(::timegm(&tm));
  struct stat st {};
  if (::lstat(out.Entry.File.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  out.Entry.Bytes = static_cast<std::uint64_t>(st.st_size);
  return true;
}

// Every file of the history, oldest first.
std::vector<Named> ReadFolder(const std::string& folder) {
  std::vector<Named> files;
  std::unique_ptr<DIR, CloseDir> dir(::opendir(folder.c_str()));
  if (!dir) return files;
  while (const dirent* d = ::readdir(dir.get())) {
    Named n;
    if (ReadName(folder, d->d_name, n)) files.push_back(std::move(n));
  }
  std::sort(files.begin(), files.end(), [](const Named& a, const Named& b) {
    if (a.Entry.Time != b.Entry.Time) return a.Entry.Time < b.Entry.Time;
    if (a.Counter != b.Counter) return a.Counter < b.Counter;
    return a.Entry.File < b.Entry.File;
  });
  return files;
}

}  // namespace

std::string HistoryFolder(const char* xdgDataHome, const char* home) {
  std::string base;
  if (xdgDataHome && *xdgDataHome == '/')
    base = xdgDataHome;
  else
    base = std::string(home ? home : "") + "/.local/share";
  return base + "/Kestrum/history";
}

std::string FileSystemUuid(dev_t dev, const std::string& byUuid) {
  std::unique_ptr<DIR, CloseDir> dir(::opendir(byUuid.c_str()));
  if (!dir) return {};
  while (const dirent* d = ::readdir(dir.get())) {
    if (d->d_name[0] == '.') continue;
    struct stat st {};
    const std::string link = byUuid + "/" + d->d_name;
    if (::stat(link.c_str(), &st) == 0 && S_ISBLK(st.st_mode) && st.st_rdev == dev)
      return d->d_name;
  }
  return {};
}

std::string ScanHistory::RootKey(const HistoryRoot& root) {
  // FNV-1a, 64 bits, of the UUID, a separator no path begins with, and the path.
  std::uint64_t h = 0xcbf29ce484222325ULL;
  const auto mix = [&h](std::string_view s) {
    for (const unsigned char c : s) {
      h ^= c;
      h *= 0x100000001b3ULL;
    }
  };
  mix(root.Uuid);
  mix(std::string_view("\n", 1));
  mix(root.Path);
  char key[kKeyLength + 1];
  std::snprintf(key, sizeof key, "%016llx", static_cast<unsigned long long>(h));
  return key;
}

HistorySaved ScanHistory::Save(const DiskObject& drive, const HistoryRoot& root, std::int64_t now,
                               bool stoppable) const {
  HistorySaved saved;
  if (const int err = MakePrivateFolder(folder_); err != 0) {
    saved.Message = "The scan was not kept in the history: cannot make " + folder_ + ": " +
                    ErrorText(err);
    return saved;
  }
  std::tm tm{};
  const auto t = static_cast<std::time_t>(now);
  char stamp[32] = "";
  if (!::gmtime_r(&t, &tm) || std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &tm) == 0) {
    saved.Message = "The scan was not kept in the history: the clock gives no time";
    return saved;
  }
  // One file per root and second; a second save within the second takes a counter.
  const std::string base = folder_ + "/" + RootKey(root) + "-" + stamp;
  std::string file = base + std::string(kSuffix);
  struct stat st {};
  for (unsigned counter = 1; ::lstat(file.c_str(), &st) == 0 && counter < 100000; ++counter)
    file = base + "-" + std::to_string(counter) + std::string(kSuffix);
  ExportOptions options;
  options.Stoppable = stoppable;
  std::string error;
  if (!ExportScanToFile(drive, file, error, options)) {
    saved.Message = "The scan was not kept in the history: " + error;
    return saved;
  }
  // The folder is the user's alone already; the file is made so too before anything else.
  ::chmod(file.c_str(), 0600);
  if (::stat(file.c_str(), &st) == 0 && static_cast<std::uint64_t>(st.st_size) > limits_.TotalBytes) {
    ::unlink(file.c_str());
    saved.Message = "The scan was not kept in the history: its " +
                    FormatSize(static_cast<double>(st.st_size)) + " are more than the " +
                    FormatSize(static_cast<double>(limits_.TotalBytes)) + " it may hold";
    return saved;
  }
  saved.Kept = true;
  saved.File = file;
  saved.Dropped = Prune();
  return saved;
}

std::size_t ScanHistory::Prune() const {
  std::vector<Named> files = ReadFolder(folder_);
  std::vector<bool> drop(files.size(), false);
  // Per root, all but the newest PerRoot.
  std::map<std::string, std::size_t> kept;
  for (std::size_t i = files.size(); i-- > 0;)
    if (++kept[files[i].Key] > limits_.PerRoot) drop[i] = true;
  // Then in all, the oldest first, until the rest fits the budget.
  std::uint64_t total = 0;
  for (std::size_t i = 0; i < files.size(); ++i)
    if (!drop[i]) total += files[i].Entry.Bytes;
  for (std::size_t i = 0; i < files.size() && total > limits_.TotalBytes; ++i) {
    if (drop[i]) continue;
    drop[i] = true;
    total -= files[i].Entry.Bytes;
  }
  std::size_t dropped = 0;
  for (std::size_t i = 0; i < files.size(); ++i)
    if (drop[i] && ::unlink(files[i].Entry.File.c_str()) == 0) ++dropped;
  return dropped;
}

std::vector<HistoryEntry> ScanHistory::List(const HistoryRoot& root) const {
  const std::string key = RootKey(root);
  std::vector<HistoryEntry> entries;
  std::vector<Named> files = ReadFolder(folder_);
  for (auto it = files.rbegin(); it != files.rend(); ++it)
    if (it->Key == key) entries.push_back(std::move(it->Entry));
  return entries;
}

}  // namespace kestrum
