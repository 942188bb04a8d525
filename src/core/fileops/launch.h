#pragma once
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrum {

// Starting programs for the row menu: the default application of a file, the file manager,
// the user's terminal and the user's own commands. Every path is exact bytes.

// The three ways Kestrum hands something to another program, behind one interface so that
// tests and the window can stand in for the system. Window thread.
class Launcher {
 public:
  virtual ~Launcher() = default;
  // Starts argv (argv[0] a full path or a name looked up on PATH) with folder as its working
  // folder, without waiting for it. "" when it started, else why not.
  virtual std::string Start(const std::vector<std::string>& argv, const std::string& folder) = 0;
  // Opens uri with the default application of its type (the user's mimeapps.list decides).
  // "" when it was handed over, else why not.
  virtual std::string OpenDefault(const std::string& uri) = 0;
  // Asks the file manager to show each path selected in its folder.
  virtual void ShowItems(const std::vector<std::string>& paths) = 0;
};

// The system's launcher: GLib's spawn for Start, GIO's default handler for OpenDefault, and
// for ShowItems the default handler of each containing folder (the window replaces that with
// the file manager's D-Bus interface, falling back to the same).
class SystemLauncher : public Launcher {
 public:
  std::string Start(const std::vector<std::string>& argv, const std::string& folder) override;
  std::string OpenDefault(const std::string& uri) override;
  void ShowItems(const std::vector<std::string>& paths) override;
};

// text quoted for the POSIX shell so that it reaches a command as one word, byte for byte:
// in single quotes, each single quote written as '\''. Nothing else is special inside single
// quotes, newlines, "$", backticks and bytes that are not UTF-8 included.
std::string ShellQuote(std::string_view text);

// The full path of the executable name on pathList (":"-separated, as $PATH; an empty entry
// is the current folder and is skipped, as is a relative one); a name holding "/" is taken as
// it is when executable. "" when none is found.
std::string FindProgram(std::string_view name, std::string_view pathList);

// The user's terminal: $TERMINAL (split as the shell splits words) when set, else
// x-terminal-emulator, else xdg-terminal-exec, else the first of kUsualTerminals found on
// pathList. Argv is empty when none is found; Tried names every program looked for, in order.
struct TerminalChoice {
  std::vector<std::string> Argv;
  std::vector<std::string> Tried;
};
TerminalChoice FindTerminal(const char* terminalVariable, std::string_view pathList);
// The message when no terminal was found.
std::string NoTerminalMessage(const TerminalChoice& choice);

// True when opening path with its default application might run it rather than show it: an
// executable regular file, a file starting with "#!", a desktop entry (".desktop"), or a file
// whose type GIO says can be executed (scripts of the usual kinds by their names).
bool MayRunWhenOpened(const std::string& path);

// A shell command line run to its end with its output collected: /bin/sh -c line in folder,
// stdin from /dev/null, stdout and stderr together into one pipe, in a process group of its
// own so that Stop ends everything it started.
struct ShellRun {
  bool Started = false;
  std::string Error;       // why it did not start
  int ExitCode = -1;       // when it exited
  int Signal = 0;          // when a signal ended it
  bool Stopped = false;    // stop() asked it to end
};
// output receives the bytes as they come (worker thread); stop is polled about ten times a
// second and, once true, the group gets SIGTERM and, a second later, SIGKILL.
ShellRun RunShellLine(const std::string& line, const std::string& folder,
                      const std::function<void(std::string_view)>& output,
                      const std::function<bool()>& stop);

// "exit status N", "ended by signal N", "stopped" or "did not start: ...".
std::string DescribeRun(const ShellRun& run);

}  // namespace kestrum
