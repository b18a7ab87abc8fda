#include "measurement/NurvoDataBlock.h"

#include <sys/stat.h>
#include <unistd.h>
#include <QFile>
#include <algorithm>
#include <cstring>
#include <iterator>

#include "base/DataFiles.h"
#include "base/Diag.h"
#include "base/ErrorCodes.h"
#include "base/Prompter.h"
#include "link/ReaderCommand.h"
#include "measurement/DataFileReader.h"
#include "measurement/RangeCode.h"

namespace {

constexpr uint64_t kRecordBytes = sizeof(BlockRecord);
// The stepping operations treat a data file as the reader's 2048-block
// memory: forward from the end of record 2047 (1 MiB) wraps to record 0, and
// back from record 0 wraps to record 2047.
constexpr uint64_t kMemoryBytes = uint64_t{kBlocksInReader} * kRecordBytes;  // 1 048 576
constexpr uint64_t kLastRecordOffset = kMemoryBytes - kRecordBytes;          // 1 048 064
// A filtered search visits each block number at most once.
constexpr int kMaxSearchSteps = kBlocksInReader;

// A failure line without an operation prefix: the bare token, boxed and
// logged like any other failure.
void traceBareToken(const QString& token) {
  if (DiagFlags & quelm::kDiagBox) quelm::showMessage(quelm::MessageKind::Plain, QString(), token);
  LogTrace(token);
}

// ".G#": the block count, at most the whole memory.
const quelm::ReplyRule kU16Reply{
    .minData = 2, .belongs = [](const quelm::ReplyData& d) { return d.u16(0) <= kBlocksInReader; }};
// ".F#": the number after the newest block, at most 2048.
const quelm::ReplyRule kNextNumberReply = kU16Reply;

// ".K0#" and ".K1": a block number at data bytes 1..2, or the value that
// means "none" (byte 0 is not used).
quelm::ReplyRule blockAnswerReply(uint16_t none) {
  return {.minData = 3, .belongs = [none](const quelm::ReplyData& d) {
            return d.u16(1) == none || d.u16(1) < kBlocksInReader;
          }};
}

}  // namespace

TNurvoDataBlock::TNurvoDataBlock(QObject* owner)
    : Owner(owner),
      State(0),
      FileHandle(nullptr),
      Source(SourceNone),
      ValidBlocks(0),
      LastBlock(0),
      CutOffBytes(0),
      LastUnsaved(0),
      ByDate(0),
      BlockIndex(0) {
  quelm::TraceLine trace(QStringLiteral("TNurvoDataBlock::TNurvoDataBlock(): "));
  std::memset(&Record, 0, sizeof Record);
  std::memset(Summaries, 0, sizeof Summaries);
  std::fill(std::begin(SummaryRecords), std::end(SummaryRecords), kNoRecord);
  std::memset(Values, 0, sizeof Values);
  std::memset(Ranges, 0, sizeof Ranges);
  trace.ok();
}

TNurvoDataBlock::~TNurvoDataBlock() {
  quelm::TraceLine trace(QStringLiteral("TNurvoDataBlock::~TNurvoDataBlock(): "));
  closeDataFile();
  trace.ok();
}

// ---------------------------------------------------------------------------
// Data file

int TNurvoDataBlock::openDataFile() {
  closeDataFile();
  auto file = std::make_unique<quelm::DataFileReader>();
  const int rc = file->open(FileName);
  if (rc != 0) return rc;
  file_ = std::move(file);
  FileHandle = file_->stream();
  return 0;
}

void TNurvoDataBlock::closeDataFile() {
  if (file_) file_->close();
  file_.reset();
  FileHandle = nullptr;
}

