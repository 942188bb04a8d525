#include "core/fileops/launch.h"

#include <fcntl.h>
#include <gio/gio.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <set>

#include "core/fileops/properties.h"
#include "core/platform/open_folder.h"

extern char** environ;

namespace kestrum {

namespace {

// Terminals tried after the user's choice and the distribution's alternatives, most common
// desktops first; each starts in the folder it is started from.
constexpr std::array kUsualTerminals = {
    "gnome-terminal", "konsole", "xfce4-terminal", "mate-terminal", "lxterminal", "qterminal",
    "terminator",     "tilix",   "kitty",          "alacritty",     "foot",       "wezterm",
    "urxvt",          "xterm"};

std::string ErrorText(GError* err) {
  std::string text = err ? err->message : "unknown error";
  if (err) g_error_free(err);
  return text;
}

bool IsExecutableFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

bool EndsWith(std::string_view s, std::string_view end) {
  return s.size() >= end.size() && s.substr(s.size() - end.size()) == end;
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

}  // namespace

std::string SystemLauncher::Start(const std::vector<std::string>& argv,
                                  const std::string& folder) {
  if (argv.empty()) return "nothing to start";
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  GError* err = nullptr;
  // Without G_SPAWN_DO_NOT_REAP_CHILD GLib reaps the program itself: nothing is left behind.
  const auto flags =
      static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_STDIN_FROM_DEV_NULL);
  if (g_spawn_async(folder.empty() ? nullptr : folder.c_str(), args.data(), nullptr, flags,
                    nullptr, nullptr, nullptr, &err))
    return {};
  return ErrorText(err);
}

namespace {

// Kestrum is a handler of folders itself: opening a folder must not start another Kestrum.
bool IsKestrum(GAppInfo* app) {
  const char* id = g_app_info_get_id(app);
  const char* exe = g_app_info_get_executable(app);
  return Lower(id ? id : "").rfind("org.kestrum.", 0) == 0 ||
         (exe && SplitLastName(exe).Name == "kestrum");
}

// The default handler of uri, or, when that is Kestrum, the first other handler of its type;
// null when there is none (or uri cannot be read).
GAppInfo* HandlerFor(const std::string& uri) {
  GFile* file = g_file_new_for_uri(uri.c_str());
  GAppInfo* app = g_file_query_default_handler(file, nullptr, nullptr);
  if (app && IsKestrum(app)) {
    g_object_unref(app);
    app = nullptr;
    GFileInfo* info = g_file_query_info(file, G_FILE_ATTRIBUTE_STANDARD_CONTENT_TYPE,
                                        G_FILE_QUERY_INFO_NONE, nullptr, nullptr);
    const char* type = info ? g_file_info_get_content_type(info) : nullptr;
    GList* all = type ? g_app_info_get_all_for_type(type) : nullptr;
    for (GList* l = all; l && !app; l = l->next)
      if (!IsKestrum(static_cast<GAppInfo*>(l->data)))
        app = static_cast<GAppInfo*>(g_object_ref(l->data));
    g_list_free_full(all, g_object_unref);
    if (info) g_object_unref(info);
  }
  g_object_unref(file);
  return app;
}

}  // namespace

std::string SystemLauncher::OpenDefault(const std::string& uri) {
  GError* err = nullptr;
  GAppInfo* app = HandlerFor(uri);
  if (!app) {
    // Nothing found: GIO's own call says why (no handler, a missing file).
    if (g_app_info_launch_default_for_uri(uri.c_str(), nullptr, &err)) return {};
    return ErrorText(err);
  }
  GList uris{const_cast<char*>(uri.c_str()), nullptr, nullptr};
  const bool launched = g_app_info_launch_uris(app, &uris, nullptr, &err);
  g_object_unref(app);
  return launched ? std::string() : ErrorText(err);
}

void SystemLauncher::ShowItems(const std::vector<std::string>& paths) {
  std::set<std::string> folders;
  for (const std::string& p : paths) folders.insert(SplitLastName(p).Folder);
  for (const std::string& f : folders) OpenDefault(FileUri(f));
}

std::string ShellQuote(std::string_view text) {
  std::string out = "'";
  for (const char c : text) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  out += '\'';
  return out;
}

std::string FindProgram(std::string_view name, std::string_view pathList) {
  if (name.empty()) return {};
  if (name.find('/') != std::string_view::npos) {
    const std::string p(name);
    return IsExecutableFile(p) ? p : std::string();
  }
  while (true) {
    const std::size_t colon = pathList.find(':');
    const std::string_view dir = pathList.substr(0, colon);
    if (!dir.empty() && dir.front() == '/') {
      const std::string p = WithSlash(std::string(dir)) + std::string(name);
      if (IsExecutableFile(p)) return p;
    }
    if (colon == std::string_view::npos) break;
    pathList.remove_prefix(colon + 1);
  }
  return {};
}

TerminalChoice FindTerminal(const char* terminalVariable, std::string_view pathList) {
  TerminalChoice choice;
  if (terminalVariable && *terminalVariable) {
    std::vector<std::string> words;
    gchar** argv = nullptr;
    if (g_shell_parse_argv(terminalVariable, nullptr, &argv, nullptr)) {
      for (gchar** a = argv; *a; ++a) words.emplace_back(*a);
      g_strfreev(argv);
    } else {
      words.emplace_back(terminalVariable);
    }
    choice.Tried.push_back(std::string("$TERMINAL (") + terminalVariable + ")");
    if (!words.empty())
      if (std::string found = FindProgram(words[0], pathList); !found.empty()) {
        words[0] = std::move(found);
        choice.Argv = std::move(words);
        return choice;
      }
  }
  std::vector<std::string> names = {"x-terminal-emulator", "xdg-terminal-exec"};
  names.insert(names.end(), kUsualTerminals.begin(), kUsualTerminals.end());
  for (const std::string& n : names) {
    choice.Tried.push_back(n);
    if (std::string found = FindProgram(n, pathList); !found.empty()) {
      choice.Argv = {std::move(found)};
      return choice;
    }
  }
  return choice;
}

std::string NoTerminalMessage(const TerminalChoice& choice) {
  std::string text = "No terminal was found. Tried: ";
  for (std::size_t i = 0; i < choice.Tried.size(); ++i) {
    if (i) text += ", ";
    text += choice.Tried[i];
  }
  text += ". Set $TERMINAL to the terminal you use.";
  return text;
}

bool MayRunWhenOpened(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  if (st.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) return true;
  const std::string name = Lower(SplitLastName(path).Name);
  static constexpr std::array kRunnable = {".desktop", ".sh",   ".bash",     ".zsh", ".ksh",
                                           ".csh",     ".fish", ".py",       ".pl",  ".rb",
                                           ".php",     ".run",  ".appimage", ".jar", ".bin"};
  for (const char* end : kRunnable)
    if (EndsWith(name, end)) return true;
  char head[256];
  ssize_t got = 0;
  if (const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK); fd >= 0) {
    got = ::read(fd, head, sizeof head);
    ::close(fd);
  }
  if (got >= 2 && head[0] == '#' && head[1] == '!') return true;
  gchar* type = g_content_type_guess(name.c_str(), reinterpret_cast<const guchar*>(head),
                                     got > 0 ? static_cast<gsize>(got) : 0, nullptr);
  // Not g_content_type_can_be_executable: it holds for every text file.
  const bool runnable = type && (g_content_type_is_a(type, "application/x-executable") ||
                                 g_content_type_is_a(type, "application/x-desktop") ||
                                 g_content_type_is_a(type, "application/x-shellscript"));
  g_free(type);
  return runnable;
}

