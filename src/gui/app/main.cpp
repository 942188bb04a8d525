// Kestrum's entry: the headless report, --help and --version, the trace switch, the splash,
// the main window and the folders given to scan.
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QSocketNotifier>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/saved/scan_history.h"
#include "core/app/command_line.h"
#include "core/app/headless.h"
#include "core/platform/descriptors.h"
#include "core/platform/settings.h"
#include "core/trace/trace.h"
#include "core/trace/trace_log.h"
#include "gui/app/frmMain.h"
#include "gui/controls/accessibility.h"
#include "gui/ui/frmSplash.h"
#include "kestrum_version.h"

int main(int argc, char** argv) {
  using namespace kestrum;
  RaiseDescriptorLimit(kScanDescriptors);
  // The headless modes, --help and --version are answered before the window system is asked
  // for anything, so they work without one.
  if (const auto status = RunWithoutWindow(
          ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), Program::Window),
          argc > 0 ? argv[0] : ""))
    return *status;

  // SIGINT and SIGTERM arrive through a descriptor the event loop watches, so they close
  // the window exactly as "Exit" does. They are blocked before any thread starts, so every
  // thread inherits the mask and none takes them asynchronously.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  const int sigFd = signalfd(-1, &stopSignals, SFD_CLOEXEC | SFD_NONBLOCK);

  gui::InstallAccessibility();
  QApplication app(argc, argv);
  QApplication::setApplicationName(version::Product);
  // Ties the windows to the installed desktop entry (its icon and name in the task bar).
  QGuiApplication::setDesktopFileName("org.kestrum.Kestrum");
  QApplication::setApplicationVersion(
      QStringLiteral("%1.%2.%3").arg(version::Major).arg(version::Minor).arg(version::Revision));

  // The trace log's messages become boxes; a box nobody can answer (offscreen) goes to
  // standard error instead.
  const bool canAsk = QGuiApplication::platformName() != "offscreen";
  SystemHooks hooks;
  hooks.message = [canAsk](const std::string& text) {
    if (canAsk)
      QMessageBox::information(nullptr, version::Product, QString::fromStdString(text));
    else
      std::fprintf(stderr, "Kestrum: %s\n", text.c_str());
  };
  hooks.fatal = [canAsk](const std::string& text) {
    if (canAsk)
      QMessageBox::critical(nullptr, version::Product, QString::fromStdString(text));
    else
      std::fprintf(stderr, "Kestrum: %s\n", text.c_str());
    std::_Exit(1);
  };
  ConfigureTrace(std::move(hooks));
  // The toolkit has taken its own options (-platform, -style, ...) out of argv by now.
  const CommandLine commandLine =
      ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), Program::Window);
  if (commandLine.Trace) {
    TraceOn = true;
    StartTrace();
  }
  std::string notice;
  for (const std::string& line : WindowNotices(commandLine)) {
    std::fprintf(stderr, "kestrum: %s\n", line.c_str());
    notice += (notice.empty() ? "" : "\n") + line;
  }

  gui::frmMain mainWindow(UserSettingsPath());
  // Completed scans are kept under the user's data folder; without a home, nowhere.
  const char* home = std::getenv("HOME");
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  if ((home && *home == '/') || (dataHome && *dataHome == '/'))
    mainWindow.Presenter().SetHistoryFolder(HistoryFolder(dataHome, home));
  QPointer<gui::frmSplash> splash = new gui::frmSplash([&] {
    mainWindow.Form_Load();
    if (!notice.empty()) mainWindow.ShowMessage(notice);
    mainWindow.ScanFolders(commandLine.Paths);
    if (!commandLine.Imports.empty()) mainWindow.ImportScans(commandLine.Imports);
  });
  splash->show();

  QSocketNotifier* notifier = nullptr;
  if (sigFd >= 0) {
    notifier = new QSocketNotifier(sigFd, QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, [&] {
      signalfd_siginfo info;
      while (read(sigFd, &info, sizeof info) == sizeof info) {
      }
      if (splash) splash->close();
      if (mainWindow.isVisible())
        mainWindow.close();
      else
        QApplication::quit();
    });
  }
  const int rc = QApplication::exec();
  if (sigFd >= 0) close(sigFd);
  return rc;
}
