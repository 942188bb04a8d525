#include "core/fileops/trash.h"

#include <gio/gio.h>

#include <cerrno>
#include <memory>

#include "core/fileops/mount_guard.h"
#include "core/platform/errors.h"
#include "core/platform/open_folder.h"
#include "core/platform/unique_fd.h"

namespace kestrum {

namespace {

struct GObjectFree {
  void operator()(gpointer p) const { g_object_unref(p); }
};
struct GErrorFree {
  void operator()(GError* e) const { g_error_free(e); }
};

OpResult Result(OpStatus status, const std::string& path, int error, std::string message) {
  OpResult r;
  r.Status = status;
  r.Path = path;
  r.Error = error;
  r.Message = std::move(message);
  return r;
}

}  // namespace

OpResult TrashTarget(const FileTarget& t, const OpControl& c) {
  const FileOpsSeam& s = c.Seam;
  const std::string gone = t.FullPath + " no longer exists: it was removed since the scan.";
  OpenedFolder parent = OpenFolderBelow(t.VolumeRoot.empty() ? "/" : t.VolumeRoot, t.Folder);
  if (parent.Error == ENOENT) return Result(OpStatus::Vanished, t.FullPath, ENOENT, gone);
  if (parent.Error != 0)
    return Result(OpStatus::Failed, parent.FailedAt, parent.Error,
                  "Could not move " + t.FullPath + " to the trash: " + parent.FailedAt + ": " +
                      ErrorText(parent.Error));
  struct statx st {};
  if (s.Statx(parent.Fd.Get(), t.Name.c_str(), AT_SYMLINK_NOFOLLOW, STATX_TYPE | STATX_MODE, &st) !=
      0) {
    const int e = errno;
    if (e == ENOENT) return Result(OpStatus::Vanished, t.FullPath, e, gone);
    return Result(OpStatus::Failed, t.FullPath, e,
                  "Could not move " + t.FullPath + " to the trash: " + ErrorText(e));
  }
  const std::string refused = "Nothing was moved to the trash: ";
  if ((st.stx_attributes & st.stx_attributes_mask) & STATX_ATTR_MOUNT_ROOT)
    return Result(OpStatus::Refused, t.FullPath, 0, refused + t.FullPath + " is a mount point.");
  if (S_ISDIR(st.stx_mode)) {
    UniqueFd fd(s.OpenAt(parent.Fd.Get(), t.Name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW));
    if (!fd) {
      const int e = errno;
      if (e == ENOENT) return Result(OpStatus::Vanished, t.FullPath, e, gone);
      return Result(OpStatus::Failed, t.FullPath, e,
                    "Could not move " + t.FullPath + " to the trash: " + ErrorText(e));
    }
    const std::string canonical = CanonicalPathOf(fd.Get());
    int tableError = 0;
    const std::string mount = canonical.empty()
                                  ? std::string()
                                  : MountPointAtOrBelow(canonical, &tableError, c.MountTable);
    if (canonical.empty() || tableError != 0)
      return Result(OpStatus::Failed, t.FullPath, tableError,
                    "Could not move " + t.FullPath +
                        " to the trash: the mount table cannot be read to check for mount "
                        "points inside it.");
    if (!mount.empty()) {
      const std::string shown =
          t.FullPath + (mount.size() > canonical.size() ? mount.substr(canonical.size()) : "");
      return Result(
          OpStatus::Refused, shown, 0,
          refused + t.FullPath + " cannot go whole, because " + shown + " is a mount point.");
    }
  }

  std::unique_ptr<GFile, GObjectFree> file(g_file_new_for_path(t.FullPath.c_str()));
  GError* raw = nullptr;
  if (g_file_trash(file.get(), nullptr, &raw)) {
    if (c.Removed) c.Removed->fetch_add(1, std::memory_order_relaxed);
    OpResult done;
    done.Path = t.FullPath;
    done.Removed = 1;
    return done;
  }
  std::unique_ptr<GError, GErrorFree> error(raw);
  if (error && g_error_matches(error.get(), G_IO_ERROR, G_IO_ERROR_NOT_FOUND))
    return Result(OpStatus::Vanished, t.FullPath, ENOENT, gone);
  return Result(OpStatus::Failed, t.FullPath, 0,
                "Could not move " + t.FullPath + " to the trash (nothing was deleted): " +
                    (error && error->message ? error->message : "unknown error"));
}

}  // namespace kestrum