int TNurvoDataBlock::SkimFile(const QString& name) {
  quelm::TraceLine trace(QStringLiteral("TNurvoDataBlock::SkimFile(): filename=") + name +
                         QStringLiteral(": "));
  std::memset(&Record, 0, sizeof Record);
  FileName = name;
  Source = SourceFile;
  ValidBlocks = 0;
  CutOffBytes = 0;
  BlockIndex = 0;

  const int rc = openDataFile();
  if (rc < 0) {
    trace.fail(QStringLiteral("ERR_FOPEN"));
    return quelm::kErrFileOpen;
  }
  if (rc > 0) {  // the file cannot be positioned: rc is the system's error number
    trace.fail(QStringLiteral("1:ERR_FSEEK"));
    return rc;
  }

  // A trailing partial record counts as a block; the contents play no part.
  const uint64_t size = file_->size();
  // A file that could not be read to its end is not the shorter file it
  // reads as.
  if (const int error = file_->readError()) {
    trace.fail(QStringLiteral("ERR_FREAD"));
    closeDataFile();
    return quelm::noteFileFailure(quelm::kErrFileRead, name, error);
  }
  ValidBlocks =
      static_cast<uint32_t>(std::min<uint64_t>((size + kRecordBytes - 1) / kRecordBytes, UINT32_MAX));
  if (ValidBlocks > 0) BlockIndex = ValidBlocks - 1;
  CutOffBytes = static_cast<uint32_t>(size % kRecordBytes);

  LastBlock = 0;
  uint16_t last;
  if (file_->readAt(kRecordBytes * BlockIndex + 1, &last, sizeof last)) LastBlock = last;

  trace.ok(QStringLiteral(" ValidBlocks=") + QString::number(ValidBlocks) + QStringLiteral(": "));
  closeDataFile();
  return 0;
}

int TNurvoDataBlock::ReadFileBlock(uint32_t number, int64_t record) {
  quelm::TraceLine trace(QStringLiteral("TNurvoDataBlock::ReadFileBlock(): FileName=") + FileName +
                         QStringLiteral(": "));
  std::memset(&Record, 0, sizeof Record);
  State &= ~uint32_t{Loaded | EvalEdited};
  Source = SourceFile;
  BlockIndex = number;

  const int rc = openDataFile();
  if (rc < 0) {
    trace.fail(QStringLiteral("ERR_FOPEN"));
    return quelm::kErrFileOpen;
  }
  // The listed record, unless it no longer carries the number.
  BlockRecord listed;
  const bool atRecord = rc == 0 && record >= 0 &&
                        file_->readAt(static_cast<uint64_t>(record) * kRecordBytes, &listed, sizeof listed) &&
                        listed.BlockNumber == number;
  // A file that cannot be positioned has no block to find.
  if (rc > 0 ||
      (atRecord ? readRecordAt(static_cast<uint64_t>(record) * kRecordBytes) : FindFileBlock(number)) != 0) {
    closeDataFile();
    return quelm::kErrSourceFile;
  }

  State |= Loaded;
  const int closed = file_->close();
  closeDataFile();
  if (closed != 0) {
    trace.fail(QStringLiteral("ERR_FCLOSE"));
    return quelm::kErrFileClose;
  }
  trace.ok(QStringLiteral("BlockIndex=") + QString::number(number) + QStringLiteral(": "));
  return 0;
}

int TNurvoDataBlock::FindFileBlock(uint32_t number) {
  if (!file_) return quelm::kErrBlockNotFound;
  const int64_t k = file_->findFirst(number);
  if (k < 0) {
    closeDataFile();
    return quelm::kErrBlockNotFound;
  }
  return readRecordAt(static_cast<uint64_t>(k) * kRecordBytes);
}

int TNurvoDataBlock::readRecordAt(uint64_t offset) {
  // Read into a scratch record: a failed read leaves the current record as
  // it was (cleared by ReadFileBlock, the last block read during a search).
  BlockRecord record;
  if (!file_->readAt(offset, &record, sizeof record)) {
    closeDataFile();
    return quelm::kErrFileRead;
  }
  std::memcpy(&Record, &record, sizeof Record);
  file_->position = offset + kRecordBytes;
  recordIndex_ = static_cast<int64_t>(offset / kRecordBytes);
  return 0;
}

int TNurvoDataBlock::ReadNextFileBlock() {
  if (!file_) return quelm::kErrFileRead;
  uint64_t offset = file_->position;
  if (offset >= kMemoryBytes) offset = 0;
  return readRecordAt(offset);
}

int TNurvoDataBlock::ReadPrevFileBlock() {
  if (!file_) return quelm::kErrFileRead;
  const uint64_t position = file_->position;
  return readRecordAt(position < 2 * kRecordBytes ? kLastRecordOffset : position - 2 * kRecordBytes);
}

