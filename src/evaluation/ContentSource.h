#pragma once
// Where the blocks of the content list come from. The list asks its source
// for the block count and the newest number, for a page of summaries and for
// one block, and never needs to know whether a data file or the reader
// answers.

#include <QString>
#include <cstdint>
#include <memory>

#include "measurement/BlockRecord.h"

class TNurvoDataBlock;

namespace quelm {

class ContentSource {
 public:
  virtual ~ContentSource() = default;

  // An import of this source starts: whatever an earlier one left behind is
  // no concern of the new one.
  virtual void BeginImport() {}
  // Makes this the data object's source and counts it into ValidBlocks and
  // LastBlock. Clears the data object's record.
  virtual int Skim(TNurvoDataBlock& data) = 0;
  // What the last Skim left out of the count, as the note for a report of
  // kErrSourceFile; empty when it counted the whole source.
  virtual QString LeftOut() const { return QString(); }
  // A page of up to 20 summaries into data.Summaries, from request.StartBlock
  // in the request's direction; *count gets the number filled. A page that
  // ends early is no error for the list: it shows what was found, and the
  // result is 0. A negative result means the source could not be searched
  // (*count is 0 then and the page is not to be shown).
  virtual int SearchPage(TNurvoDataBlock& data, const SearchRequest& request, uint16_t upperLimit,
                         uint16_t lowerLimit, int* count) = 0;
  // The page next to a listed row's record (kNoRecord: a row without one),
  // for a source whose rows are records: a number may stand in it more than
  // once. Otherwise, and for a search with criteria, as SearchPage.
  virtual int SearchPageNextTo(TNurvoDataBlock& data, const SearchRequest& request, int64_t record,
                               uint16_t upperLimit, uint16_t lowerLimit, int* count) {
    (void)record;
    return SearchPage(data, request, upperLimit, lowerLimit, count);
  }
  // Reads one block into the data object's record.
  virtual int ReadBlock(TNurvoDataBlock& data, uint32_t number) = 0;
  // Reads the block of a listed row: the record it was listed from, where
  // the source has records; by its number otherwise.
  virtual int ReadRow(TNurvoDataBlock& data, uint32_t number, int64_t record) {
    (void)record;
    return ReadBlock(data, number);
  }

  // "Source:" and its hint.
  virtual QString Label() const = 0;
  virtual QString Hint() const = 0;
  // What failed, for the trace line of the operation that failed.
  virtual QString SkimContext(int code) const = 0;
  virtual QString ReadContext(const QString& row, int code) const = 0;
};

// A data file (".dat") as source. Its blocks are its whole records: a
// cut-off last record (a crash or a full disk while it was appended) is
// left out of the count, and LastBlock is the number of the last whole
// record, so that every list, page and search starts at the newest block
// that can be read. A block asked for by number that only the cut-off
// record carries is refused with kErrSourceFile and the cut as its note.
class DataFileSource final : public ContentSource {
 public:
  explicit DataFileSource(QString fileName);
  const QString& FileName() const { return fileName_; }

  int Skim(TNurvoDataBlock& data) override;
  // The file and its cut-off record, when it ends in one.
  QString LeftOut() const override { return leftOut_; }
  int SearchPage(TNurvoDataBlock& data, const SearchRequest& request, uint16_t upperLimit,
                 uint16_t lowerLimit, int* count) override;
  int SearchPageNextTo(TNurvoDataBlock& data, const SearchRequest& request, int64_t record,
                       uint16_t upperLimit, uint16_t lowerLimit, int* count) override;
  int ReadBlock(TNurvoDataBlock& data, uint32_t number) override;
  int ReadRow(TNurvoDataBlock& data, uint32_t number, int64_t record) override;
  QString Label() const override;
  QString Hint() const override;
  QString SkimContext(int code) const override;
  QString ReadContext(const QString& row, int code) const override;

 private:
  QString fileName_;
  QString leftOut_;
  int32_t cutNumber_ = -1;  // the number the cut-off record's bytes carry, -1: none
};

// The reader on the serial line as source. The reader itself pages and
// filters its memory: the request goes to it as it stands, and the list's
// paging limits are the reader's business.
class ReaderSource final : public ContentSource {
 public:
  // The link starts afresh with a reset frame.
  void BeginImport() override;
  int Skim(TNurvoDataBlock& data) override;
  int SearchPage(TNurvoDataBlock& data, const SearchRequest& request, uint16_t upperLimit,
                 uint16_t lowerLimit, int* count) override;
  int ReadBlock(TNurvoDataBlock& data, uint32_t number) override;
  QString Label() const override;
  QString Hint() const override;
  QString SkimContext(int code) const override;
  QString ReadContext(const QString& row, int code) const override;
};

}  // namespace quelm
