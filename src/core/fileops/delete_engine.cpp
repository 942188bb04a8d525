#include "core/fileops/delete_engine.h"

#include <dirent.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <vector>

#include "core/fileops/mount_guard.h"
#include "core/platform/errors.h"
#include "core/platform/open_folder.h"
#include "core/platform/unique_fd.h"

namespace kestrum {

namespace {

constexpr int kDirFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW;
constexpr unsigned kTypeMask = STATX_TYPE | STATX_MODE;
constexpr unsigned kFolderMask = STATX_TYPE | STATX_MODE | STATX_INO | STATX_MNT_ID;
constexpr std::uint64_t kBlockingAttributes = STATX_ATTR_IMMUTABLE | STATX_ATTR_APPEND;
// Folders deeper than this many levels below the open ones have their descriptor closed and
// are opened again through ".." on the way back up, so depth costs no descriptors.
constexpr std::size_t kOpenFolders = 64;

OpResult Make(OpStatus status, std::string path, int error, std::string message) {
  OpResult r;
  r.Status = status;
  r.Path = std::move(path);
  r.Error = error;
  r.Message = std::move(message);
  return r;
}

OpResult Failure(const std::string& what, const std::string& path, int error) {
  return Make(OpStatus::Failed, path, error,
              "Could not delete " + what + ": " + path + ": " + ErrorText(error));
}

OpResult Refusal(const std::string& top, const std::string& obstacle, const std::string& why) {
  return Make(OpStatus::Refused, obstacle, 0,
              "Nothing was deleted: " + top + " cannot be deleted whole, because " + obstacle +
                  " " + why + ".");
}

OpResult Gone(const std::string& path) {
  return Make(OpStatus::Vanished, path, ENOENT,
              path + " no longer exists: it was removed since the scan.");
}

// Reads every entry of the folder fd but "." and "..", with the type the folder reports.
struct Entry {
  std::string Name;
  unsigned char Type;
};
int ReadFolder(const FileOpsSeam& seam, int fd, std::vector<Entry>& out) {
  out.clear();
  alignas(8) char buffer[32768];
  for (;;) {
    const long n = seam.GetDents(fd, buffer, sizeof buffer);
    if (n < 0) return errno;
    if (n == 0) return 0;
    for (long at = 0; at < n;) {
      const auto* d = reinterpret_cast<const struct dirent64*>(buffer + at);
      at += d->d_reclen;
      const char* name = d->d_name;
      if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
      out.push_back({name, d->d_type});
    }
  }
}

bool SameMount(const struct statx& a, const struct statx& b) {
  if (a.stx_dev_major != b.stx_dev_major || a.stx_dev_minor != b.stx_dev_minor) return false;
  if ((a.stx_mask & STATX_MNT_ID) && (b.stx_mask & STATX_MNT_ID))
    return a.stx_mnt_id == b.stx_mnt_id;
  return true;
}

// Why an entry with these attributes blocks its own removal or that of its content; "" when
// nothing does.
const char* BlockingAttribute(const struct statx& st) {
  const std::uint64_t set = st.stx_attributes & st.stx_attributes_mask;
  if (set & STATX_ATTR_IMMUTABLE) return "is marked immutable";
  if (set & STATX_ATTR_APPEND) return "is marked append-only";
  if (set & STATX_ATTR_MOUNT_ROOT) return "is a mount point";
  return nullptr;
}

// One depth-first pass over a folder tree: either the check that everything can go, or the
// delete. The stack is a vector of frames, one per open level, never the C++ stack.
class TreePass {
 public:
  TreePass(const OpControl& control, bool deleting, std::string topPath)
      : c_(control), s_(control.Seam), deleting_(deleting), top_(std::move(topPath)) {}

