#include "archive/ArchiveImportJob.h"

#include <QFileInfo>

#include "archive/ArchiveText.h"
#include "base/ErrorCodes.h"

namespace quelm {

ArchiveImportJob::ArchiveImportJob(const QStringList& files) : files_(files) {
  progress_.files = static_cast<int>(files.size());
  for (const QString& f : files) progress_.total += static_cast<int>(QFileInfo(f).size() / kBlockSize);
}

void ArchiveImportJob::report() {
  if (onProgress) onProgress(progress_);
}

int ArchiveImportJob::Run(DoseArchive& archive, std::optional<double> level) {
  outcomes_.clear();
  progress_.running = true;
  progress_.file = 0;
  progress_.done = 0;
  progress_.lines.clear();
  report();
  int first = kOk;
  int before = 0;
  for (const QString& file : files_) {
    archive.onRecordImported = [this, before](int done) {
      progress_.done = std::min(before + done, progress_.total);
      report();
    };
    ArchiveFileOutcome o;
    o.file = file;
    o.code = archive.importFile(file, &o.result, level);
    archive.onRecordImported = nullptr;
    // Refused records and a cut-off end leave the whole records archived.
    o.imported = o.code == kOk || o.code == kErrArchiveRefused || o.code == kErrFileRead;
    if (o.code) o.detail = archive.errorDetail().isEmpty() ? file : file + QStringLiteral(": ") + archive.errorDetail();
    if (o.imported) {
      o.lines << ImportLine(file, o.result);
      for (const ImportRefusal& r : o.result.refused) o.lines << RefusalLine(file, r);
      for (const ReadoutFields& f : o.result.conflicting) o.lines << ConflictLine(file, f);
    }
    if (o.code && !first) first = o.code;
    before += static_cast<int>(QFileInfo(file).size() / kBlockSize);
    progress_.done = std::min(before, progress_.total);
    ++progress_.file;
    progress_.lines << o.lines;
    outcomes_.push_back(o);
    if (onFileDone) onFileDone(outcomes_.back());
    report();
  }
  progress_.running = false;
  progress_.done = progress_.total;
  report();
  return first;
}

QString ArchiveImportJob::FailureDetail() const {
  for (const ArchiveFileOutcome& o : outcomes_)
    if (o.code) return o.detail;
  return QString();
}

}  // namespace quelm
