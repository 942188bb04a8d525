#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/commands/command_slot.h"
#include "core/commands/command_window.h"
#include "core/commands/targets.h"
#include "core/platform/settings.h"

namespace kestrum {

// The user's own commands of the row menu: a shell command line run once per selected row,
// with placeholders for the row's path, name and containing folder.

// Which rows a command is for.
enum class AppliesTo : std::uint8_t { Files, Folders, Both };

struct UserCommand {
  std::string Title;
  // Run by /bin/sh -c in the row's containing folder. {path}, {name} and {folder} stand for the
  // row's full path, its last name and the folder holding it; each is put in as one quoted word
  // (ShellQuote), so it must not itself be written inside quotes.
  std::string CommandLine;
  AppliesTo Applies = AppliesTo::Both;
  bool Confirm = true;        // ask before running, showing the lines to be run
  bool RefreshAfter = false;  // scan the listed folder again once it has run
  bool Enabled = true;        // only enabled commands are in the menus
  bool operator==(const UserCommand&) const = default;
};

// The commands offered before the user has kept any, all disabled: they show the form.
std::vector<UserCommand> ExampleCommands();

// The settings: [Commands] Count=N marks the list as the user's (the examples are offered
// while it is missing), each command a group "Command 1", "Command 2", ... with Title,
// CommandLine, AppliesTo (Files, Folders or Both), Confirm, RefreshAfter and Enabled (true or
// false). A garbled group (a missing or empty title or command line, text that is not UTF-8,
// an unknown AppliesTo, a switch that is neither true nor false) is skipped with a trace
// line; the others are read in the order of their numbers.
std::vector<UserCommand> ReadUserCommands(const IniFile& settings);
// Replaces every command group with commands, numbered from 1.
void WriteUserCommands(IniFile& settings, const std::vector<UserCommand>& commands);

// Why command cannot be kept as it is ("" when it can): an empty title or command line.
std::string CheckUserCommand(const UserCommand& command);

// The caption of a command in a menu: its title with each "&" doubled, so that a title never
// takes an access key of the menu's own entries.
std::string UserCommandCaption(const std::string& title);

// True when the command is for target.
bool AppliesToTarget(AppliesTo applies, const RowTarget& target);
// The folder a row's command runs in and that {folder} names: the containing folder, without
// its trailing "/" unless it is "/".
std::string ContainingFolder(const RowTarget& target);
// commandLine with each placeholder replaced by its quoted value for target.
std::string ExpandCommandLine(const std::string& commandLine, const RowTarget& target);

// One run of a command for one row.
struct UserCommandStep {
  std::string Line;    // expanded
  std::string Folder;  // the working folder
};

// What a command given on the selected rows does: the steps in list order, or a message when
// none of the rows is one it applies to.
struct UserCommandPlan {
  std::vector<UserCommandStep> Steps;
  std::size_t LeftOut = 0;  // rows it does not apply to, and rows that are no file or folder
  std::string Message;      // set when Steps is empty and rows were selected
};
UserCommandPlan PlanUserCommand(const UserCommand& command, const TargetSelection& selection);

// Where a running command's output goes (the output window). Window thread.
class CommandOutput {
 public:
  virtual ~CommandOutput() = default;
  // Output bytes as they came, and the lines Kestrum writes between runs.
  virtual void Append(const std::string& bytes) = 0;
  // The command has ended: summary is its exit status; ok is false when any run failed, was
  // stopped or did not start.
  virtual void Finished(const std::string& summary, bool ok) = 0;
};

// Runs a user command's steps one after the other on the slot's worker, each with its output
// in output; Stop (the slot's) ends the run in progress and skips the rest. The slot is held
// from Start until the end, so every other long command is refused meanwhile. A failure is
// reported with its exit status, in the output and in the status line, never as success.
// Window thread, but for the worker.
class UserCommandRunner {
 public:
  UserCommandRunner(CommandWindow& window, CommandSlot& slot);
  ~UserCommandRunner();
  UserCommandRunner(const UserCommandRunner&) = delete;
  UserCommandRunner& operator=(const UserCommandRunner&) = delete;

  // False, doing nothing, when the slot is taken. done runs on the window thread at the end,
  // after the slot is released, with true when every step exited with status 0.
  bool Start(const std::string& title, std::vector<UserCommandStep> steps,
             std::shared_ptr<CommandOutput> output, std::function<void(bool ok)> done);
  // Title + ": " + runs done + " of " + runs.
  std::string ProgressLine() const;

 private:
  struct Job;
  void Work(const std::shared_ptr<Job>& job);
  void Post(std::function<void()> task);

  CommandWindow& window_;
  CommandSlot& slot_;
  mutable std::mutex mutex_;
  std::string progress_;
  bool running_ = false;
  std::shared_ptr<UserCommandRunner*> alive_;
};

}  // namespace kestrum
