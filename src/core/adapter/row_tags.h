#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "core/tree/disk_model.h"

namespace kestrum {

// The tag that ties a list row back to the model:
//  - a drive or folder row carries the tree node it stands for (NodeTag);
//  - a file row carries "File " followed by the plain number text of the byte count shown
//    for it (FileTag);
//  - a row of what went since an earlier scan compared with carries "Removed " followed by
//    its old byte count (RemovedTag): it stands for nothing on the disk;
//  - the placeholder row and the statistics rows carry no tag (empty).
using RowTag = std::variant<std::monostate, NodeId, std::string>;

inline bool IsEmpty(const RowTag& tag) { return std::holds_alternative<std::monostate>(tag); }

inline RowTag NodeTag(NodeId node) { return node; }

// The node a drive or folder row stands for; nullopt for any other row.
inline std::optional<NodeId> TagNode(const RowTag& tag) {
  const NodeId* node = std::get_if<NodeId>(&tag);
  if (node && *node != kNoNode) return *node;
  return std::nullopt;
}

// "File " + size as a plain whole number ("File 4096").
std::string FileTag(double size);

// True for a file row's tag: one that begins with "File".
inline bool IsFileTag(const RowTag& tag) {
  const std::string* s = std::get_if<std::string>(&tag);
  return s && std::string_view(*s).substr(0, 4) == "File";
}

// "Removed " + the old size as a plain whole number.
std::string RemovedTag(double size);

// True for the tag of a row marked removed.
inline bool IsRemovedTag(const RowTag& tag) {
  const std::string* s = std::get_if<std::string>(&tag);
  return s && std::string_view(*s).substr(0, 8) == "Removed ";
}

}  // namespace kestrum
