#include "archive/DownloadArchiver.h"

#include "archive/ArchiveText.h"
#include "base/ErrorCodes.h"

namespace quelm {

DownloadArchiver::DownloadArchiver(DownloadJob& job) : job_(job) {
  job_.onBlockWritten = [this](const BlockRecord& record) { written_.push_back(record); };
}

DownloadArchiver::~DownloadArchiver() { job_.onBlockWritten = nullptr; }

DownloadArchiveOutcome DownloadArchiver::finish(const DownloadResult& result, const ArchiveSettings& settings,
                                                const QString& source, const ArchiveOptions& options) {
  DownloadArchiveOutcome o;
  std::vector<BlockRecord> records;
  records.swap(written_);
  // Whole on the disk is what counts, not the acknowledgement: one that
  // failed may still have been carried out, and the next download would
  // not see these blocks again. Archiving twice only says "already archived".
  if (!result.onDisk) return o;
  o.ran = true;
  ArchiveLocation location;
  o.code = ParseArchiveLocation(settings.database, &location, &o.detail);
  if (o.code) return o;
  o.where = location.displayText();
  std::unique_ptr<DoseArchive> archive = DoseArchive::open(location, options, &o.code, &o.detail);
  if (!archive) return o;
  // The first download into an older archive upgrades it: the trace says so.
  if (!archive->upgradeNote().isEmpty()) o.lines << UpgradedLine(o.where, archive->upgradeNote());
  o.code = archive->importRecords(records, source, &o.result, settings.notificationLevel);
  if (o.code && o.code != kErrArchiveRefused) {
    o.detail = archive->errorDetail();
    return o;
  }
  o.detail = archive->errorDetail();
  for (const ReadoutFields& f : o.result.highDoses) {
    Person person;
    // Not knowing the wearer does not make the dose less worth telling.
    archive->personAt(f.dosimeter, f.readoutTime, &person);
    o.highDosePersons.push_back(person);
  }
  o.lines << DownloadArchivedLine(o.result);
  for (const ImportRefusal& r : o.result.refused) o.lines << RefusalLine(source, r);
  for (const ReadoutFields& f : o.result.conflicting) o.lines << ConflictLine(QStringLiteral("Archive"), f);
  for (const ReadoutFields& f : o.result.highDoses) o.lines << HighDoseLine(f);
  return o;
}

}  // namespace quelm
