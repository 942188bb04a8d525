#include "core/commands/user_commands.h"

#include <algorithm>
#include <charconv>
#include <map>

#include "core/fileops/launch.h"
#include "core/scan/scanning.h"
#include "core/trace/trace.h"

namespace kestrum {

namespace {

constexpr const char* kListGroup = "Commands";
constexpr const char* kGroupPrefix = "Command ";

const char* AppliesName(AppliesTo a) {
  switch (a) {
    case AppliesTo::Files:
      return "Files";
    case AppliesTo::Folders:
      return "Folders";
    case AppliesTo::Both:
      break;
  }
  return "Both";
}

std::optional<AppliesTo> ParseApplies(const std::string& text) {
  if (text == "Files") return AppliesTo::Files;
  if (text == "Folders") return AppliesTo::Folders;
  if (text == "Both") return AppliesTo::Both;
  return std::nullopt;
}

// A switch: true or false; a missing key gives fallback, any other text nullopt.
std::optional<bool> ReadBool(const IniFile& s, const std::string& group, const char* key,
                             bool fallback) {
  const auto v = s.Get(group, key);
  if (!v) return fallback;
  if (*v == "true") return true;
  if (*v == "false") return false;
  return std::nullopt;
}

void Skip(const std::string& group, const std::string& why) {
  if (Tracing()) Trace("UserCommands: [" + group + "] skipped: " + why);
}

}  // namespace

std::vector<UserCommand> ExampleCommands() {
  return {
      {"Compress to .tar.zst", "tar --zstd -cf {path}.tar.zst -C {folder} -- {name}",
       AppliesTo::Folders, true, true, false},
      {"Clean make tree", "make -C {path} clean", AppliesTo::Folders, true, true, false},
      {"Remove Python cache",
       "find {path} -depth -type d -name __pycache__ -exec rm -rf -- {} +", AppliesTo::Folders,
       true, true, false},
  };
}

std::vector<UserCommand> ReadUserCommands(const IniFile& settings) {
  if (!settings.HasGroup(kListGroup)) return ExampleCommands();
  std::map<long, UserCommand> byNumber;
  const std::string prefix = kGroupPrefix;
  for (const std::string& group : settings.Groups()) {
    if (group.compare(0, prefix.size(), prefix) != 0) continue;
    long number = 0;
    const char* first = group.data() + prefix.size();
    const char* last = group.data() + group.size();
    const auto [end, ec] = std::from_chars(first, last, number);
    if (ec != std::errc() || end != last || number < 1) {
      Skip(group, "not a command number");
      continue;
    }
    UserCommand c;
    const auto title = settings.GetText(group, "Title");
    const auto line = settings.GetText(group, "CommandLine");
    if (!title || title->empty()) {
      Skip(group, "no title, or one that is not UTF-8");
      continue;
    }
    if (!line || line->empty()) {
      Skip(group, "no command line, or one that is not UTF-8");
      continue;
    }
    c.Title = *title;
    c.CommandLine = *line;
    const auto applies = settings.Get(group, "AppliesTo");
    const auto parsed = applies ? ParseApplies(*applies) : std::optional(AppliesTo::Both);
    if (!parsed) {
      Skip(group, "AppliesTo is not Files, Folders or Both");
      continue;
    }
    c.Applies = *parsed;
    const auto confirm = ReadBool(settings, group, "Confirm", true);
    const auto refresh = ReadBool(settings, group, "RefreshAfter", false);
    const auto enabled = ReadBool(settings, group, "Enabled", true);
    if (!confirm || !refresh || !enabled) {
      Skip(group, "a switch is neither true nor false");
      continue;
    }
    c.Confirm = *confirm;
    c.RefreshAfter = *refresh;
    c.Enabled = *enabled;
    if (byNumber.count(number)) {
      Skip(group, "its number is taken");
      continue;
    }
    byNumber.emplace(number, std::move(c));
  }
  std::vector<UserCommand> out;
  for (auto& [n, c] : byNumber) out.push_back(std::move(c));
  return out;
}

void WriteUserCommands(IniFile& settings, const std::vector<UserCommand>& commands) {
  const std::string prefix = kGroupPrefix;
  for (const std::string& group : settings.Groups())
    if (group.compare(0, prefix.size(), prefix) == 0) settings.RemoveGroup(group);
  settings.Set(kListGroup, "Count", std::to_string(commands.size()));
  for (std::size_t i = 0; i < commands.size(); ++i) {
    const UserCommand& c = commands[i];
    const std::string group = prefix + std::to_string(i + 1);
    settings.SetText(group, "Title", c.Title);
    settings.SetText(group, "CommandLine", c.CommandLine);
    settings.Set(group, "AppliesTo", AppliesName(c.Applies));
    settings.Set(group, "Confirm", c.Confirm ? "true" : "false");
    settings.Set(group, "RefreshAfter", c.RefreshAfter ? "true" : "false");
    settings.Set(group, "Enabled", c.Enabled ? "true" : "false");
  }
}

std::string CheckUserCommand(const UserCommand& command) {
  const auto blank = [](const std::string& s) {
    return std::all_of(s.begin(), s.end(), [](char ch) { return ch == ' ' || ch == '\t'; });
  };
  if (blank(command.Title)) return "A command needs a title.";
  if (blank(command.CommandLine)) return "\"" + command.Title + "\" needs a command line.";
  return {};
}

std::string UserCommandCaption(const std::string& title) {
  std::string out;
  for (const char c : title) {
    if (c == '&') out += '&';
    out += c;
  }
  return out;
}

bool AppliesToTarget(AppliesTo applies, const RowTarget& target) {
  switch (applies) {
    case AppliesTo::Files:
      return !target.IsFolder;
    case AppliesTo::Folders:
      return target.IsFolder;
    case AppliesTo::Both:
      break;
  }
  return true;
}

std::string ContainingFolder(const RowTarget& target) {
  std::string f = target.Folder;
  while (f.size() > 1 && f.back() == '/') f.pop_back();
  return f.empty() ? "/" : f;
}

std::string ExpandCommandLine(const std::string& commandLine, const RowTarget& target) {
  static const std::pair<const char*, int> kPlaceholders[] = {
      {"{path}", 0}, {"{name}", 1}, {"{folder}", 2}};
  std::string out;
  std::size_t i = 0;
  while (i < commandLine.size()) {
    bool replaced = false;
    if (commandLine[i] == '{') {
      for (const auto& [token, which] : kPlaceholders) {
        const std::string_view t(token);
        if (commandLine.compare(i, t.size(), t) != 0) continue;
        out += ShellQuote(which == 0   ? target.FullPath
                          : which == 1 ? target.Name
                                       : ContainingFolder(target));
        i += t.size();
        replaced = true;
        break;
      }
    }
    if (!replaced) out += commandLine[i++];
  }
  return out;
}

UserCommandPlan PlanUserCommand(const UserCommand& command, const TargetSelection& selection) {
  UserCommandPlan plan;
  plan.LeftOut = selection.LeftOut;
  for (const RowTarget& t : selection.Targets) {
    if (!AppliesToTarget(command.Applies, t)) {
      ++plan.LeftOut;
      continue;
    }
    plan.Steps.push_back({ExpandCommandLine(command.CommandLine, t), ContainingFolder(t)});
  }
  if (plan.Steps.empty() && plan.LeftOut > 0) {
    plan.Message = "\"" + command.Title + "\" is for " +
                   (command.Applies == AppliesTo::Files     ? std::string("files")
                    : command.Applies == AppliesTo::Folders ? std::string("folders")
                                                            : std::string("files and folders")) +
                   ": none of the selected rows is one.";
  }
  return plan;
}

struct UserCommandRunner::Job {
  std::string Title;
  std::vector<UserCommandStep> Steps;
  std::shared_ptr<CommandOutput> Output;
  std::function<void(bool)> Done;
};

UserCommandRunner::UserCommandRunner(CommandWindow& window, CommandSlot& slot)
    : window_(window), slot_(slot), alive_(std::make_shared<UserCommandRunner*>(this)) {}

UserCommandRunner::~UserCommandRunner() {
  if (running_) {
    CommandSlot::Stop();
    slot_.Join();
  }
  alive_.reset();
}

std::string UserCommandRunner::ProgressLine() const {
  const std::lock_guard lock(mutex_);
  return progress_;
}

void UserCommandRunner::Post(std::function<void()> task) {
  std::weak_ptr<UserCommandRunner*> token = alive_;
  slot_.Post([token, task = std::move(task)] {
    if (token.lock()) task();
  });
}

bool UserCommandRunner::Start(const std::string& title, std::vector<UserCommandStep> steps,
                              std::shared_ptr<CommandOutput> output,
                              std::function<void(bool ok)> done) {
  if (!slot_.Acquire()) return false;
  if (Tracing()) Trace("UserCommand: " + title + ", " + std::to_string(steps.size()) + " runs");
  auto job = std::make_shared<Job>();
  job->Title = title;
  job->Steps = std::move(steps);
  job->Output = std::move(output);
  job->Done = std::move(done);
  {
    const std::lock_guard lock(mutex_);
    progress_ = title + ": starting";
  }
  slot_.Progress = [this] { return ProgressLine(); };
  window_.SetStatus(title + ": running");
  window_.SetProgressTimer(true);
  running_ = true;
  Scanning = true;
  slot_.Run([this, job] { Work(job); });
  return true;
}

void UserCommandRunner::Work(const std::shared_ptr<Job>& job) {
  const std::size_t total = job->Steps.size();
  std::size_t failed = 0;
  std::string last;
  bool stopped = false;
  for (std::size_t i = 0; i < total && !stopped; ++i) {
    const UserCommandStep& step = job->Steps[i];
    {
      const std::lock_guard lock(mutex_);
      progress_ = job->Title + ": " + std::to_string(i) + " of " + std::to_string(total) +
                  " runs done";
    }
    if (CommandSlot::StopRequested()) {
      stopped = true;
      last = "stopped";
      break;
    }
    Post([job, text = "$ " + step.Line + "\n"] {
      if (job->Output) job->Output->Append(text);
    });
    const ShellRun run = RunShellLine(
        step.Line, step.Folder,
        [this, job](std::string_view bytes) {
          Post([job, text = std::string(bytes)] {
            if (job->Output) job->Output->Append(text);
          });
        },
        [] { return CommandSlot::StopRequested(); });
    last = DescribeRun(run);
    const bool ok = run.Started && !run.Stopped && run.Signal == 0 && run.ExitCode == 0;
    if (!ok) ++failed;
    stopped = run.Stopped;
    Post([job, text = "[" + last + "]\n"] {
      if (job->Output) job->Output->Append(text);
    });
  }
  std::string summary;
  if (total == 1 || stopped) {
    summary = last;
    if (stopped && total > 1) summary += " (" + std::to_string(failed) + " of " +
                                         std::to_string(total) + " runs failed or stopped)";
  } else if (failed == 0) {
    summary = "exit status 0 for all " + std::to_string(total) + " runs";
  } else {
    summary = std::to_string(failed) + " of " + std::to_string(total) + " runs failed; last: " +
              last;
  }
  const bool ok = failed == 0 && !stopped;
  Post([this, job, summary, ok] {
    Scanning = false;
    window_.SetProgressTimer(false);
    running_ = false;
    slot_.Release();
    window_.SetStatus(job->Title + ": " + summary);
    if (job->Output) job->Output->Finished(summary, ok);
    if (job->Done) job->Done(ok);
  });
}

}  // namespace kestrum
