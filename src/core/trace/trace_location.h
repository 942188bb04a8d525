#pragma once
#include <string>

namespace kestrum {

// The folder an installed program keeps its trace log in when its own folder cannot take
// one: $XDG_STATE_HOME/Kestrum (an absolute $XDG_STATE_HOME only), else
// $HOME/.local/state/Kestrum. No trailing "/".
std::string TraceStateFolder();

// The executable path a trace log in stateFolder completes its names against: stateFolder
// + "/" + the executable's own name, so that "<exe>.tra" and its continuation files land in
// stateFolder under the names they would have had beside the executable.
std::string TraceExePathIn(const std::string& stateFolder, const std::string& exePath);

// The running program's path (/proc/self/exe), "" when it cannot be read.
std::string RunningExePath();

// Creates folder and its missing parents (0700 for the ones it makes); 0 on success, else
// the errno value.
int MakeFolders(const std::string& folder);

}  // namespace kestrum
