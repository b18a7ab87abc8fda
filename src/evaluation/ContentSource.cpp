#include "evaluation/ContentSource.h"

#include <QFileInfo>
#include <algorithm>
#include <cstddef>

#include "base/ErrorCodes.h"
#include "link/CommandChannel.h"
#include "measurement/DataFileReader.h"
#include "measurement/NurvoDataBlock.h"

namespace quelm {

DataFileSource::DataFileSource(QString fileName) : fileName_(std::move(fileName)) {}

int DataFileSource::Skim(TNurvoDataBlock& data) {
  leftOut_.clear();
  cutNumber_ = -1;
  if (const int rc = data.SkimFile(fileName_)) return rc;
  if (data.CutOffBytes == 0) return kOk;
  // The newest block is the last whole record; the file is opened once more
  // only for a file that ends in a cut-off one. The cut-off record's first
  // bytes may carry a number no whole record has: asked for, that block is
  // refused with the cut named rather than as merely missing.
  const uint32_t whole = data.ValidBlocks - 1;
  const auto numberAt = [](DataFileReader& file, uint64_t record, uint16_t* number) {
    return file.readAt(record * sizeof(BlockRecord) + offsetof(BlockRecord, BlockNumber), number,
                       sizeof *number);
  };
  uint16_t last = 0, cut = 0;
  DataFileReader file;
  if (file.open(fileName_) == 0) {
    if (whole > 0) numberAt(file, whole - 1, &last);
    if (numberAt(file, whole, &cut)) cutNumber_ = cut;
  }
  data.ValidBlocks = whole;
  data.BlockIndex = whole > 0 ? whole - 1 : 0;
  data.LastBlock = last;
  leftOut_ = CutOffRecordNote(fileName_, data.CutOffBytes, whole);
  return kOk;
}

int DataFileSource::SearchPage(TNurvoDataBlock& data, const SearchRequest& request, uint16_t upperLimit,
                               uint16_t lowerLimit, int* count) {
  return SearchPageNextTo(data, request, kNoRecord, upperLimit, lowerLimit, count);
}

int DataFileSource::SearchPageNextTo(TNurvoDataBlock& data, const SearchRequest& request, int64_t record,
                                     uint16_t upperLimit, uint16_t lowerLimit, int* count) {
  // The page is searched in the listed file even when the data object was
  // pointed elsewhere in between.
  data.FileName = fileName_;
  const int rc = data.SearchFileBlocks(request, kPageRows, upperLimit, lowerLimit, count, record);
  return rc == kErrBlockNotFound ? kOk : rc;  // the page ended at a missing block: show what was found
}

int DataFileSource::ReadBlock(TNurvoDataBlock& data, uint32_t number) {
  return ReadRow(data, number, kNoRecord);
}

int DataFileSource::ReadRow(TNurvoDataBlock& data, uint32_t number, int64_t record) {
  data.FileName = fileName_;
  const int rc = data.ReadFileBlock(number, record);
  if (rc == kErrSourceFile && static_cast<int64_t>(number) == cutNumber_) explainNextReport(rc, leftOut_);
  return rc;
}

QString DataFileSource::Label() const { return QFileInfo(fileName_).fileName(); }

QString DataFileSource::Hint() const { return QFileInfo(fileName_).absoluteFilePath(); }

QString DataFileSource::SkimContext(int code) const {
  return QStringLiteral("SkimFile(%1): %2").arg(fileName_).arg(code);
}

QString DataFileSource::ReadContext(const QString& row, int code) const {
  return QStringLiteral("ReadFileBlock(%1): BlockIndex: %2: %3").arg(fileName_, row).arg(code);
}

// --- Reader -------------------------------------------------------------------

void ReaderSource::BeginImport() {
  if (TCommandChannel* channel = CommandChannel()) channel->ResetAtNextExchange();
}

int ReaderSource::Skim(TNurvoDataBlock& data) { return data.SkimCOM(); }

int ReaderSource::SearchPage(TNurvoDataBlock& data, const SearchRequest& request, uint16_t /*upperLimit*/,
                             uint16_t /*lowerLimit*/, int* count) {
  int n = 0;
  const int rc = data.SearchCOMBlocks(request, static_cast<int>(sizeof(SearchRequest)), &n);
  // A failed exchange may have left Summaries from an earlier page; none of
  // it is to be listed.
  if (count) *count = rc == 0 ? std::clamp(n, 0, int{kPageRows}) : 0;
  return rc;
}

int ReaderSource::ReadBlock(TNurvoDataBlock& data, uint32_t number) { return data.ReadCOMBlock(number); }

QString ReaderSource::Label() const { return QStringLiteral("Serial port"); }

QString ReaderSource::Hint() const { return QString(); }

QString ReaderSource::SkimContext(int code) const { return QStringLiteral("SkimCOM(): %1").arg(code); }

QString ReaderSource::ReadContext(const QString& row, int code) const {
  return QStringLiteral("ReadCOMBlock(): BlockIndex: %1: %2").arg(row).arg(code);
}

}  // namespace quelm