int TNurvoDataBlock::WriteFileBlock(const QString& name, int append) {
  quelm::TraceLine trace(QStringLiteral("TNurvoDataBlock::WriteFileBlock(): filename=") + name +
                         QStringLiteral(": "));
  // A record that does not reach the disk whole is taken back out, so that a
  // full disk never leaves a partial record that would shift every block
  // appended after it.
  const int rc = quelm::writeDataFile(name, QByteArray(reinterpret_cast<const char*>(&Record), sizeof Record),
                                      append ? quelm::WriteMode::Append : quelm::WriteMode::Replace);
  if (rc != 0) {
    trace.fail(QLatin1String(rc == quelm::kErrFileOpen    ? "ERR_FOPEN"
                             : rc == quelm::kErrFileWrite ? "ERR_FWRITE"
                                                          : "ERR_FCLOSE"));
    return rc;
  }
  trace.ok(QStringLiteral("BlockIndex=") + QString::number(BlockIndex) + QStringLiteral(": "));
  return 0;
}

int TNurvoDataBlock::DecodeChannels() {
  for (int i = 0; i < kRawValueCount; ++i) {
    const RangeDecoded d = DecodeRangeWord(uint16_t{Record.RawValues[i]});
    Values[i] = d.value;
    if (d.valid)
      Ranges[i] = static_cast<uint32_t>(d.range);
    else
      State |= RangeFault;  // Ranges[i] keeps its previous content
  }
  return kRawValueCount;
}

void TNurvoDataBlock::StoreSummary(int slot) {
  if (slot < 0 || slot >= kPageRows) return;
  SummaryRecords[slot] = recordIndex_;
  const auto* r = reinterpret_cast<const uint8_t*>(&Record);
  auto* s = reinterpret_cast<uint8_t*>(&Summaries[slot]);
  // Bytes 0..7 and 9..21 mirror the record; byte 8 keeps what it held.
  std::memcpy(s, r, offsetof(BlockSummary, Reserved8));
  std::memcpy(s + offsetof(BlockSummary, DeviceID), r + offsetof(BlockRecord, DeviceID),
              offsetof(BlockSummary, MeasuredDose) - offsetof(BlockSummary, DeviceID));
  std::memcpy(s + offsetof(BlockSummary, MeasuredDose), r + offsetof(BlockRecord, MeasuredDose), 4);
  std::memcpy(s + offsetof(BlockSummary, Exposure), r + offsetof(BlockRecord, Exposure), 2);
}

int TNurvoDataBlock::CompareDateTime(const uint8_t a[5], const uint8_t b[5]) {
  for (int i = 0; i < 5; ++i)
    if (a[i] != b[i]) return a[i] > b[i] ? 1 : -1;
  return 0;
}

int TNurvoDataBlock::MatchDate(const SearchRequest& request) const {
  if (!(request.Flags & kSearchByDate)) return 0;
  return CompareDateTime(Record.DateTime, request.DateFrom) == 1 &&
                 CompareDateTime(Record.DateTime, request.DateTo) == -1
             ? 0
             : -1;
}

int TNurvoDataBlock::MatchDosimeter(const SearchRequest& request) const {
  if (!(request.Flags & kSearchByDosimeter)) return 0;
  return std::memcmp(Record.BulbID, request.Dosimeter, sizeof Record.BulbID) == 0 ? 0 : -1;
}

int TNurvoDataBlock::SearchFileBlocks(const SearchRequest& request, int pageSize, uint32_t upperLimit,
                                      uint32_t lowerLimit, int* count, int64_t nextTo) {
  int n = 0;
  auto finish = [&](int result) {
    closeDataFile();
    if (count) *count = n;
    return result;
  };
  pageSize = std::min(pageSize, int{kPageRows});  // Summaries has 20 slots

  Source = SourceFile;
  BlockIndex = request.StartBlock;
  std::fill(std::begin(SummaryRecords), std::end(SummaryRecords), kNoRecord);
  const int rc = openDataFile();
  if (rc < 0) {
    traceBareToken(QStringLiteral("ERR_FOPEN"));
    return finish(quelm::kErrFileOpen);
  }
  if (rc > 0) return finish(quelm::kErrBlockNotFound);  // cannot be positioned: the first lookup fails

  const uint8_t flags = request.Flags;
  const bool forward = flags & kSearchForward;
  if (flags & (kSearchByNumber | kSearchByDate | kSearchByDosimeter)) {
    const uint32_t limit = forward ? upperLimit : lowerLimit;
    for (int steps = 0;;) {
      if (FindFileBlock(BlockIndex) != 0) return finish(quelm::kErrBlockNotFound);
      if (n >= pageSize) return finish(0);
      if (MatchDosimeter(request) == 0 && MatchDate(request) == 0) StoreSummary(n++);
      if ((flags & kSearchByNumber) && BlockIndex == limit) return finish(0);
      if (forward)
        BlockIndex = BlockIndex >= kBlocksInReader - 1 ? 0 : BlockIndex + 1;
      else
        BlockIndex = BlockIndex == 0 ? kBlocksInReader - 1 : BlockIndex - 1;
      // Without this bound a date or dosimeter filter that matches fewer
      // blocks than a page would circle a file holding every number forever.
      if (++steps >= kMaxSearchSteps) return finish(0);
    }
  }

  if (nextTo >= 0) {
    // From record to record: the number of a row may stand in the file
    // more than once, and the first record with it need not be the row's.
    const auto ring = static_cast<int64_t>(std::max<uint64_t>(kBlocksInReader, file_->size() / kRecordBytes));
    for (int64_t k = nextTo;;) {
      if (forward)
        k = k + 1 >= ring ? 0 : k + 1;
      else
        k = k == 0 ? ring - 1 : k - 1;
      if (readRecordAt(static_cast<uint64_t>(k) * kRecordBytes) != 0) return finish(quelm::kErrBlockNotFound);
      if (n >= pageSize) return finish(0);
      StoreSummary(n++);
    }
  }
  for (;;) {
    const int read = n == 0 ? FindFileBlock(BlockIndex) : forward ? ReadNextFileBlock() : ReadPrevFileBlock();
    if (read != 0) return finish(quelm::kErrBlockNotFound);
    if (n >= pageSize) return finish(0);
    StoreSummary(n++);
  }
}

