#pragma once
#include <string>
#include <utility>
#include <vector>

#include "core/fileops/file_target.h"

namespace kestrum {

// What Kestrum's own properties window shows of one object, read when it opens. Texts are
// bytes as the system gives them (names need not be UTF-8); the window decodes them.
struct PropertiesInfo {
  std::string FullPath;
  std::string Name;
  bool IsFolder = false;
  std::string Error;  // the object could not be read: why; the fields below are then empty
  // Label and value, in the order shown.
  std::vector<std::pair<std::string, std::string>> Rows;
};

// Reads the object target names, without following a link it is. Any thread.
PropertiesInfo ReadProperties(const FileTarget& target);

// A byte count as the properties show it: the size text, then the exact count grouped by
// thousands ("1.5 kb (1 536 bytes)").
std::string ByteCountText(double bytes);

// The file: URI of an absolute path, made from its exact bytes (bytes that are not plain
// ASCII are percent-escaped, so a name that is not UTF-8 survives); "" when path is not
// absolute.
std::string FileUri(const std::string& path);

// "rwxr-x---" style text of the permission bits, with the type letter in front ("d" for a
// folder, "l" for a link, "-" for a file) and set-id and sticky bits as ls shows them.
std::string PermissionText(unsigned mode);

}  // namespace kestrum
