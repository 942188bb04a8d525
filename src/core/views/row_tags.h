#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "core/views/explorer.h"

namespace kestrum {

// The tags that tie list rows back to the model:
//  - a drive or folder row carries the tree node it stands for, as a number (NodeTag);
//  - a file row carries "File " followed by the plain number text of the byte count shown
//    for it (FileTag), so that a size sort and the file commands can read the size back;
//  - the placeholder row and the statistics rows carry no tag (empty).

inline ItemValue NodeTag(NodeId node) { return static_cast<double>(node); }

// The node a drive or folder row stands for; nullopt for any other row.
inline std::optional<NodeId> TagNode(const ItemValue& tag) {
  if (const double* d = std::get_if<double>(&tag)) {
    if (*d >= 1 && *d <= static_cast<double>(UINT32_MAX)) return static_cast<NodeId>(*d);
  }
  return std::nullopt;
}

// "File " + size as a plain whole number ("File 4096").
std::string FileTag(double size);

// True for a file row's tag: one that begins with "File".
inline bool IsFileTag(const ItemValue& tag) {
  const std::string* s = std::get_if<std::string>(&tag);
  return s && std::string_view(*s).substr(0, 4) == "File";
}

// The size a file tag carries (the number after its first five characters); 0 when none.
double FileTagSize(const ItemValue& tag);

}  // namespace kestrum
