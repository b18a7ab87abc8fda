// quelm-cli: list, check, export and download blocks, and work with the
// reader's tables, from scripts and scheduled jobs. See Cli.h.
#include <unistd.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QTextStream>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "Cli.h"
#include "base/Config.h"
#include "base/UserLocale.h"

namespace {
// Only a printed report, chart or certificate (also the reports a sign-off
// stores) paints text, which needs fonts and so a GUI application; it runs
// on the offscreen platform, and every other command stays free of any
// display.
bool paintsReport(int argc, char** argv) {
  QStringList arguments;
  for (int i = 1; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  const QStringList words = quelm::cli::WithoutConfig(arguments);
  if (words.isEmpty()) return false;
  if (words[0] == QLatin1String("archive"))
    return words.contains(QLatin1String("report")) || words.contains(QLatin1String("sign")) ||
           words.contains(QLatin1String("chart"));
  return words[0] == QLatin1String("calibrate") && words.contains(QLatin1String("--pdf"));
}
}  // namespace

int main(int argc, char** argv) {
  std::unique_ptr<QCoreApplication> application;
  if (paintsReport(argc, argv)) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The offscreen platform asks for a runtime folder a cron job has no
    // use for; its complaint is no failure of the report.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& message) {
      if (type == QtWarningMsg && message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR")))
        return;
      std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
    });
    application = std::make_unique<QGuiApplication>(argc, argv);
  } else {
    application = std::make_unique<QCoreApplication>(argc, argv);
  }
  // The window's regional settings: the same texts as the window, in lists and files.
  quelm::setUserLocale(quelm::systemUserLocale());
  QTextStream out(stdout);
  QTextStream err(stderr);
  // The program's configuration file, found by the program's own rule:
  // quelm.INI beside both executables, or the user's one when installed.
  quelm::cli::CliIO io{out, err, ::isatty(STDERR_FILENO) == 1,
                       quelm::defaultConfigFilePath(QStringLiteral("quelm"))};
  QStringList arguments = QCoreApplication::arguments();
  arguments.removeFirst();
  int code = quelm::cli::runCli(arguments, io);
  out.flush();
  err.flush();
  // What the stream could not tell: the last bytes stdio held back.
  if (std::fflush(stdout) != 0 && code == quelm::cli::kExitOk) {
    std::fprintf(stderr, "quelm-cli: cannot write the output: %s\n", std::strerror(errno));
    code = quelm::cli::kExitFailure;
  }
  return code;
}
