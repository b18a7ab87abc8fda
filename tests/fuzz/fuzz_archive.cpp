// Data files of arbitrary bytes imported into a new archive: the
// import counts every whole record once (added, known, conflicting or
// refused as no read-out), a second import adds nothing, and every stored
// record is a plausible read-out that decodes to its stored fields.
#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include "FuzzSupport.h"
#include "archive/Archive.h"

using quelm::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static int argc = 1;
  static char name[] = "fuzz_archive";
  static char* argv[] = {name, nullptr};
  static QCoreApplication app(argc, argv);  // the database drivers are plugins
  static const quelm::fuzz::MemoryFile file;
  file.assign(data, size);

  // A new archive each time (an archive in memory is no address a user
  // may give, so the program would not open one).
  static QTemporaryDir dir;
  quelm::ArchiveLocation location;
  location.path = dir.filePath(QStringLiteral("fuzz.sqlite"));
  QFile::remove(location.path);
  QString detail;
  int code = 0;
  auto archive = quelm::DoseArchive::open(location, {}, &code, &detail);
  if (!archive) std::fprintf(stderr, "%d %s\n", code, qPrintable(detail));
  require(archive != nullptr, "a new archive opens");

  const int records = static_cast<int>(size / 512);
  quelm::ImportResult first;
  const int rc = archive->importFile(file.path(), &first);
  const int refused = static_cast<int>(first.refused.size());
  require(rc == (size % 512 ? -109 : refused ? -317 : 0), "a cut-off tail or refused records are said");
  require(first.added + first.duplicates + first.conflicts + refused == records,
          "every whole record is counted once");
  quelm::ImportResult second;
  require(archive->importFile(file.path(), &second) == rc, "the same file again");
  require(second.added == 0 && second.duplicates + second.conflicts == records - refused,
          "nothing is added twice");

  quelm::CheckReport report;
  require(archive->check(&report) == 0, "the check runs");
  require(report.readouts == first.added, "what was added is stored");
  require(report.faults.isEmpty(), "every stored record decodes to its stored fields");
  return 0;
}
