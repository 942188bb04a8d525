#include "core/platform/mounts.h"

#include <libmount/libmount.h>
#include <sys/sysmacros.h>

#include <memory>

namespace kestrum {

namespace {
struct TableFree {
  void operator()(libmnt_table* t) const { mnt_unref_table(t); }
};
struct IterFree {
  void operator()(libmnt_iter* i) const { mnt_free_iter(i); }
};
std::string Str(const char* s) { return s ? std::string(s) : std::string(); }
}  // namespace

std::vector<MountEntry> ReadMountTable(const std::string& path, int* error) {
  std::vector<MountEntry> out;
  std::unique_ptr<libmnt_table, TableFree> table(mnt_new_table());
  std::unique_ptr<libmnt_iter, IterFree> iter(mnt_new_iter(MNT_ITER_FORWARD));
  if (!table || !iter) {
    if (error) *error = ENOMEM;
    return out;
  }
  const int rc = mnt_table_parse_file(table.get(), path.c_str());
  if (rc != 0) {
    if (error) *error = rc < 0 ? -rc : EINVAL;
    return out;
  }
  libmnt_fs* fs = nullptr;
  while (mnt_table_next_fs(table.get(), iter.get(), &fs) == 0) {
    MountEntry e;
    e.Source = Str(mnt_fs_get_source(fs));
    e.Target = Str(mnt_fs_get_target(fs));
    e.FsType = Str(mnt_fs_get_fstype(fs));
    e.Root = Str(mnt_fs_get_root(fs));
    if (e.Root.empty()) e.Root = "/";
    e.DevNo = static_cast<unsigned long>(mnt_fs_get_devno(fs));
    if (!e.Target.empty()) out.push_back(std::move(e));
  }
  if (error) *error = 0;
  return out;
}

}  // namespace kestrum
