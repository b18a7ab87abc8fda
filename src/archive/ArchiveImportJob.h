#pragma once
// Importing data files into the dose archive, the one workflow the archive
// window and `quelm-cli archive import` both drive: each file in its own
// transaction (a file that fails leaves the others archived), progress over
// all files, and per file its line, its refused records and its conflicts,
// in the texts of ArchiveText.h. The window runs it on a worker thread
// with a connection of its own, the command line on its own thread.

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

#include "archive/Archive.h"

namespace quelm {

struct ArchiveImportProgress {
  bool running = false;
  int files = 0;
  int file = 0;       // files done
  int done = 0;       // records of all files so far
  int total = 0;      // records of all files
  QStringList lines;  // each file's lines as it ends
};

struct ArchiveFileOutcome {
  QString file;
  int code = 0;  // kOk, kErrArchiveRefused, kErrFileRead or the failure
  QString detail;
  ImportResult result;
  bool imported = false;  // its read-outs were stored (the counts hold)
  // "FILE: N added, ..." then a line per refused and per conflicting record.
  QStringList lines;
};

class ArchiveImportJob {
 public:
  explicit ArchiveImportJob(const QStringList& files);

  // Called as the work moves on, on the thread that runs it.
  std::function<void(const ArchiveImportProgress&)> onProgress;
  std::function<void(const ArchiveFileOutcome&)> onFileDone;

  // Imports every file; the first failure's code (kOk when none), with
  // what each file gave in Outcomes(). A level names new read-outs at or
  // above it in each result's highDoses.
  int Run(DoseArchive& archive, std::optional<double> notificationLevel = std::nullopt);
  const std::vector<ArchiveFileOutcome>& Outcomes() const { return outcomes_; }
  const ArchiveImportProgress& Progress() const { return progress_; }
  // The first failure's detail, as messages add it.
  QString FailureDetail() const;

 private:
  void report();
  QStringList files_;
  ArchiveImportProgress progress_;
  std::vector<ArchiveFileOutcome> outcomes_;
};

}  // namespace quelm
