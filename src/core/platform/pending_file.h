#pragma once
#include <string>

#include "core/platform/unique_fd.h"

namespace kestrum {

// A new file that takes its name only when it is complete, and never the name of a file that
// is there by then. It is written without a name in the target's folder, so that it vanishes
// by itself if the program ends any other way; where the file system has no such files, or
// /proc is missing to name it at the end, as a named temporary file beside the target
// ("<target>.XXXXXX", mode 0666 less the umask), removed again by Discard.
class PendingFile {
 public:
  PendingFile() = default;
  ~PendingFile() { Discard(); }
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  // Creates the file for target (an absolute path) in folder, the target's folder. 0 or the
  // errno of the failure. unnamed false goes straight to the named temporary file.
  int Create(const std::string& folder, const std::string& target, bool unnamed = true);
  // Open for writing while the file is pending; -1 otherwise.
  int Fd() const { return fd_.Get(); }
  // Gives the complete file the target's name: 0, or the errno of the failure (EEXIST when a
  // file of that name appeared meanwhile, which stays as it is). The file is then closed.
  int Publish();
  // Drops the pending file, leaving nothing behind.
  void Discard();

 private:
  UniqueFd fd_;
  std::string target_;
  std::string temp_;  // the named temporary file, if one was needed
};

}  // namespace kestrum
