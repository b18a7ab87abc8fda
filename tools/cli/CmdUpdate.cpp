// quelm-cli update PROGRAM.bin --port P: loads new software into the
// reader. The operator starts it, then switches the reader on into its
// loader; Ctrl+C aborts as the window's "Abort" does.
#include "Cli.h"
#include "service/SoftwareUpdate.h"

namespace quelm::cli {
namespace {

int run(Args& args, CliIO& io) {
  const QString command = QStringLiteral("update");
  const OpenedReader reader = openReader(args, io, command, ReaderAccess::ServiceLevel);
  if (!reader.session) return reader.exitCode;
  const QStringList& files = reader.words;
  if (files.size() != 1) return usageError(io, command, QStringLiteral("one program file is needed"));

  reader.session->releaseLine();
  SoftwareUpdate update(reader.session->link());
  bool barOpen = false;
  update.onStatus = [&](const QString& text) {
    if (text.isEmpty()) return;
    if (barOpen) io.err << "\n";
    barOpen = false;
    io.err << text << Qt::endl;
  };
  update.onProgress = [&](int position, int /*maximum*/) {
    const int blocks = update.Blocks();
    if (position <= 0 || blocks <= 0) return;
    if (!io.errIsTerminal) {
      io.err << "block " << position << " of " << blocks << Qt::endl;
      return;
    }
    constexpr int kWidth = 40;
    const int filled = position * kWidth / blocks;
    io.err << "\r[" << QString(filled, QLatin1Char('#')) << QString(kWidth - filled, QLatin1Char('.')) << "] "
           << position << "/" << blocks << Qt::flush;
    barOpen = true;
  };
  int rc = 0;
  {
    const InterruptScope interrupt([&update] { update.Abort(); });
    rc = update.Download(files.first());
  }
  if (barOpen) io.err << Qt::endl;
  if (rc != 0) return failure(io, rc, command);
  io.out << "Download ready" << Qt::endl;
  // The reader has its program; the line could not be closed after it.
  if (const int closed = update.CloseFailure()) return failure(io, closed, command);
  return kExitOk;
}

const CommandRegistrar registrar({"update", "update PROGRAM.bin --port P [--baud B]",
                                  "load new software into the reader (service level): start it, then switch "
                                  "the reader on; Ctrl+C aborts",
                                  run});

}  // namespace
}  // namespace quelm::cli