// ---------------------------------------------------------------------------
// Reader

int TNurvoDataBlock::SkimCOM() {
  quelm::TraceLine trace(QStringLiteral("TNurvoDataBlock::SkimCOM(): "));
  quelm::ReaderCommand cmd(&trace, &State, Busy);
  std::memset(&Record, 0, sizeof Record);
  FileName.clear();
  closeDataFile();
  Source = SourceReader;
  ValidBlocks = 0;

  uint8_t count[] = {'.', 'G', '#'};
  if (const int rc = cmd.run(count, sizeof count, kU16Reply)) return rc;
  ValidBlocks = cmd.reply().u16(0);
  if (DiagFlags & quelm::kDiagNoPort) ValidBlocks = 5;

  if (ValidBlocks != 0) {
    BlockIndex = ValidBlocks - 1;
    uint8_t newest[] = {'.', 'F', '#'};
    // The number after the newest block: 1..2048 (0 is passed on as the
    // reader's answer; the download refuses the bound it gives).
    if (const int rc = cmd.run(newest, sizeof newest, kNextNumberReply)) return rc;
    LastBlock = uint32_t{cmd.reply().u16(0)} - 1;
  }

  State |= Loaded;
  trace.ok(QStringLiteral("ValidBlocks=") + QString::number(ValidBlocks) + QStringLiteral(": "));
  return 0;
}

int TNurvoDataBlock::GetLastUnsavedCOMBlock() {
  quelm::TraceLine trace(QStringLiteral("TNurvoDataBlock::GetLastUnsavedCOMBlock(): "));
  quelm::ReaderCommand cmd(&trace, &State, Busy);
  FileName.clear();
  closeDataFile();
  Source = SourceReader;

  uint8_t payload[] = {'.', 'K', '0', '#'};
  // 0xFFFF: nothing unsaved.
  if (const int rc = cmd.run(payload, sizeof payload, blockAnswerReply(0xFFFF))) return rc;
  LastUnsaved = cmd.reply().u16(1);
  trace.ok(QStringLiteral("LastUnsaved=") + QString::number(LastUnsaved) +
           QStringLiteral(": (BlockIndex=LastUnsaved--): "));
  return 0;
}

int TNurvoDataBlock::AckLastUnsavedCOMBlock(uint32_t number) {
  quelm::TraceLine trace(QStringLiteral("TNurvoDataBlock::AckLastUnsavedCOMBlock(): "));
  quelm::ReaderCommand cmd(&trace, &State, Busy);
  LastUnsaved = number;

  uint8_t payload[] = {
      '.', 'K', '2', static_cast<uint8_t>(number & 0xFF), static_cast<uint8_t>((number >> 8) & 0xFF), '#'};
  if (const int rc = cmd.run(payload, sizeof payload)) return rc;
  trace.ok(QStringLiteral("LastUnsaved=") + QString::number(number) +
           QStringLiteral(": (BlockIndex=LastUnsaved--): "));
  return 0;
}

