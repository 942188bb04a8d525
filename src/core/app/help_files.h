#pragma once
#include <functional>
#include <string>
#include <vector>

namespace kestrum {

// The help collection's file name: the help pages compiled by the build, beside the
// executable in a build tree.
inline constexpr const char* kHelpFileName = "kestrum.qhc";

// The help file of a program in exeFolder: exeFolder + name, or exeFolder + "/" + name when
// the folder, trimmed of blanks at both ends, does not end in "/". The untrimmed folder text
// is used in both cases, so "/" gives "/kestrum.qhc" and "/opt/k" "/opt/k/kestrum.qhc".
std::string HelpFileIn(const std::string& exeFolder, const std::string& name = kHelpFileName);

// Where the program looks for its help, in order: beside the executable (a build tree);
// <exeFolder>/../<dataDir>/kestrum/help (an installed tree, wherever its prefix was moved);
// installedDataDir + "/kestrum/help" (the prefix it was built for). dataDir is the install
// layout's data folder relative to the prefix ("share").
std::vector<std::string> HelpFileCandidates(const std::string& exeFolder,
                                            const std::string& dataDir,
                                            const std::string& installedDataDir);

// The first candidate that exists (exists: empty asks the file system), or the first
// candidate when none does, so that the help window can name what it missed.
std::string FindHelpFile(const std::vector<std::string>& candidates,
                         const std::function<bool(const std::string&)>& exists = {});

// Where the help engine keeps what it writes (its copy of the collection, the search index):
// $XDG_CACHE_HOME/Kestrum/help (absolute only), else $HOME/.cache/Kestrum/help.
std::string HelpCacheFolder();

}  // namespace kestrum
