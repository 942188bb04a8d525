#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/fileops/targets.h"

namespace kestrum {

// One selected file or folder handed to the archive writer, as exact bytes.
struct ZipItem {
  std::string Folder;     // the folder that holds it on disk, ending in "/"
  std::string Name;       // its last name in that folder
  std::string EntryName;  // its name in the archive (no trailing "/"; a folder's content
                          // goes below EntryName + "/")
  std::string Root;       // the folder it is opened below without following links, "/"-ended
  bool IsFolder = false;  // as the row said; the disk decides in the end
};

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
};

// The base path of the listed object: "" for the largest-files folder ("Folder100"), its
// Path otherwise ("/"-ended for folders).
std::string ZipPathOf(const DiskObject* listed);

// Builds the hand-over from the selected targets. Rows of a folder listing are named in the
// archive by their name in the listed folder; rows of the largest-files folder by their path
// relative to their volume's root, so that two files of one name stay apart.
ZipRequest BuildZipRequest(const TargetSelection& selection, const std::string& zipPath,
                           const std::string& homeFolder);

// The message for a refused target.
inline constexpr const char* kTargetIncorrect = "Target zip file name incorrect";

// The archive path the typed target stands for, or nullopt when it is refused: empty,
// ending in "/", or naming an existing folder (or a link to one). A relative target is taken
// in baseFolder. Dots are kept as typed; the system resolves them when the file is opened.
std::optional<std::string> ResolveZipTarget(std::string_view typed, std::string_view baseFolder);

// The user's home folder, "/"-ended: $HOME, else the password database, else "/".
std::string HomeFolder();

}  // namespace kestrum
