#pragma once
// One measurement block in memory with the state of its source (a data file
// or the reader), its decoded values, a page of block summaries and the
// evaluation members of the detail view. Each window that works with blocks
// owns one.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "measurement/BlockRecord.h"

class QObject;
namespace quelm {
class DataFileReader;
}

// Bits of TNurvoDataBlock::State.
enum TNurvoState : uint32_t {
  Loaded = 0x01,            // a block record is present
  Busy = 0x10,              // a reader command is running
  EvalEdited = 0x20,        // the operator changed the evaluation window
  RangeFault = 0x40,        // an entry carried range code 5..15
  LeftMarkerDrag = 0x80,    // chart: left marker being dragged
  RightMarkerDrag = 0x100,  // chart: right marker being dragged
};

enum TNurvoSource : uint8_t { SourceNone = 0, SourceFile = 1, SourceReader = 2 };

class TNurvoDataBlock {
 public:
  explicit TNurvoDataBlock(QObject* owner);
  ~TNurvoDataBlock();
  TNurvoDataBlock(const TNurvoDataBlock&) = delete;
  TNurvoDataBlock& operator=(const TNurvoDataBlock&) = delete;

  BlockRecord Record;                 // the current block record
  BlockSummary Summaries[kPageRows];  // page table of the content list
  // The record each summary of a file page was read from: a file may hold a
  // number more than once (appended downloads), so a row is its record, not
  // its number. kNoRecord for the reader's pages.
  int64_t SummaryRecords[kPageRows];
  QObject* Owner;
  uint32_t State;
  QString FileName;       // data file in use; empty while the reader is the source
  std::FILE* FileHandle;  // open only during an operation; nullptr between operations
  uint8_t Source;         // TNurvoSource
  uint32_t ValidBlocks;
  uint32_t LastBlock;
  // Bytes of the cut-off last record SkimFile counted (0: the file ends
  // with a whole record); no block can be read from them.
  uint32_t CutOffBytes;
  uint32_t LastUnsaved;
  uint32_t ByDate;
  uint32_t BlockIndex;
  uint32_t Values[kRawValueCount];
  uint32_t Ranges[kRawValueCount];

  // Evaluation members of the detail view; the data operations never touch them.
  int32_t EvalStart = 0;
  int32_t EvalLength = 1;
  int32_t CursorPos = 0;
  int32_t PeakPos = 0;
  double NormFact = 0;

  // Data file. Each operation opens FileName (or the given name), works and
  // closes it again; results are 0 or a negative code, and a failed
  // positioning at the start of the file gives the system's error number.
  // Makes the file the source: ValidBlocks = record starts in it (a cut-off
  // last record counts), LastBlock = number of the last record, CutOffBytes.
  int SkimFile(const QString& name);
  // The first record with that number into Record; -214 when there is none.
  // With the record a row was listed from, that record as long as it still
  // carries the number (the file may have changed since it was listed).
  int ReadFileBlock(uint32_t number, int64_t record = kNoRecord);
  // Record as the file's only content (append 0) or at its end.
  int WriteFileBlock(const QString& name, int append);
  // RawValues into Values/Ranges; sets RangeFault for codes 5..15. Returns 106.
  int DecodeChannels();
  void StoreSummary(int slot);
  // Fills Summaries from StartBlock on, by number, date or dosimeter
  // (pageSize at most 20); -1 when the page ended at a missing block.
  // A page without criteria starts, given nextTo, at the record next to
  // that one in the request's direction rather than at the first record
  // numbered StartBlock (ValidBlocks backwards: the last record). Its steps
  // go round the records as round the reader's memory, a file holding more
  // records than the memory being one ring of all of them.
  int SearchFileBlocks(const SearchRequest& request, int pageSize, uint32_t upperLimit, uint32_t lowerLimit,
                       int* count, int64_t nextTo = kNoRecord);
  // Inside a file operation only: read by number (0, -1 not found, -109),
  // and step to the next or previous record with the 1 MiB wrap (0, -109).
  int FindFileBlock(uint32_t number);
  int ReadNextFileBlock();
  int ReadPrevFileBlock();
  static int CompareDateTime(const uint8_t a[5], const uint8_t b[5]);
  int MatchDate(const SearchRequest& request) const;
  int MatchDosimeter(const SearchRequest& request) const;

  // Reader (through CommandChannel(); -102 without one). Each returns 0 or
  // the link's code unchanged.
  int SkimCOM();
  int GetLastUnsavedCOMBlock();
  int AckLastUnsavedCOMBlock(uint32_t number);
  int GetDateCOMBlock(uint8_t year, uint8_t month, uint8_t day, uint8_t hour, uint8_t minute);
  int ReadCOMBlock(uint32_t number);
  int SearchCOMBlocks(const SearchRequest& request, int length, int* count);

  // Text lists (NurvoDataBlockText.cpp), from Record and the decoded
  // Values/Ranges as they stand; CR LF line ends, single-byte text. Each
  // returns 0, -107 (cannot open), -110 (a write failed), -111 (cannot close).
  // Replaces the file with the title block (column header on 1).
  int StartTextFile(const QString& name, const QByteArray& title, int columnHeader);
  int WriteListColumnHeader(std::FILE* file);
  // Appends the column header (on 1) and the record's list row.
  int WriteFileHeader(const QString& name, int columnHeader);
  int WriteBlockNumberLine(const QString& name);
  int WriteValuesList(const QString& name);
  int WriteValuesCsv(const QString& name);
  // The single-block export: title block with column header, row, values,
  // replacing the file only once all of it is written.
  int WriteBlockText(const QString& name);

  bool IsLoaded() const { return State & Loaded; }

 private:
  // The data file of the running file operation; FileHandle is its stream.
  std::unique_ptr<quelm::DataFileReader> file_;
  int openDataFile();
  void closeDataFile();
  // Reads the record at offset into Record and moves the stepping position
  // behind it; -109 (file closed) when the file does not hold it whole.
  int readRecordAt(uint64_t offset);
  // Index of the record last read into Record by a file operation.
  int64_t recordIndex_ = kNoRecord;
};
