#pragma once
// Runs quelm-cli command lines in process and keeps what they printed.

#include <QIODevice>
#include <QString>
#include <QStringList>
#include <QTextStream>
#include <functional>
#include <utility>

#include "Cli.h"

namespace quelm::test {

struct CliRun {
  int code = -1;
  QString out;
  QString err;
};

// Standard error as the command writes it: onLine sees the text so far each
// time a line goes out, from inside the command's work.
class ErrTap : public QIODevice {
 public:
  explicit ErrTap(std::function<void(const QString&)> onLine) : onLine_(std::move(onLine)) {
    open(WriteOnly);
  }
  QString text;

 protected:
  qint64 readData(char*, qint64) override { return -1; }
  qint64 writeData(const char* data, qint64 n) override {
    text += QString::fromUtf8(data, static_cast<qsizetype>(n));
    if (onLine_) onLine_(text);
    return n;
  }

 private:
  std::function<void(const QString&)> onLine_;
};

// configPath: the configuration file the command reads (service level,
// COMn mapping); empty for one that does not exist. outDevice: where
// standard output goes instead of CliRun::out; onErr: see ErrTap.
inline CliRun runCli(const QStringList& arguments, const QString& configPath = QString(),
                     QIODevice* outDevice = nullptr, std::function<void(const QString&)> onErr = {}) {
  CliRun r;
  QTextStream out(&r.out);
  if (outDevice) out.setDevice(outDevice);
  ErrTap tap(std::move(onErr));
  QTextStream err(&tap);
  cli::CliIO io{out, err, false,
                configPath.isEmpty() ? QStringLiteral("/nonexistent/quelm.INI") : configPath};
  r.code = cli::runCli(arguments, io);
  out.flush();
  err.flush();
  r.err = tap.text;
  return r;
}

}  // namespace quelm::test
