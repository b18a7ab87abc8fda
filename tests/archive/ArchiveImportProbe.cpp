// A second program for the archive's process tests: imports a data file
// (its records in reverse order with --reverse) and can stop in the middle
// of its transaction, once N records are done, held until told to go on,
// or killed outright. Prints "started", then "added duplicates conflicts".
//   archive_import_probe URL FILE [--hold-after N | --kill-after N] [--reverse]
// Or ends a dosimeter's last period, or excludes a read-out, held once it
// has read what it changes; prints "started", "holding", then the result
// code and the detail.
//   archive_import_probe URL --end DOSIMETER YYYY-MM-DD
//   archive_import_probe URL --exclude READOUT-ID
#include <QCoreApplication>
#include <QFile>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <utility>

#include "archive/Archive.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc < 3) return 2;
  const int after = argc >= 5 ? std::atoi(argv[4]) : -1;
  const bool hold = argc >= 5 && std::strcmp(argv[3], "--hold-after") == 0;
  const bool kill = argc >= 5 && std::strcmp(argv[3], "--kill-after") == 0;
  const bool reverse = std::strcmp(argv[argc - 1], "--reverse") == 0;
  quelm::ArchiveLocation location;
  QString error;
  if (quelm::ParseArchiveLocation(QString::fromLocal8Bit(argv[1]), &location, &error)) return 2;
  std::printf("started\n");
  std::fflush(stdout);
  int code = 0;
  auto archive = quelm::DoseArchive::open(location, {}, &code, &error);
  if (!archive) {
    std::printf("open %d %s\n", code, qPrintable(error));
    return 1;
  }
  const auto holdHere = [] {
    std::printf("holding\n");
    std::fflush(stdout);
    char line[16];
    if (!std::fgets(line, sizeof line, stdin)) std::abort();
  };
  const QString command = QString::fromLocal8Bit(argv[2]);
  if (command == QLatin1String("--end") || command == QLatin1String("--exclude")) {
    archive->onReadBeforeWrite = [&, held = false]() mutable {
      if (!std::exchange(held, true)) holdHere();
    };
    code = command == QLatin1String("--end")
               ? archive->endPeriod(QString::fromLocal8Bit(argv[3]),
                                    *quelm::ParseArchiveTime(QString::fromLocal8Bit(argv[4]), true))
               : archive->resolve(std::atoll(argv[3]), quelm::Resolution::Exclude, QStringLiteral("probe"));
    std::printf("%d %s\n", code, qPrintable(archive->errorDetail()));
    return code ? 1 : 0;
  }
  bool stopped = false;
  archive->onRecordImported = [&](int done) {
    if (after < 0 || done < after || stopped) return;
    stopped = true;
    if (kill) std::raise(SIGKILL);
    if (hold) holdHere();
  };
  quelm::ImportResult r;
  QFile file(QString::fromLocal8Bit(argv[2]));
  if (!file.open(QIODevice::ReadOnly)) return 1;
  const QByteArray bytes = file.readAll();
  std::vector<BlockRecord> records(static_cast<size_t>(bytes.size()) / sizeof(BlockRecord));
  std::memcpy(records.data(), bytes.constData(), records.size() * sizeof(BlockRecord));
  if (reverse) std::reverse(records.begin(), records.end());
  code = archive->importRecords(records, file.fileName(), &r);
  if (code) {
    std::printf("import %d %s\n", code, qPrintable(archive->errorDetail()));
    return 1;
  }
  std::printf("%d %d %d\n", r.added, r.duplicates, r.conflicts);
  return 0;
}
