#pragma once
// Runs quelm-cli command lines in process and keeps what they printed.

#include <QString>
#include <QStringList>
#include <QTextStream>

#include "Cli.h"

namespace quelm::test {

struct CliRun {
  int code = -1;
  QString out;
  QString err;
};

// configPath: the configuration file the command reads (service level,
// COMn mapping); empty for one that does not exist.
inline CliRun runCli(const QStringList& arguments, const QString& configPath = QString()) {
  CliRun r;
  QTextStream out(&r.out);
  QTextStream err(&r.err);
  cli::CliIO io{out, err, false,
                configPath.isEmpty() ? QStringLiteral("/nonexistent/quelm.INI") : configPath};
  r.code = cli::runCli(arguments, io);
  out.flush();
  err.flush();
  return r;
}

}  // namespace quelm::test
