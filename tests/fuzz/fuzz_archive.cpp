// Data files of arbitrary bytes imported into an archive in memory: the
// import counts every whole record once, a second import adds nothing, and
// every stored record decodes to its stored fields.
#include <QCoreApplication>

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

  quelm::ArchiveLocation location;
  QString detail;
  require(quelm::ParseArchiveLocation(QStringLiteral("sqlite::memory:"), &location, &detail) == 0, "address");
  int code = 0;
  auto archive = quelm::DoseArchive::open(location, {}, &code, &detail);
  require(archive != nullptr, "an archive in memory opens");

  const int records = static_cast<int>(size / 512);
  const int expected = size % 512 ? -109 : 0;
  quelm::ImportResult first;
  require(archive->importFile(file.path(), &first) == expected, "only a cut-off tail is a failure");
  require(first.added + first.duplicates + first.conflicts == records, "every whole record is counted once");
  quelm::ImportResult second;
  require(archive->importFile(file.path(), &second) == expected, "the same file again");
  require(second.added == 0 && second.duplicates + second.conflicts == records, "nothing is added twice");

  quelm::CheckReport report;
  require(archive->check(&report) == 0, "the check runs");
  require(report.readouts == first.added, "what was added is stored");
  require(report.faults.isEmpty(), "every stored record decodes to its stored fields");
  return 0;
}
