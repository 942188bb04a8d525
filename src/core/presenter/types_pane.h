#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/adapter/explorer.h"
#include "core/platform/settings.h"
#include "core/query/file_types.h"

namespace kestrum {

class MainPresenter;

// The "File Types" pane: the files of the folder selected in the tree (its subtree) counted by
// category and by ending, from what the scan kept. The count runs on the window thread in
// steps of a few milliseconds, each posted after the one before, so that the window is never
// held; any listing starts it again (the selection moved, or the model changed and was listed
// anew), and no step runs while a command holds the slot (one that may change the model).
struct TypesPane {
  bool Shown = false;
  // The object counted, and its node (both compared before each step).
  NodeId Node = kNoNode;
  const DiskObject* Folder = nullptr;
  std::uint64_t Generation = 0;  // bumped by each start; a step of an older one does nothing
  std::unique_ptr<TypeCounter> Counter;
  FileTypes Types;  // the classifier, its cache kept from count to count
  // The finished count; null while counting or when there is nothing to count.
  std::shared_ptr<const TypeCounts> Counts;
  std::string Message;  // what the pane says instead of rows ("" when it shows rows)
  // A step's length: folders counted between looks at the clock, and the time it may take.
  std::size_t StepFolders = 16;
  double StepBudgetMs = 8;
};

// One row of the pane: a category, or an ending under it.
struct TypeRow {
  bool IsCategory = false;
  FileCategory Category = FileCategory::Other;
  std::string Key;    // the ending or whole name ("" for a category, or for files of no type)
  std::string Text;   // "Video", ".mkv", "Makefile", "(no type)", "(programs)"
  std::string Mime;   // the key's MIME type
  std::uint64_t Files = 0;
  double Size = 0;    // bytes or allocated space, as "Show Allocated Space" says
  double Share = 0;   // of the folder's files, 0..1
  std::string Largest;  // the largest file's full path
};

// The rows of counts, each category followed by its endings, both by size (largest first).
std::vector<TypeRow> TypeRows(const TypeCounts& counts, bool allocated);

// The pane's one setting in [Settings]: "FileTypes" ("1" shown, "0" hidden; hidden when
// missing or garbled).
inline constexpr const char* kTypesPaneKey = "FileTypes";

// Shows or hides the pane (a count starts when shown).
void SetTypesShown(MainPresenter& p, bool shown);
// Starts counting the node listed now, when the pane is shown; called by every listing.
void UpdateTypesPane(MainPresenter& p);
// Counts for about the pane's StepBudgetMs; posts the next step while not done (counts to the
// end at once when the window's queue is not connected). Window thread.
void StepTypesPane(MainPresenter& p, std::uint64_t generation);

// Marks the files of a row's type on the treemap, dimming the others (null: no mark).
void MarkTypeOnMap(MainPresenter& p, const TypeRow* row);

// The files of a row's type under the folder counted, largest first, as the results folder.
void ListFilesOfType(MainPresenter& p, const TypeRow& row);

}  // namespace kestrum
