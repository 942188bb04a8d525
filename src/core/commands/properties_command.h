#pragma once
#include <cstddef>
#include <optional>

#include "core/commands/targets.h"
#include "core/fileops/properties.h"

namespace kestrum {

// The object the properties command is for: the current row of list (1-based, 0 when no
// row is current), when it is a real file or folder; nullopt otherwise (the command then
// does nothing). Its path is the listed folder's path and the row's text, or the row's full
// path in the largest-files folder.
std::optional<RowTarget> PropertiesTarget(const ListData& list, const CExplorer& explorer,
                                          NodeId listed, std::size_t currentRow);

// What Kestrum's own properties window shows of target: what the file system says of it
// (ReadProperties) and, for a folder, the scanned totals of its model object, copied now,
// since a rescan may free the model while the window is open. Window thread (it reads the
// model).
PropertiesInfo PropertiesOf(const RowTarget& target);

}  // namespace kestrum
