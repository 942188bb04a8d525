#include "core/commands/zip_command.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "core/commands/command_slot.h"
#include "core/commands/command_window.h"
#include "core/platform/open_folder.h"
#include "core/trace/trace.h"

namespace kestrum {

std::string ZipPathOf(const DiskObject* listed) {
  if (!listed || listed->Class == ObjectClass::Folder100 || listed->Class == ObjectClass::Results)
    return {};
  return listed->Path();
}

ZipRequest BuildZipRequest(const TargetSelection& selection, const std::string& zipPath,
                           const std::string& homeFolder) {
  ZipRequest r;
  r.ZipPath = zipPath;
  r.BaseFolder = WithSlash(zipPath.empty() ? homeFolder : zipPath);
  r.LeftOut = selection.LeftOut;
  r.Excluded = ExcludedCount(selection);
  for (const RowTarget& t : selection.Targets) {
    r.ZipFileList += " \"";
    r.ZipFileList += t.FullPath;
    if (t.IsFolder) r.ZipFileList += "/*.*";
    r.ZipFileList += '"';

    ZipItem item;
    item.Folder = t.Folder;
    item.Name = t.Name;
    item.IsFolder = t.IsFolder;
    if (!t.LargestKey.empty() || zipPath.empty()) {
      // A largest file: named by its path below its volume's root.
      std::string_view rel = t.FullPath;
      if (!t.VolumeRoot.empty() && rel.substr(0, t.VolumeRoot.size()) == t.VolumeRoot)
        rel.remove_prefix(t.VolumeRoot.size());
      while (!rel.empty() && rel.front() == '/') rel.remove_prefix(1);
      item.EntryName = std::string(rel);
    } else {
      item.EntryName = t.Name;
    }
    item.Root = t.VolumeRoot.empty() ? WithSlash(t.Folder) : t.VolumeRoot;
    r.Items.push_back(std::move(item));
  }
  return r;
}

std::optional<std::string> ResolveZipTarget(std::string_view typed, std::string_view baseFolder) {
  if (typed.empty() || typed.back() == '/') return std::nullopt;
  std::string path;
  if (typed.front() == '/') {
    path = std::string(typed);
  } else {
    path = WithSlash(std::string(baseFolder));
    path += typed;
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return std::nullopt;
  return path;
}

ZipCommandStart StartZipCommand(const ListData& list, const CExplorer& explorer, NodeId listed,
                                const std::string& homeFolder) {
  ZipCommandStart start;
  bool anySelected = false;
  for (const ListRow& row : list.Rows()) anySelected = anySelected || row.Selected;
  if (!anySelected) return start;
  const TargetSelection selection = SelectFileTargets(list, explorer, listed);
  if (selection.Targets.empty()) {
    start.Text = NothingToActOn(selection);
    start.What = start.Text.empty() ? ZipCommandStart::Nothing : ZipCommandStart::NotAllowed;
    return start;
  }
  start.What = ZipCommandStart::OpenWindow;
  start.Request = BuildZipRequest(selection, ZipPathOf(ObjectOf(explorer, listed)), homeFolder);
  return start;
}

bool ZipFiles(CommandWindow& window, CommandSlot& slot, const ListData& list,
              const CExplorer& explorer, NodeId listed) {
  if (!slot.Acquire()) return false;
  if (Tracing()) Trace("frmMain.ZipFiles");
  ZipCommandStart start = StartZipCommand(list, explorer, listed, HomeFolder());
  if (start.What != ZipCommandStart::OpenWindow) {
    slot.Release();
    if (start.What == ZipCommandStart::NotAllowed) window.ShowMessage(start.Text);
    return true;
  }
  const bool zipped = window.RunZipWindow(std::move(start.Request));
  slot.Release();
  if (zipped) window.Relist();
  return true;
}

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home && *home == '/') return WithSlash(home);
  if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir && *pw->pw_dir == '/')
    return WithSlash(pw->pw_dir);
  return "/";
}

}  // namespace kestrum
