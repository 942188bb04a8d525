#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/fileops/targets.h"

namespace kestrum {

// The object the properties command is for: the current row of list (1-based, 0 when no
// row is current), when it is a real file or folder; nullopt otherwise (the command then
// does nothing). Its path is the listed folder's path and the row's text, or the row's full
// path in the largest-files folder.
std::optional<FileTarget> PropertiesTarget(const ListData& list, const CExplorer& explorer,
                                           NodeId listed, std::size_t currentRow);

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

// Reads the object target names (without following a link it is) and, for a folder, copies
// the scanned totals of its model object now, since a rescan may free the model while the
// window is open. Window thread (it reads the model).
PropertiesInfo ReadProperties(const FileTarget& target);

// The file: URI of an absolute path, made from its exact bytes (bytes that are not plain
// ASCII are percent-escaped, so a name that is not UTF-8 survives); "" when path is not
// absolute.
std::string FileUri(const std::string& path);

// "rwxr-x---" style text of the permission bits, with the type letter in front ("d" for a
// folder, "l" for a link, "-" for a file) and set-id and sticky bits as ls shows them.
std::string PermissionText(unsigned mode);

}  // namespace kestrum