int TNurvoDataBlock::GetDateCOMBlock(uint8_t year, uint8_t month, uint8_t day, uint8_t hour, uint8_t minute) {
  quelm::TraceLine trace(QStringLiteral("TNurvoDataBlock::GetDateCOMBlock(): "));
  quelm::ReaderCommand cmd(&trace, &State, Busy);
  FileName.clear();
  closeDataFile();
  Source = SourceReader;

  uint8_t payload[] = {'.', 'K', '1', year, month, day, hour, minute, '#'};
  // 0: no such block.
  if (const int rc = cmd.run(payload, sizeof payload, blockAnswerReply(0))) return rc;
  ByDate = cmd.reply().u16(1);
  trace.ok(QStringLiteral("ByDate=") + QString::number(ByDate) + QStringLiteral(": (BlockIndex=ByDate--): "));
  return 0;
}

int TNurvoDataBlock::ReadCOMBlock(uint32_t number) {
  quelm::TraceLine trace(QStringLiteral("TNurvoDataBlock::ReadCOMBlock(): "));
  quelm::ReaderCommand cmd(&trace, &State, Busy);
  std::memset(&Record, 0, sizeof Record);
  State &= ~uint32_t{Loaded | EvalEdited};
  Source = SourceReader;
  BlockIndex = number;

  uint8_t payload[] = {'.', 'Y', static_cast<uint8_t>(number & 0xFF),
                       static_cast<uint8_t>((number >> 8) & 0xFF), '#'};
  // The record must be the one asked for: a reply that arrives for an
  // earlier request must never be stored as this block.
  const quelm::ReplyRule rule{.minData = int{sizeof(BlockRecord)},
                              .maxData = int{sizeof(BlockRecord)},
                              .belongs = [number](const quelm::ReplyData& data) {
                                return data.u16(offsetof(BlockRecord, BlockNumber)) == (number & 0xFFFF);
                              }};
  if (const int rc = cmd.run(payload, sizeof payload, rule)) return rc;
  // 511 bytes are taken: byte 511 stays 0 from the clearing, byte 0 is
  // forced to 0.
  auto* record = reinterpret_cast<uint8_t*>(&Record);
  cmd.reply().copy(0, record, sizeof Record - 1);
  record[0] = 0;

  State |= Loaded;
  trace.ok(QStringLiteral("BlockIndex=") + QString::number(number) + QStringLiteral(": "));
  return 0;
}

int TNurvoDataBlock::SearchCOMBlocks(const SearchRequest& request, int length, int* count) {
  if (count) *count = 0;
  // The payload never carries more than the request holds.
  length = std::clamp(length, 0, int{sizeof(SearchRequest)});
  uint8_t payload[sizeof(SearchRequest) + 4] = {'.', 'U'};
  std::memcpy(payload + 2, &request, static_cast<size_t>(length));
  payload[length + 2] = '#';

  quelm::ReaderCommand cmd(nullptr);
  // The reader's own page reply: without data it is an empty page, otherwise
  // the count (at most 20) and at least that many summaries, each of a block
  // that can exist.
  constexpr int kSummary = int{sizeof(BlockSummary)};
  const quelm::ReplyRule rule{
      .minData = 0,
      .maxData = 1 + int{sizeof Summaries},
      .belongs =
          [](const quelm::ReplyData& data) {
            if (data.size() == 0) return true;
            const int n = data.byte(0);
            if (n > kPageRows) return false;
            for (int i = 0; i < n; ++i)
              if (data.u16(1 + i * kSummary + int{offsetof(BlockSummary, BlockNumber)}) >= kBlocksInReader)
                return false;
            return true;
          },
      .needsReplyFrame = true,
      .dataNeeded =
          [](const quelm::ReplyData& data) { return data.size() == 0 ? 0 : 1 + data.byte(0) * kSummary; },
  };
  if (const int rc = cmd.run(payload, static_cast<uint16_t>(length + 3), rule)) return rc;
  const quelm::ReplyData& reply = cmd.reply();
  std::fill(std::begin(SummaryRecords), std::end(SummaryRecords), kNoRecord);
  if (reply.size() != 0) {
    if (count) *count = reply.byte(0);
    // The slots behind the count are never shown; what the reply does not
    // carry of them is cleared rather than left from an earlier page.
    reply.copy(1, reinterpret_cast<uint8_t*>(Summaries), sizeof Summaries);
  }
  State |= Loaded;
  return 0;
}