  // Runs over the folder name inside parentFd (whose own mount is parentStat's).
  OpResult Run(int parentFd, const std::string& name) {
    UniqueFd fd(s_.OpenAt(parentFd, name.c_str(), kDirFlags));
    if (!fd) {
      const int e = errno;
      if (e == ENOENT) return Gone(top_);
      if (e == ELOOP || e == ENOTDIR)
        return Make(OpStatus::Failed, top_, e,
                    "Could not delete " + top_ + ": it is no longer a folder (" + SystemText(e) +
                        "); nothing was deleted.");
      return Failure(top_, top_, e);
    }
    if (s_.Statx(fd.Get(), "", AT_EMPTY_PATH, kFolderMask, &topStat_) != 0)
      return Failure(top_, top_, errno);
    frames_.emplace_back();
    frames_.back().Name = name;
    frames_.back().Ino = topStat_.stx_ino;
    if (OpResult r = Enter(std::move(fd), topStat_); r.Status != OpStatus::Done) return r;

    while (!frames_.empty()) {
      if (Stopped()) return Stop();
      Frame& f = frames_.back();
      if (f.Next < f.Subfolders.size()) {
        const std::string child = std::move(f.Subfolders[f.Next++]);
        UniqueFd cfd(s_.OpenAt(f.Fd.Get(), child.c_str(), kDirFlags));
        if (!cfd) {
          const int e = errno;
          if (e == ENOENT) continue;  // vanished meanwhile: gone either way
          return Failure(top_, PathTo(child), e);
        }
        struct statx st {};
        if (s_.Statx(cfd.Get(), "", AT_EMPTY_PATH, kFolderMask, &st) != 0)
          return Failure(top_, PathTo(child), errno);
        if (!SameMount(st, topStat_)) return Refusal(top_, PathTo(child), "is a mount point");
        if (f.Subfolders.size() == f.Next) {
          f.Subfolders.clear();  // a long chain keeps no names it is done with
          f.Subfolders.shrink_to_fit();
          f.Next = 0;
        }
        frames_.emplace_back();
        frames_.back().Name = child;
        frames_.back().Ino = st.stx_ino;
        ++open_;
        LimitOpen();
        if (OpResult r = Enter(std::move(cfd), st); r.Status != OpStatus::Done) return r;
        continue;
      }
      // Every entry of this folder is done: leave it for its parent.
      if (frames_.size() == 1) {
        frames_.pop_back();
        if (deleting_) {
          if (s_.UnlinkAt(parentFd, name.c_str(), AT_REMOVEDIR) != 0) {
            const int e = errno;
            if (e != ENOENT) return Failure(top_, top_, e);
          } else {
            Count();
          }
        }
        break;
      }
      Frame& parent = frames_[frames_.size() - 2];
      if (!parent.Fd) {
        // Back up through "..", checking it is the very folder the walk came down from.
        UniqueFd up(s_.OpenAt(f.Fd.Get(), "..", kDirFlags));
        struct statx st {};
        if (!up || s_.Statx(up.Get(), "", AT_EMPTY_PATH, kFolderMask, &st) != 0 ||
            st.stx_ino != parent.Ino || !SameMount(st, topStat_))
          return Make(OpStatus::Failed, PathTo(""), EBUSY,
                      "Could not delete " + top_ + ": a folder inside it was moved while it " +
                          "was being deleted.");
        parent.Fd = std::move(up);
        ++open_;
        lowestOpen_ = frames_.size() - 2;
      }
      const std::string child = std::move(f.Name);
      frames_.pop_back();
      --open_;
      Frame& p = frames_.back();
      if (deleting_) {
        if (s_.UnlinkAt(p.Fd.Get(), child.c_str(), AT_REMOVEDIR) != 0) {
          const int e = errno;
          if (e != ENOENT) return Failure(top_, PathTo(child), e);
        } else {
          Count();
        }
      }
    }
    OpResult done;
    done.Path = top_;
    done.Removed = removed_;
    return done;
  }

 private:
  struct Frame {
    UniqueFd Fd;
    std::string Name;  // in the parent folder
    std::uint64_t Ino = 0;
    std::vector<std::string> Subfolders;
    std::size_t Next = 0;
  };

  bool Stopped() const { return c_.StopRequested && c_.StopRequested(); }
  OpResult Stop() {
    OpResult r = Make(OpStatus::Stopped, top_, 0,
                      deleting_ ? "Stopped: " + top_ + " was deleted only in part (" +
                                      std::to_string(removed_) + " objects removed)."
                                : "Stopped before anything of " + top_ + " was deleted.");
    r.Removed = removed_;
    return r;
  }
  void Count() {
    ++removed_;
    if (c_.Removed) c_.Removed->fetch_add(1, std::memory_order_relaxed);
  }

  // The path of name inside the innermost folder, for messages only (costs the depth).
  std::string PathTo(const std::string& name) const {
    std::string p = top_;
    for (std::size_t i = 1; i < frames_.size(); ++i) (p += '/') += frames_[i].Name;
    if (!name.empty()) (p += '/') += name;
    return p;
  }

