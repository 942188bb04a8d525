#include "core/commands/properties_command.h"

#include <string>
#include <utility>

namespace kestrum {

std::optional<RowTarget> PropertiesTarget(const ListData& list, const CExplorer& explorer,
                                          NodeId listed, std::size_t currentRow) {
  if (currentRow == 0) return std::nullopt;
  TargetSelection s = SelectFileTargets(list, explorer, listed, false, currentRow);
  if (s.Targets.empty()) return std::nullopt;
  return std::move(s.Targets.front());
}

PropertiesInfo PropertiesOf(const RowTarget& target) {
  PropertiesInfo info = ReadProperties(target);
  if (!info.Error.empty() || !target.IsFolder || !target.Object) return info;
  const DiskObject& o = *target.Object;
  info.Rows.emplace_back("Scanned size", ByteCountText(o.UsedSpace));
  info.Rows.emplace_back("Scanned allocated", ByteCountText(o.AllocatedSpace));
  info.Rows.emplace_back("Scanned files", std::to_string(o.FileCount));
  info.Rows.emplace_back("Scanned folders", std::to_string(o.FolderCount));
  return info;
}

}  // namespace kestrum
