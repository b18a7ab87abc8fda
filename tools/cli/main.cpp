// quelm-cli: list, check, export and download blocks, and work with the
// reader's tables, from scripts and scheduled jobs. See Cli.h.
#include <unistd.h>

#include <QCoreApplication>
#include <QTextStream>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "Cli.h"
#include "base/Config.h"
#include "base/UserLocale.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
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
