#pragma once
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "core/commands/targets.h"

namespace kestrum {

// The rules of the row menu's "Open", "Show in File Manager", "Open Terminal Here" and
// "Copy Path" over the rows they are given (SelectFileTargets).

// More rows than this opened (or terminals started) at once are asked about first.
inline constexpr std::size_t kOpenWithoutAsking = 10;

// "Copy Path": one full path per line (joined by "\n", no newline after the last), as exact
// bytes. When any path is not valid UTF-8 UriList also holds every path as a file URI with
// its bytes percent-encoded, one per line ("\r\n"-ended), so that a program can get the
// exact bytes back; otherwise UriList is empty.
struct ClipboardPaths {
  std::string Text;
  std::string UriList;
};
ClipboardPaths PathsForClipboard(const std::vector<RowTarget>& targets);

// "Open": the file URI of each row, in list order, and the question asked first when one is
// due: more than kOpenWithoutAsking rows, or a row that may run rather than be shown
// (mayRun, MayRunWhenOpened for the system). Question is "" when nothing needs asking.
struct OpenPlan {
  std::vector<std::string> Uris;
  std::string Question;
  std::string Details;  // the paths, the ones that may run marked
};
OpenPlan PlanOpen(const std::vector<RowTarget>& targets,
                  const std::function<bool(const std::string& path)>& mayRun);

// "Open Terminal Here": the folder of each row (a folder row's own path, a file row's
// containing folder), each once, in list order; asked first when there are more than
// kOpenWithoutAsking.
struct TerminalPlan {
  std::vector<std::string> Folders;
  std::string Question;
};
TerminalPlan PlanTerminals(const std::vector<RowTarget>& targets);

// "Show in File Manager": the full paths of the rows, in list order.
std::vector<std::string> ItemPaths(const std::vector<RowTarget>& targets);

}  // namespace kestrum