ShellRun RunShellLine(const std::string& line, const std::string& folder,
                      const std::function<void(std::string_view)>& output,
                      const std::function<bool()>& stop) {
  ShellRun run;
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    run.Error = std::strerror(errno);
    return run;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
  if (!folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (const int s : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGCHLD, SIGQUIT}) sigaddset(&defaults, s);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setpgroup(&attr, 0);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK |
                                      POSIX_SPAWN_SETSIGDEF);
  const char* argv[] = {"/bin/sh", "-c", line.c_str(), nullptr};
  pid_t pid = 0;
  const int rc =
      ::posix_spawn(&pid, "/bin/sh", &actions, &attr, const_cast<char* const*>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  ::close(fds[1]);
  if (rc != 0) {
    ::close(fds[0]);
    run.Error = folder.empty() ? std::strerror(rc) : folder + ": " + std::strerror(rc);
    return run;
  }
  run.Started = true;

  using Clock = std::chrono::steady_clock;
  Clock::time_point termSent{};
  bool killed = false, exited = false, eof = false;
  int waits = 0;
  int status = 0;
  char buffer[16384];
  while (!exited || !eof) {
    if (!run.Stopped && stop && stop()) {
      run.Stopped = true;
      ::kill(-pid, SIGTERM);
      termSent = Clock::now();
    }
    if (run.Stopped && !killed && Clock::now() - termSent > std::chrono::seconds(1)) {
      ::kill(-pid, SIGKILL);
      killed = true;
    }
    if (!eof) {
      pollfd p{fds[0], POLLIN, 0};
      // Once the shell has exited, only what is already written is read: a program it left
      // running in the background may hold the pipe open for ever.
      const int ready = ::poll(&p, 1, exited ? 0 : 100);
      if (ready > 0) {
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n > 0) {
          if (output) output(std::string_view(buffer, static_cast<std::size_t>(n)));
          continue;
        }
        if (n == 0 || (errno != EINTR && errno != EAGAIN)) eof = true;
      } else if (exited) {
        eof = true;
      }
    }
    if (!exited) {
      const pid_t w = ::waitpid(pid, &status, WNOHANG);
      if (w == pid) exited = true;
      if (w < 0 && errno != EINTR) exited = true;
      // The output has ended: the shell is about to exit. Look again soon, then less often.
      if (eof && !exited) ::poll(nullptr, 0, ++waits < 50 ? 2 : 100);
    }
  }
  ::close(fds[0]);
  if (WIFEXITED(status)) run.ExitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) run.Signal = WTERMSIG(status);
  return run;
}

std::string DescribeRun(const ShellRun& run) {
  if (!run.Started) return "did not start: " + run.Error;
  if (run.Stopped) return "stopped";
  if (run.Signal) return "ended by signal " + std::to_string(run.Signal);
  return "exit status " + std::to_string(run.ExitCode);
}

}  // namespace kestrum
