#pragma once
#include <string>
#include <string_view>

#include "core/platform/unique_fd.h"

namespace kestrum {

// The result of OpenFolderBelow: an open directory, or the errno of the step that failed
// (0 on success).
struct OpenedFolder {
  UniqueFd Fd;
  int Error = 0;
  // The path of the component that failed, for messages; empty on success.
  std::string FailedAt;
};

// Opens the folder at path, which must be root itself or lie below it (both are exact byte
// strings; a trailing "/" on either is allowed), by opening root and then going down one name
// at a time with openat(O_DIRECTORY | O_NOFOLLOW) relative to the folder above. So:
//  - no symbolic link is followed anywhere below root: a folder that was replaced by a link
//    since it was scanned fails with ELOOP or ENOTDIR instead of leading elsewhere;
//  - "." and ".." components are refused (EINVAL), so the walk never climbs above root;
//  - a component on another device than root (a mount made below root) fails with EXDEV;
//  - paths longer than PATH_MAX work, since no call sees more than one name.
// root itself is opened as given (links in it are followed: it is the volume's mount point
// or a folder the user named). A path that is not below root fails with EINVAL.
// The descriptor is opened O_RDONLY | O_DIRECTORY | O_CLOEXEC, so it can be read with
// getdents64 and used with the *at calls.
OpenedFolder OpenFolderBelow(std::string_view root, std::string_view path);

// Splits a path into its parent folder (ending in "/") and its last name, ignoring one
// trailing "/". "/a/b/" -> {"/a/", "b"}; "/a" -> {"/", "a"}; "/" -> {"/", ""}.
struct SplitPath {
  std::string Folder;
  std::string Name;
};
SplitPath SplitLastName(std::string_view path);

// path with one "/" at its end: unchanged when it has one, "/" for an empty path.
inline std::string WithSlash(std::string path) {
  if (path.empty() || path.back() != '/') path += '/';
  return path;
}

}  // namespace kestrum
