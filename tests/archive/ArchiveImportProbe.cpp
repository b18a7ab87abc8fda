// A second program for the archive's process tests: imports a data file and
// can stop in the middle of its transaction, held until told to go on, or
// killed outright. Prints "started", then "added duplicates conflicts".
//   archive_import_probe URL FILE [--hold-after N | --kill-after N]
#include <QCoreApplication>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "archive/Archive.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc < 3) return 2;
  const int after = argc >= 5 ? std::atoi(argv[4]) : -1;
  const bool hold = argc >= 5 && std::strcmp(argv[3], "--hold-after") == 0;
  const bool kill = argc >= 5 && std::strcmp(argv[3], "--kill-after") == 0;
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
  archive->onRecordImported = [&](int done) {
    if (done != after) return;
    if (kill) std::raise(SIGKILL);
    if (hold) {
      std::printf("holding\n");
      std::fflush(stdout);
      char line[16];
      if (!std::fgets(line, sizeof line, stdin)) std::abort();
    }
  };
  quelm::ImportResult r;
  code = archive->importFile(QString::fromLocal8Bit(argv[2]), &r);
  if (code) {
    std::printf("import %d %s\n", code, qPrintable(archive->errorDetail()));
    return 1;
  }
  std::printf("%d %d %d\n", r.added, r.duplicates, r.conflicts);
  return 0;
}