  // Closes the descriptor of the shallowest open folder when too many are open; the frame
  // just pushed and its parent always stay open.
  void LimitOpen() {
    while (open_ > kOpenFolders && lowestOpen_ + 2 < frames_.size()) {
      if (frames_[lowestOpen_].Fd) {
        frames_[lowestOpen_].Fd.Reset();
        --open_;
      }
      ++lowestOpen_;
    }
  }

  // Takes a folder just opened as the new innermost frame: checks it (check pass) and
  // handles every entry that is not a folder, queueing the subfolders.
  OpResult Enter(UniqueFd fd, const struct statx& st) {
    Frame& f = frames_.back();
    if (!deleting_) {
      // Paths are built only for a refusal: building one per folder would cost the depth
      // squared on a deep chain.
      if ((st.stx_mode & S_IWUSR) == 0) return Refusal(top_, PathTo(""), "is a read-only folder");
      if (s_.AccessAt(fd.Get(), ".", W_OK | X_OK, AT_EACCESS) != 0) {
        const int e = errno;
        return Refusal(top_, PathTo(""), "is a folder you may not change (" + SystemText(e) + ")");
      }
      if (const char* why = BlockingAttribute(st)) return Refusal(top_, PathTo(""), why);
    }
    if (const int e = ReadFolder(s_, fd.Get(), entries_); e != 0) {
      return Failure(top_, PathTo(""), e);
    }
    f.Fd = std::move(fd);
    for (Entry& e : entries_) {
      if (Stopped()) return Stop();
      if (e.Type == DT_DIR) {
        f.Subfolders.push_back(std::move(e.Name));
        continue;
      }
      if (deleting_) {
        if (s_.UnlinkAt(f.Fd.Get(), e.Name.c_str(), 0) == 0) {
          Count();
          continue;
        }
        const int err = errno;
        if (err == ENOENT) continue;
        // A folder the directory did not type (DT_UNKNOWN) refuses to be unlinked.
        if (err == EISDIR || (err == EPERM && e.Type == DT_UNKNOWN)) {
          f.Subfolders.push_back(std::move(e.Name));
          continue;
        }
        return Failure(top_, PathTo(e.Name), err);
      }
      struct statx est {};
      if (s_.Statx(f.Fd.Get(), e.Name.c_str(), AT_SYMLINK_NOFOLLOW, kTypeMask, &est) != 0) {
        const int err = errno;
        if (err == ENOENT) continue;
        return Failure(top_, PathTo(e.Name), err);
      }
      if (S_ISDIR(est.stx_mode)) {
        f.Subfolders.push_back(std::move(e.Name));
        continue;
      }
      if (const char* why = BlockingAttribute(est)) return Refusal(top_, PathTo(e.Name), why);
    }
    OpResult ok;
    return ok;
  }

