#pragma once
// The step after a download, shared by the download window and
// `quelm-cli download`: what a complete download wrote into its data file
// goes into the dose archive. The data file stays the primary record: an
// archive that fails is reported, never undoes the file or the reader's
// acknowledgement, and `quelm-cli archive import` redoes it later.

#include <QString>
#include <QStringList>
#include <vector>

#include "archive/Archive.h"
#include "archive/ArchiveLocation.h"
#include "measurement/BlockRecord.h"
#include "measurement/Download.h"

namespace quelm {

struct DownloadArchiveOutcome {
  bool ran = false;  // a complete download was archived (or tried)
  int code = 0;      // kOk or the archive's result code
  QString detail;    // what the database said
  QString where;     // the archive, as messages name it (no password)
  ImportResult result;
  // Whose wear period each of result.highDoses belongs to (empty id: nobody's).
  std::vector<Person> highDosePersons;
  // "Archived: ...", then a line per conflicting and per new high dose.
  QStringList lines;
};

class DownloadArchiver {
 public:
  // Keeps every record the job writes until finish().
  explicit DownloadArchiver(DownloadJob& job);
  ~DownloadArchiver();
  DownloadArchiver(const DownloadArchiver&) = delete;
  DownloadArchiver& operator=(const DownloadArchiver&) = delete;

  // After start(): a download whole on the disk (result.onDisk, whether
  // the reader's acknowledgement then failed or not) is archived at
  // settings.database (the default file when empty), with `source` the
  // reader's port or the source file. Anything else only drops what was kept.
  DownloadArchiveOutcome finish(const DownloadResult& result, const ArchiveSettings& settings,
                                const QString& source, const ArchiveOptions& options = {});

 private:
  DownloadJob& job_;
  std::vector<BlockRecord> written_;
};

}  // namespace quelm
