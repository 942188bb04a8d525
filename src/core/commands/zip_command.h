#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/commands/targets.h"
#include "core/fileops/zip_archive.h"

namespace kestrum {

// What the zip command hands to the zip window.
struct ZipRequest {
  // The items as one text: for each item " " + '"' + full path + '"', a folder's path
  // followed by "/*.*" inside the quotes. Kept for the trace and for display; a name holding a
  // double quote makes it ambiguous, so the writer is given Items instead.
  std::string ZipFileList;
  // The listed folder ("/"-ended), or "" for the largest-files folder. The target box starts
  // with it and the browse dialog opens in it.
  std::string ZipPath;
  // The folder a relative target is taken in: ZipPath, or the home folder when that is empty.
  std::string BaseFolder;
  std::vector<ZipItem> Items;  // in list order
  std::size_t LeftOut = 0;     // selected rows that are not real files or folders
  std::size_t Excluded = 0;    // items the scan left out by a rule: their size was not counted
};

// The base path of the listed object: "" for the largest-files and results folders, its
// Path otherwise ("/"-ended for folders).
std::string ZipPathOf(const DiskObject* listed);

// Builds the hand-over from the selected targets. Rows of a folder listing are named in the
// archive by their name in the listed folder; rows of the largest-files folder by their path
// relative to their volume's root, so that two files of one name stay apart.
ZipRequest BuildZipRequest(const TargetSelection& selection, const std::string& zipPath,
                           const std::string& homeFolder);

// The archive path the typed target stands for, or nullopt when it is refused: empty,
// ending in "/", or naming an existing folder (or a link to one). A relative target is taken
// in baseFolder. Dots are kept as typed; the system resolves them when the file is opened.
std::optional<std::string> ResolveZipTarget(std::string_view typed, std::string_view baseFolder);

// What the zip command does with the rows it was given.
struct ZipCommandStart {
  enum Kind {
    Nothing,     // no row selected: nothing happens
    NotAllowed,  // rows were selected but none is a real file or folder: Text is the message
    OpenWindow,  // open the zip window with Request
  } What = Nothing;
  std::string Text;
  ZipRequest Request;
};

// The zip command's rules over the list's selection: list shows the node listed.
ZipCommandStart StartZipCommand(const ListData& list, const CExplorer& explorer, NodeId listed,
                                const std::string& homeFolder);

class CommandSlot;
class CommandWindow;

// "Zip file(s)": the selected rows of list, which shows the node listed, go to the modal zip
// window. The zip holds the command slot while its window is open, so that the other long
// commands are refused while the archive is written; the list is rebuilt afterwards when
// anything was zipped. Returns false, doing nothing, when the slot is taken (callers refuse
// commands while it is). Window thread.
bool ZipFiles(CommandWindow& window, CommandSlot& slot, const ListData& list,
              const CExplorer& explorer, NodeId listed);

// The user's home folder, "/"-ended: $HOME, else the password database, else "/".
std::string HomeFolder();

}  // namespace kestrum