  const OpControl& c_;
  const FileOpsSeam& s_;
  bool deleting_;
  std::string top_;
  struct statx topStat_ {};
  std::vector<Frame> frames_;
  std::vector<Entry> entries_;
  std::size_t open_ = 1;
  std::size_t lowestOpen_ = 0;
  std::int64_t removed_ = 0;
};

struct OpenedParent {
  UniqueFd Fd;
  OpResult Error;  // Status Done when Fd is open
};

// Opens the folder that holds target from its volume's root, without following links.
OpenedParent OpenParent(const FileTarget& t) {
  OpenedParent out;
  OpenedFolder f = OpenFolderBelow(t.VolumeRoot.empty() ? "/" : t.VolumeRoot, t.Folder);
  if (f.Error == ENOENT) {
    out.Error = Gone(t.FullPath);
  } else if (f.Error == ELOOP || f.Error == ENOTDIR) {
    out.Error = Make(OpStatus::Failed, f.FailedAt, f.Error,
                     "Could not reach " + t.FullPath + ": " + f.FailedAt +
                         " is no longer a folder (" + SystemText(f.Error) + ").");
  } else if (f.Error == EXDEV) {
    out.Error = Make(OpStatus::Refused, f.FailedAt, f.Error,
                     "Could not reach " + t.FullPath + ": " + f.FailedAt +
                         " is now on another volume (a mount point).");
  } else if (f.Error != 0) {
    out.Error =
        Make(OpStatus::Failed, f.FailedAt, f.Error,
             "Could not reach " + t.FullPath + ": " + f.FailedAt + ": " + ErrorText(f.Error));
  } else {
    out.Fd = std::move(f.Fd);
  }
  return out;
}

// Everything checked of a folder target before any pass: its parent may lose it, the volume
// is writable, and no mount point is at or below it.
OpResult CheckTop(const FileTarget& t, const OpControl& c, int parentFd) {
  const FileOpsSeam& s = c.Seam;
  struct statx pst {};
  if (s.Statx(parentFd, "", AT_EMPTY_PATH, kFolderMask, &pst) != 0)
    return Failure(t.FullPath, t.Folder, errno);
  struct statvfs vfs {};
  if (s.FStatVfs(parentFd, &vfs) == 0 && (vfs.f_flag & ST_RDONLY))
    return Refusal(t.FullPath, t.FullPath, "is on a read-only volume");
  if (s.AccessAt(parentFd, ".", W_OK | X_OK, AT_EACCESS) != 0)
    return Refusal(t.FullPath, t.Folder,
                   "is a folder you may not change (" + SystemText(errno) + ")");
  const std::uint64_t set = pst.stx_attributes & pst.stx_attributes_mask;
  if (set & STATX_ATTR_IMMUTABLE) return Refusal(t.FullPath, t.Folder, "is marked immutable");
  if (set & STATX_ATTR_APPEND) return Refusal(t.FullPath, t.Folder, "is marked append-only");

  UniqueFd fd(s.OpenAt(parentFd, t.Name.c_str(), kDirFlags));
  if (!fd) return Make(OpStatus::Done, t.FullPath, 0, "");  // the pass reports it
  struct statx st {};
  if (s.Statx(fd.Get(), "", AT_EMPTY_PATH, kFolderMask, &st) == 0 &&
      (!SameMount(st, pst) ||
       ((st.stx_attributes & st.stx_attributes_mask) & STATX_ATTR_MOUNT_ROOT)))
    return Refusal(t.FullPath, t.FullPath, "is a mount point");
  const std::string canonical = CanonicalPathOf(fd.Get());
  if (!canonical.empty()) {
    const std::string mount = MountPointAtOrBelow(canonical, nullptr, c.MountTable);
    if (!mount.empty()) {
      // Name the mount point as the user sees it: below the selected folder's own path.
      std::string shown = mount;
      if (mount.size() >= canonical.size())
        shown = t.FullPath + mount.substr(canonical.size() == 1 ? 0 : canonical.size());
      return Refusal(t.FullPath, shown, "is a mount point");
    }
  }
  return Make(OpStatus::Done, t.FullPath, 0, "");
}

}  // namespace

OpResult CheckFolderTree(const FileTarget& target, const OpControl& control) {
  OpenedParent parent = OpenParent(target);
  if (!parent.Fd) return parent.Error;
  if (OpResult r = CheckTop(target, control, parent.Fd.Get()); r.Status != OpStatus::Done) return r;
  return TreePass(control, false, target.FullPath).Run(parent.Fd.Get(), target.Name);
}

OpResult DeleteTarget(const FileTarget& target, const OpControl& control) {
  const FileOpsSeam& s = control.Seam;
  OpenedParent parent = OpenParent(target);
  if (!parent.Fd) return parent.Error;
  if (!target.IsFolder) {
    struct statx st {};
    if (s.Statx(parent.Fd.Get(), target.Name.c_str(), AT_SYMLINK_NOFOLLOW, kTypeMask, &st) != 0) {
      const int e = errno;
      return e == ENOENT ? Gone(target.FullPath) : Failure(target.FullPath, target.FullPath, e);
    }
    if (S_ISDIR(st.stx_mode))
      return Make(OpStatus::Failed, target.FullPath, EISDIR,
                  "Could not delete " + target.FullPath +
                      ": it is a folder now, not the file that was scanned.");
    if ((st.stx_attributes & st.stx_attributes_mask) & STATX_ATTR_MOUNT_ROOT)
      return Refusal(target.FullPath, target.FullPath, "is a mount point");
    if (s.UnlinkAt(parent.Fd.Get(), target.Name.c_str(), 0) != 0) {
      const int e = errno;
      return e == ENOENT ? Gone(target.FullPath) : Failure(target.FullPath, target.FullPath, e);
    }
    if (control.Removed) control.Removed->fetch_add(1, std::memory_order_relaxed);
    OpResult done;
    done.Path = target.FullPath;
    done.Removed = 1;
    return done;
  }
  if (OpResult r = CheckTop(target, control, parent.Fd.Get()); r.Status != OpStatus::Done) return r;
  OpResult check = TreePass(control, false, target.FullPath).Run(parent.Fd.Get(), target.Name);
  if (check.Status != OpStatus::Done) return check;
  return TreePass(control, true, target.FullPath).Run(parent.Fd.Get(), target.Name);
}

}  // namespace kestrum
