#include "ContentSession.h"

#include <utility>

#include "base/ErrorCodes.h"
#include "measurement/BlockRecord.h"
#include "measurement/DataFileReader.h"

namespace quelm::cli {

ContentSession::ContentSession()
    : data_(std::make_unique<TNurvoDataBlock>(nullptr)), detail_(data_), content_(data_, detail_) {}

ContentSession::~ContentSession() = default;

bool ContentSession::TakeReader(Args& args, CliIO& io, const QString& command, bool readerAllowed,
                                int* exitCode) {
  if (!readerAllowed || !args.has(QStringLiteral("--port"))) return true;
  const QString port = args.value(QStringLiteral("--port")).value_or(QString());
  const QString baud = args.value(QStringLiteral("--baud")).value_or(QString());
  if (!args.ok()) {
    *exitCode = usageError(io, command, args.error());
    return false;
  }
  QString error;
  reader_ = ReaderSession::open(port, baud, io, &error);
  if (!reader_) {
    *exitCode = usageError(io, command, error);
    return false;
  }
  sourceName_ = port;
  return true;
}

bool ContentSession::TakeFile(QStringList& words, CliIO& io, const QString& command, int* exitCode) {
  if (reader_) return true;
  if (words.isEmpty()) {
    *exitCode = usageError(io, command, QStringLiteral("a data file is needed"));
    return false;
  }
  sourceName_ = words.takeFirst();
  return true;
}

int ContentSession::Import(CliIO& io) {
  const int rc = reader_ ? content_.ImportReader() : content_.ImportFile(sourceName_);
  cutOff_.clear();
  // The import told the cut after it listed the whole records.
  if (rc == kErrSourceFile && content_.Source() && !content_.Source()->LeftOut().isEmpty()) {
    cutOff_ = takeReportNote(rc);
    return kExitOk;
  }
  return rc == 0 ? int{kExitOk} : failure(io, rc, sourceName_);
}

int ContentSession::Show(CliIO& io, uint32_t number, int64_t record) {
  const int rc = content_.ShowBlock(number, record);
  if (rc == 0) return kExitOk;
  // A block refused as the cut-off record names the cut: once is enough.
  const QString note = takeReportNote(rc);
  if (!note.isEmpty() && note == cutOff_) cutOff_.clear();
  explainNextReport(rc, note);
  return failure(io, rc, QStringLiteral("%1: block %2").arg(sourceName_).arg(number));
}

int ContentSession::Finish(CliIO& io, int result) {
  return EndAfterCut(io, sourceName_, std::exchange(cutOff_, {}), result);
}

bool ContentSession::TakeBlocks(Args& args, QStringList& words, CliIO& io, const QString& command,
                                bool justOne, const QString& needed, std::vector<uint32_t>* numbers,
                                int* exitCode) {
  if (!TakeFile(words, io, command, exitCode)) return false;
  if (words.isEmpty() || (justOne && words.size() != 1)) {
    *exitCode = usageError(io, command, needed);
    return false;
  }
  *numbers = BlockNumbers(args, words);
  if (!args.ok()) {
    *exitCode = usageError(io, command, args.error());
    return false;
  }
  if (const int rc = Import(io)) {
    *exitCode = rc;
    return false;
  }
  return true;
}

int EndAfterCut(CliIO& io, const QString& source, const QString& cutOff, int result) {
  if (cutOff.isEmpty()) return result;
  explainNextReport(kErrSourceFile, cutOff);
  failure(io, kErrSourceFile, source);
  return result == kExitOk ? int{kExitFailure} : result;
}

int ReadWholeRecords(CliIO& io, const QString& name, const std::function<void(const BlockRecord&)>& record,
                     QString* cut) {
  cut->clear();
  DataFileReader file;
  if (const int rc = file.open(name)) return failure(io, rc, name);
  const uint64_t size = file.size();
  BlockRecord r;
  uint64_t k = 0;
  for (; (k + 1) * sizeof r <= size; ++k) {
    if (!file.readAt(k * sizeof r, &r, sizeof r)) break;
    record(r);
  }
  const int readError = file.readError();
  file.close();
  if ((k + 1) * sizeof r <= size)  // a whole record that could not be read
    return failure(io, readError ? readError : kErrFileRead,
                   QStringLiteral("%1: record %2").arg(name).arg(k));
  // A record cut short (a download that was interrupted) is no block.
  if (k * sizeof r < size) *cut = CutOffRecordNote(name, size - k * sizeof r, k);
  return kExitOk;
}

std::vector<uint32_t> BlockNumbers(Args& args, const QStringList& words) {
  std::vector<uint32_t> numbers;
  for (const QString& w : words) {
    const auto n = args.integer(w, QStringLiteral("a block number"), 0, kBlocksInReader - 1);
    if (!n) return {};
    numbers.push_back(static_cast<uint32_t>(*n));
  }
  return numbers;
}

}  // namespace quelm::cli
