#include "core/commands/row_tools.h"

#include <glib.h>

#include <set>

#include "core/commands/user_commands.h"
#include "core/fileops/properties.h"

namespace kestrum {

namespace {
bool IsUtf8(const std::string& s) {
  return g_utf8_validate(s.data(), static_cast<gssize>(s.size()), nullptr);
}
}  // namespace

ClipboardPaths PathsForClipboard(const std::vector<RowTarget>& targets) {
  ClipboardPaths out;
  bool allUtf8 = true;
  for (std::size_t i = 0; i < targets.size(); ++i) {
    if (i) out.Text += '\n';
    out.Text += targets[i].FullPath;
    allUtf8 = allUtf8 && IsUtf8(targets[i].FullPath);
  }
  if (!allUtf8)
    for (const RowTarget& t : targets) out.UriList += FileUri(t.FullPath) + "\r\n";
  return out;
}

OpenPlan PlanOpen(const std::vector<RowTarget>& targets,
                  const std::function<bool(const std::string& path)>& mayRun) {
  OpenPlan plan;
  std::size_t runnable = 0;
  for (const RowTarget& t : targets) {
    plan.Uris.push_back(FileUri(t.FullPath));
    const bool runs = !t.IsFolder && mayRun && mayRun(t.FullPath);
    if (runs) ++runnable;
    plan.Details += t.FullPath + (t.IsFolder ? "/" : "") + (runs ? "  (may run as a program)" : "") +
                    "\n";
  }
  const std::size_t n = targets.size();
  if (runnable > 0) {
    plan.Question = runnable == 1 && n == 1
                        ? "This file may be run as a program rather than shown. Open it?"
                        : std::to_string(runnable) + " of the " + std::to_string(n) +
                              " items may be run as programs rather than shown. Open them?";
  } else if (n > kOpenWithoutAsking) {
    plan.Question = "Open " + std::to_string(n) + " items, each with its default application?";
  }
  return plan;
}

TerminalPlan PlanTerminals(const std::vector<RowTarget>& targets) {
  TerminalPlan plan;
  std::set<std::string> seen;
  for (const RowTarget& t : targets) {
    std::string folder = t.IsFolder ? t.FullPath : ContainingFolder(t);
    if (seen.insert(folder).second) plan.Folders.push_back(std::move(folder));
  }
  if (plan.Folders.size() > kOpenWithoutAsking)
    plan.Question = "Open " + std::to_string(plan.Folders.size()) + " terminals, one per folder?";
  return plan;
}

std::vector<std::string> ItemPaths(const std::vector<RowTarget>& targets) {
  std::vector<std::string> out;
  for (const RowTarget& t : targets) out.push_back(t.FullPath);
  return out;
}

}  // namespace kestrum
