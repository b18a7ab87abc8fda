#include "measurement/Download.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTemporaryFile>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>
#include <numeric>
#include <optional>

#include "base/DataFiles.h"
#include "base/Diag.h"
#include "base/ErrorCodes.h"
#include "base/IntConversion.h"
#include "link/CommandChannel.h"
#include "measurement/DataFileReader.h"
#include "measurement/NurvoDataBlock.h"
#include "measurement/TextList.h"

namespace quelm {
namespace {

constexpr char kNoAppend[] = "NOAPPEND";
const QString kSameFileMessage = QStringLiteral("Source and Download file name is equivalent");

DownloadResult message(DownloadResult::Kind kind, const QString& text) {
  DownloadResult r;
  r.kind = kind;
  r.message = text;
  return r;
}

DownloadResult codeResult(int code) {
  DownloadResult r;
  r.kind = DownloadResult::kFailure;
  r.code = code;
  return r;
}

// The whole number the operator typed; nothing (and the toolkit's
// conversion message) when it is none.
std::optional<long long> integerEntry(const QString& text, QString* error) {
  bool ok = false;
  const long long v = text.trimmed().toLongLong(&ok);
  if (ok) return v;
  if (error->isEmpty()) *error = notAnInteger(text);
  return std::nullopt;
}

// The source of a file download, read once: one open for the whole
// download (the reader keeps a file of up to 16 MiB in memory), the block
// number of every whole record indexed as it is read.
class SourceData {
 public:
  int open(const QString& name) {
    if (const int rc = reader_.open(name)) return rc;
    const uint64_t size = reader_.size();
    if (const int error = reader_.readError()) return noteFileFailure(kErrFileRead, name, error);
    tail_ = size % kBlockSize;
    numbers_.resize(static_cast<size_t>(size / kBlockSize));
    for (size_t k = 0; k < numbers_.size(); ++k)
      if (!reader_.readAt(uint64_t{k} * kBlockSize + 1, &numbers_[k], sizeof numbers_[k]))
        return noteFileFailure(kErrFileRead, name, QStringLiteral("it became shorter while it was read"));
    return 0;
  }
  // Whole records, and the bytes of a cut-off record after them.
  int records() const { return static_cast<int>(std::min<size_t>(numbers_.size(), INT_MAX)); }
  uint64_t tail() const { return tail_; }
  // As SkimFile counts them: a cut-off record counts, its number is the newest.
  uint32_t validBlocks() const { return static_cast<uint32_t>(records() + (tail_ > 0)); }
  uint32_t lastBlock() {
    uint16_t last = 0;
    if (tail_ >= 3)
      reader_.readAt(numbers_.size() * uint64_t{kBlockSize} + 1, &last, sizeof last);
    else if (!numbers_.empty())
      last = numbers_.back();
    return last;
  }
  int number(int k) const { return numbers_[static_cast<size_t>(k)]; }
  bool read(int k, BlockRecord* record) {
    return reader_.readAt(uint64_t(k) * kBlockSize, record, sizeof *record);
  }

 private:
  DataFileReader reader_;
  std::vector<uint16_t> numbers_;
  uint64_t tail_ = 0;
};

// Which records of the source a file download copies, in the order it
// copies them, or why it copies none.
struct FilePlan {
  std::vector<int> records;
  int missing = -1;  // a range's number the file lacks: the download stops there
  QString refusal;   // set: nothing is copied (-214, this the reason)
};

// Every record in file order; refused when one could not come from a reader.
FilePlan wholeFilePlan(const SourceData& source) {
  FilePlan plan;
  for (int k = 0; k < source.records(); ++k)
    if (source.number(k) >= kBlocksInReader) {
      plan.refusal = QStringLiteral("record %1 is numbered %2; a reader numbers its blocks 0 to %3")
                         .arg(k)
                         .arg(source.number(k))
                         .arg(kBlocksInReader - 1);
      return plan;
    }
  if (source.tail() > 0) {
    plan.refusal = CutOffRecordText(source.tail(), static_cast<uint64_t>(source.records()));
    return plan;
  }
  plan.records.resize(static_cast<size_t>(source.records()));
  std::iota(plan.records.begin(), plan.records.end(), 0);
  return plan;
}

// The blocks from..to, one per number as a reader holds them; the walk ends
// at the first number the file lacks.
FilePlan rangePlan(const SourceData& source, int from, int to) {
  FilePlan plan;
  std::vector<std::vector<int>> where(kBlocksInReader);
  for (int k = 0; k < source.records(); ++k)
    if (source.number(k) < kBlocksInReader) where[static_cast<size_t>(source.number(k))].push_back(k);
  const int count = DownloadBlockCount(from, to);
  // A number held twice is refused wherever it lies in the range: which copy
  // is meant cannot be told, and copying the first would pass the older one
  // off as the block of that number.
  for (int i = 0; i < count; ++i) {
    const int n = (from + i) % kBlocksInReader;
    const std::vector<int>& held = where[static_cast<size_t>(n)];
    if (held.size() > 1) {
      QStringList at;
      for (size_t j = 0; j < held.size() && j < 3; ++j) at << QString::number(held[j]);
      if (held.size() > 3) at << QStringLiteral("...");
      plan.refusal = QStringLiteral(
                         "it holds block %1 %2 times (records %3); a range names one block per number: "
                         "copy the whole file")
                         .arg(n)
                         .arg(held.size())
                         .arg(at.join(QStringLiteral(", ")));
      return plan;
    }
  }
  for (int i = 0; i < count; ++i) {
    const int n = (from + i) % kBlocksInReader;
    const std::vector<int>& held = where[static_cast<size_t>(n)];
    if (held.empty()) {
      plan.missing = n;
      break;
    }
    plan.records.push_back(held.front());
  }
  return plan;
}

}  // namespace

void ShowDownloadResult(const DownloadResult& r) {
  switch (r.kind) {
    case DownloadResult::kNone:
      return;
    case DownloadResult::kFailure:
      ReportError(r.code);
      return;
    case DownloadResult::kRefused:
      showMessage(MessageKind::Error, QString(), r.message);
      return;
    case DownloadResult::kCompleted:
    case DownloadResult::kAborted:
    case DownloadResult::kNothingToDo:
      showMessage(MessageKind::Plain, QString(), r.message);
      return;
  }
}

int DownloadBlockCount(int from, int to) {
  return ((to - from) % kBlocksInReader + kBlocksInReader) % kBlocksInReader + 1;
}

BlockRange CorrectDownloadRange(long long from, long long to, uint32_t lastBlock, uint32_t validBlocks) {
  const long long last = lastBlock;
  const long long held = std::min<long long>(validBlocks, kBlocksInReader);
  const long long oldest = ((last + 1 - held) % kBlocksInReader + kBlocksInReader) % kBlocksInReader;
  // Numbers after the newest block that the source still holds from before
  // its numbering wrapped to 0.
  const auto beforeWrap = [&](long long n) {
    return held > 0 && oldest > last && n >= oldest && n < kBlocksInReader;
  };
  const auto inPlain = [&](long long n) { return n >= 0 && n <= last; };
  BlockRange r{0, static_cast<int>(last)};
  if (inPlain(from) || beforeWrap(from)) r.from = static_cast<int>(from);
  if (inPlain(to) || (beforeWrap(to) && beforeWrap(from) && from <= to)) r.to = static_cast<int>(to);
  if (r.from > r.to && inPlain(r.from)) r.from = 0;
  return r;
}

BlockRange DateDownloadRange(uint32_t byDate, uint32_t lastBlock, uint32_t validBlocks) {
  const BlockRange held = CorrectDownloadRange(byDate, lastBlock, lastBlock, validBlocks);
  return held.from == static_cast<long long>(byDate) ? held : BlockRange{held.to, held.to};
}

QString ChangeFileExt(const QString& name, const QString& ext) {
  const int dot = name.lastIndexOf(QLatin1Char('.'));
  const int slash = name.lastIndexOf(QLatin1Char('/'));
  return (dot > slash ? name.left(dot) : name) + ext;
}

// ---------------------------------------------------------------------------

DownloadJob::DownloadJob() {
  TraceLine trace(QStringLiteral("TDownLoadForm::TDownLoadForm(): "));
  block_.reset(new (std::nothrow) TNurvoDataBlock(nullptr));
  // Without its data object every operation returns kErrNew, for the front
  // end to report when the operator first asks for one.
  if (!block_) trace.fail(QStringLiteral("ERR_NEW"));
  SetStorageName(QString());
  disableAll();
  showRange(1, 1);
  trace.ok();
}

DownloadJob::~DownloadJob() = default;

void DownloadJob::changed() {
  if (onChanged) onChanged();
}

void DownloadJob::disableAll() {
  DownloadControls& c = state_.controls;
  c.sourceName = false;
  c.range = false;
  c.rangeGrey = true;  // greyed like the dates: nothing is chosen yet
  c.date = false;
  c.start = false;
  c.abort = false;
  state_.gaugeMax = 65535;
  state_.gaugeProgress = 0;
}

void DownloadJob::showRange(long long from, long long to) {
  state_.fromText = QString::number(from);
  state_.toText = QString::number(to);
}

DownloadResult DownloadJob::failure(int code) {
  changed();
  DownloadResult r;
  r.kind = DownloadResult::kFailure;
  r.code = code;
  return r;
}

void DownloadJob::ChooseReader() {
  if (state_.running) return;
  disableAll();
  DownloadControls& c = state_.controls;
  c.typeList = c.sourceChoice = c.storage = true;
  c.sourceName = false;
  state_.source = DownloadSource::Reader;
  changed();
}

void DownloadJob::ChooseFile() {
  if (state_.running) return;
  DownloadControls& c = state_.controls;
  c.date = false;
  c.typeList = false;
  c.sourceName = true;
  // The reader's range and Start do not apply to a file that is not read yet.
  c.range = false;
  c.rangeGrey = false;
  c.start = false;
  state_.source = DownloadSource::File;
  changed();
}

DownloadResult DownloadJob::SelectType(int type) {
  if (state_.running || type < kDownloadNotSelected || type > kDownloadByDate) return {};
  if (!block_) return failure(kErrNew);
  TraceLine trace(QStringLiteral("TDownLoadForm::DownLoadTypeComboBoxChange(): "));
  LineHold line;
  TNurvoDataBlock& b = *block_;
  DownloadControls& c = state_.controls;
  state_.type = type;
  long long from = 1, to = 1;

  if (type != kDownloadNotSelected && !(DiagFlags & kDiagNoPort)) {
    // ".F#" answering 0 for a reader that holds blocks: no newest block
    // number, and no end for a loop that would run towards it.
    if (const std::optional<DownloadResult> refused =
            skimRefusal(b.SkimCOM(), kErrUnknownCommand, [this] { disableAll(); }))
      return *refused;
  }

  switch (type) {
    case kDownloadNotSelected:
      disableAll();
      trace << QStringLiteral("Not selected");
      break;
    case kDownloadUnsaved:
      c.start = true;
      c.range = false;
      c.rangeGrey = false;
      c.date = false;
      if (const int rc = b.GetLastUnsavedCOMBlock()) {
        disableAll();
        return failure(rc);
      }
      if (b.LastUnsaved == 0xFFFF) {
        state_.type = kDownloadNotSelected;
        disableAll();
        showRange(1, 1);
        trace << QStringLiteral("NO UNSAVED BLOCK");
        LogTrace(trace.text());
        changed();
        return message(DownloadResult::kNothingToDo, QStringLiteral("There are no unsaved blocks"));
      }
      to = b.LastBlock;
      from = b.LastUnsaved;
      break;
    case kDownloadByNumber:
      c.start = true;
      c.range = true;
      c.rangeGrey = false;
      c.date = false;
      to = b.LastBlock;
      // Negative once the memory has wrapped; Start corrects it.
      from = static_cast<long long>(b.LastBlock) - b.ValidBlocks + 1;
      break;
    case kDownloadByDate:
      c.start = true;
      c.date = true;
      c.range = false;
      c.rangeGrey = true;
      from = 1;
      to = b.ValidBlocks;  // shown only; Start replaces both
      break;
  }
  if (type != kDownloadNotSelected) trace << QStringLiteral("Idx:%1").arg(type);
  trace.ok();
  presetFrom_ = from;
  presetTo_ = to;
  showRange(from, to);
  changed();
  return {};
}

std::optional<DownloadResult> DownloadJob::skimRefusal(int rc, int beyondMemory,
                                                       const std::function<void()>& unusable) {
  if (rc) {
    unusable();
    return failure(rc);
  }
  if (block_->ValidBlocks == 0) {
    unusable();
    changed();
    return message(DownloadResult::kNothingToDo, QStringLiteral("No valid blocks"));
  }
  if (block_->LastBlock >= kBlocksInReader) {
    unusable();
    return failure(beyondMemory);
  }
  return std::nullopt;
}

DownloadResult DownloadJob::SkimSource(const QString& name) {
  if (state_.running) return {};
  if (!block_) return failure(kErrNew);
  DownloadControls& c = state_.controls;
  state_.sourceName = name;
  const auto unusable = [&] {
    c.range = false;
    c.start = false;
  };
  // A last record numbered beyond 2047 is no block of a reader's memory.
  if (const std::optional<DownloadResult> refused =
          skimRefusal(block_->SkimFile(name), kErrSourceFile, unusable))
    return *refused;
  const TNurvoDataBlock& b = *block_;
  c.range = true;
  c.rangeGrey = false;
  c.start = true;
  const long long last = b.LastBlock;
  presetFrom_ = ((last + 1 - b.ValidBlocks) % kBlocksInReader + kBlocksInReader) % kBlocksInReader;
  presetTo_ = last;
  showRange(presetFrom_, presetTo_);
  changed();
  return {};
}

void DownloadJob::SetSourceName(const QString& text) {
  if (state_.running) return;
  state_.sourceName = text;
}

DownloadResult DownloadJob::BrowseSource(const QString& chosen) {
  if (state_.running) return {};
  state_.sourceName.clear();
  if (SameFile(chosen, state_.storageName)) {
    changed();
    return message(DownloadResult::kRefused, kSameFileMessage);
  }
  return SkimSource(chosen);
}

DownloadResult DownloadJob::BrowseStorage(const QString& chosen) {
  if (state_.running) return {};
  const QString name = ChangeFileExt(chosen, QStringLiteral(".dat"));
  if (state_.source == DownloadSource::File && SameFile(name, state_.sourceName))
    return message(DownloadResult::kRefused, kSameFileMessage);
  SetStorageName(name);
  return {};
}

void DownloadJob::SetStorageName(const QString& text) {
  if (state_.running) return;
  // The list names follow whether or not their box is checked: the window
  // shows the names a download with the box checked would write, never
  // those of an earlier storage file.
  state_.contentListName = ChangeFileExt(text, QStringLiteral(".lst"));
  state_.detailedTextName = ChangeFileExt(text, QStringLiteral(".txt"));
  state_.storageName = ChangeFileExt(text, QStringLiteral(".dat"));
  changed();
}

void DownloadJob::SetContentList(bool checked) {
  if (state_.running) return;
  state_.contentList = checked;
  if (checked) state_.contentListName = ChangeFileExt(state_.storageName, QStringLiteral(".lst"));
  changed();
}

void DownloadJob::SetDetailedText(bool checked) {
  if (state_.running) return;
  state_.detailedText = checked;
  if (checked) state_.detailedTextName = ChangeFileExt(state_.storageName, QStringLiteral(".txt"));
  changed();
}

void DownloadJob::SetRangeTexts(const QString& from, const QString& to) {
  if (state_.running) return;
  state_.fromText = from;
  state_.toText = to;
}

void DownloadJob::SetDateText(DateField field, const QString& text) {
  if (state_.running || field < 0 || field >= kDateFieldCount) return;
  state_.dateTexts[field] = text;
}

void DownloadJob::Activate(const QDate& today) {
  // The question window of a running Start hands the activation back; the
  // date that Start took must stay on show.
  if (state_.running) return;
  state_.dateTexts = {QString::number(today.year()), QStringLiteral("1"), QStringLiteral("1"),
                      QStringLiteral("0"), QStringLiteral("0")};
  changed();
}

void DownloadJob::Reset() {
  if (state_.running) return;
  ChooseReader();
  state_.controls.abort = false;
  state_.gaugeProgress = 0;
  state_.actualBlock.clear();
  state_.type = kDownloadNotSelected;
  disableAll();
  showRange(1, 1);
  changed();
}

void DownloadJob::RequestAbort() { abort_.request(); }

// ---------------------------------------------------------------------------
// Start

// What Start settles, step by step, before and during the block loop.
struct DownloadJob::StartPlan {
  bool fromFile = false;
  int type = kDownloadNotSelected;
  long long from = 0, to = 0;
  DateFields date{};
  // A file source: read once, the records it copies and in which order.
  SourceData source;
  FilePlan file;
  bool wholeFile = false;
  // The existing storage file's answer: Append+New's file, the append flag
  // of the first block.
  QString secondFile = QLatin1String(kNoAppend);
  int appendFlag = 1;
  int count = 0;
  // An overwritten storage file: the blocks go to this file beside it,
  // which replaces it once the download is complete and on the disk.
  std::unique_ptr<QTemporaryFile> scratch;
  QString replaced;  // the file the scratch file replaces (links followed)

  QString blockFile(const QString& storage) const { return scratch ? scratch->fileName() : storage; }

  int numberAt(int k) const {
    if (!fromFile) return static_cast<int>((from + k) % kBlocksInReader);
    return static_cast<size_t>(k) < file.records.size() ? source.number(file.records[static_cast<size_t>(k)])
                                                        : file.missing;
  }
};

int DownloadJob::createListFiles() {
  TNurvoDataBlock& b = *block_;
  if (state_.contentList) {
    state_.contentListName = ChangeFileExt(state_.storageName, QStringLiteral(".lst"));
    changed();
    if (const int rc = b.StartTextFile(state_.contentListName, kListTitle, 1)) return rc;
  }
  if (state_.detailedText) {
    state_.detailedTextName = ChangeFileExt(state_.storageName, QStringLiteral(".txt"));
    changed();
    if (const int rc = b.StartTextFile(state_.detailedTextName, kListTitle, 0)) return rc;
  }
  return 0;
}

DownloadResult DownloadJob::copyBlocks(StartPlan& plan, LineHold& line) {
  TNurvoDataBlock& b = *block_;
  const bool second = plan.secondFile != QLatin1String(kNoAppend);
  int appendFlag = plan.appendFlag;
  DownloadResult r;
  r.from = static_cast<int>(plan.from);
  r.to = static_cast<int>(plan.to);
  if (second) r.secondFile = plan.secondFile;
  const auto stop = [&r](int code) {
    r.kind = DownloadResult::kFailure;
    r.code = code;
    return r;
  };
  for (int k = 0; k < plan.count; ++k) {
    state_.gaugeProgress = k;
    state_.actualBlock = QString::number(plan.numberAt(k));
    changed();
    // The Abort button (and everything else the window shows) gets through
    // here; a command another window would send meanwhile does not.
    line.letEventsThrough();
    if (abort_.take()) {
      r.kind = DownloadResult::kAborted;
      r.message = QStringLiteral("User aborted");
      return r;
    }
    const int fetched =
        plan.fromFile ? fetchFileRecord(plan, k) : b.ReadCOMBlock(static_cast<uint32_t>(plan.numberAt(k)));
    if (fetched != 0) return stop(fetched);
    if (const int rc = b.WriteFileBlock(plan.blockFile(state_.storageName), appendFlag)) return stop(rc);
    appendFlag = 1;
    ++r.blocks;
    if (onBlockWritten) onBlockWritten(b.Record);
    if (second)
      if (const int rc = b.WriteFileBlock(plan.secondFile, 1)) return stop(rc);
    if (state_.contentList)
      if (const int rc = b.WriteFileHeader(state_.contentListName, 0)) return stop(rc);
    if (state_.detailedText) {
      const QString& txt = state_.detailedTextName;
      if (plan.fromFile) {
        b.DecodeChannels();
        if (const int rc = b.WriteBlockNumberLine(txt)) return stop(rc);
        if (const int rc = b.WriteValuesCsv(txt)) return stop(rc);
      } else {
        if (const int rc = b.WriteFileHeader(txt, 1)) return stop(rc);
        b.DecodeChannels();
        if (const int rc = b.WriteValuesList(txt)) return stop(rc);
      }
    }
  }
  state_.gaugeProgress = plan.count - 1;
  r.kind = DownloadResult::kCompleted;
  r.message = QStringLiteral("Process completed");
  return r;
}

DownloadResult DownloadJob::CheckFiles(const QString& secondFile) {
  std::vector<QString> names{state_.storageName};
  if (state_.contentList) names.push_back(ChangeFileExt(state_.storageName, QStringLiteral(".lst")));
  if (state_.detailedText) names.push_back(ChangeFileExt(state_.storageName, QStringLiteral(".txt")));
  if (!secondFile.isEmpty()) names.push_back(secondFile);
  for (const QString& name : names)
    if (fileKind(name) == FileKind::Other)
      return failure(noteFileFailure(kErrFileOpen, name, notRegularReason()));
  // Two outputs that are one file under two names (a list linked to the
  // storage file) would write lists into the blocks.
  for (size_t i = 1; i < names.size(); ++i)
    if (const int rc =
            refuseSameFile(names[i], QStringList(names.begin(), names.begin() + static_cast<qsizetype>(i))))
      return failure(rc);
  // A target that is the source would be truncated or grow while it is read.
  if (state_.source == DownloadSource::File)
    for (const QString& name : names)
      if (SameFile(state_.sourceName, name)) return message(DownloadResult::kRefused, kSameFileMessage);
  return {};
}

DownloadResult DownloadJob::Start() {
  if (state_.running || !state_.controls.start) return {};
  // A request made while nothing ran (Abort stays enabled after a file
  // download) belongs to no download.
  abort_.clear();
  TraceLine trace(QStringLiteral("TDownLoadForm::StartButtonClick(): "));
  if (!block_) {
    trace.fail(QStringLiteral("ERR_NEW"));
    return failure(kErrNew);
  }
  StartPlan plan;
  plan.fromFile = state_.source == DownloadSource::File;
  plan.type = state_.type;
  if (auto r = takeEntries(plan)) return *r;
  if (plan.fromFile)
    if (auto r = planFileCopy(plan)) return *r;
  if (DownloadResult r = CheckFiles(); r.kind != DownloadResult::kNone) return r;

  // From the first command to the acknowledgement no other program may get
  // in between: its commands could leave the reader elsewhere mid-download.
  LineHold line;
  state_.running = true;
  struct Running {
    DownloadState& s;
    ~Running() { s.running = false; }
  } running{state_};

  if (auto r = settleStorageFile(plan)) return *r;
  if (auto r = settleRange(plan, trace)) return endRun(*r);
  if (auto r = takeControlsForLoop(plan)) return *r;
  return finishRun(plan, copyBlocks(plan, line));
}

// Everything the operator entered is taken now, before anything is asked
// or written.
std::optional<DownloadResult> DownloadJob::takeEntries(StartPlan& plan) const {
  QString entryError;
  plan.from = presetFrom_;
  plan.to = presetTo_;
  if (plan.fromFile || plan.type == kDownloadByNumber) {
    const auto f = integerEntry(state_.fromText, &entryError);
    const auto t = integerEntry(state_.toText, &entryError);
    if (f && t) {
      plan.from = *f;
      plan.to = *t;
    }
  } else if (plan.type == kDownloadByDate) {
    // Checked whole, the calendar included: the reader is never asked for
    // 31 February.
    if (const auto fields = ParseDateFields(state_.dateTexts, kFirstEditYear, &entryError))
      plan.date = *fields;
  }
  if (!entryError.isEmpty()) return message(DownloadResult::kRefused, entryError);
  return std::nullopt;
}

// A file source is read once, here, and what it holds decides what is
// copied before anything is asked or written.
std::optional<DownloadResult> DownloadJob::planFileCopy(StartPlan& plan) {
  TNurvoDataBlock& b = *block_;
  plan.wholeFile = plan.from == presetFrom_ && plan.to == presetTo_;
  const QString& name = state_.sourceName;
  TraceLine read(QStringLiteral("TDownLoadForm::ReadSource(): filename=") + name + QStringLiteral(": "));
  if (const int rc = plan.source.open(name)) {
    read.fail(QLatin1String(rc == kErrFileOpen ? "ERR_FOPEN" : rc > 0 ? "ERR_FSEEK" : "ERR_FREAD"));
    return failure(rc);
  }
  b.Source = SourceFile;
  b.ValidBlocks = plan.source.validBlocks();
  b.LastBlock = plan.source.lastBlock();
  read.ok(QStringLiteral(" ValidBlocks=") + QString::number(b.ValidBlocks) + QStringLiteral(": "));
  if (plan.wholeFile) {
    plan.file = wholeFilePlan(plan.source);
  } else if (b.LastBlock >= kBlocksInReader) {
    plan.file.refusal = QStringLiteral("its last record is numbered %1; a reader numbers its blocks 0 to %2")
                            .arg(b.LastBlock)
                            .arg(kBlocksInReader - 1);
  } else {
    const BlockRange r = CorrectDownloadRange(plan.from, plan.to, b.LastBlock, b.ValidBlocks);
    plan.from = r.from;
    plan.to = r.to;
    plan.file = rangePlan(plan.source, r.from, r.to);
  }
  if (!plan.file.refusal.isEmpty()) {
    explainNextReport(kErrSourceFile, name + QStringLiteral(": ") + plan.file.refusal);
    return failure(kErrSourceFile);
  }
  if (plan.wholeFile) {
    if (plan.file.records.empty()) {
      changed();
      return message(DownloadResult::kNothingToDo, QStringLiteral("No valid blocks"));
    }
    plan.from = plan.source.number(plan.file.records.front());
    plan.to = plan.source.number(plan.file.records.back());
  }
  return std::nullopt;
}

// An existing storage file: appended to, overwritten, or appended to with
// every block also in a new numbered file, as the operator answers.
std::optional<DownloadResult> DownloadJob::settleStorageFile(StartPlan& plan) {
  if (!QFileInfo::exists(state_.storageName)) return std::nullopt;
  const int choice = askExistingFile ? askExistingFile(state_.storageName) : kChoiceCancel;
  if (choice != kChoiceAppend && choice != kChoiceOverwrite && choice != kChoiceAppendNew)
    return DownloadResult{};
  // Lists are written only alongside a new storage file.
  state_.contentList = false;
  state_.detailedText = false;
  if (choice == kChoiceOverwrite) {
    plan.appendFlag = 0;
    prepareScratch(plan);
  }
  if (choice == kChoiceAppendNew) {
    const QString base = state_.storageName.left(state_.storageName.size() - 4);
    for (int i = 1; i <= 999; ++i) {
      plan.secondFile = base + QString::number(i) + QStringLiteral(".dat");
      if (!QFileInfo::exists(plan.secondFile)) break;
    }
    if (DownloadResult r = CheckFiles(plan.secondFile); r.kind != DownloadResult::kNone) {
      changed();
      return r;
    }
  }
  changed();
  return std::nullopt;
}

// The blocks the download copies: the range typed, or from the reader's
// block of the date to its newest; nothing outside the memory.
std::optional<DownloadResult> DownloadJob::settleRange(StartPlan& plan, const TraceLine& trace) {
  TNurvoDataBlock& b = *block_;
  if (!plan.fromFile && plan.type == kDownloadByNumber) {
    const BlockRange r = CorrectDownloadRange(plan.from, plan.to, b.LastBlock, b.ValidBlocks);
    plan.from = r.from;
    plan.to = r.to;
  } else if (plan.type == kDownloadByDate) {
    const DateFields& d = plan.date;
    if (const int rc = b.GetDateCOMBlock(static_cast<uint8_t>(d[kYear] - 1900),
                                         static_cast<uint8_t>(d[kMonth]), static_cast<uint8_t>(d[kDay]),
                                         static_cast<uint8_t>(d[kHour]), static_cast<uint8_t>(d[kMinute])))
      return codeResult(rc);
    if (b.ByDate == 0)
      return message(DownloadResult::kNothingToDo, QStringLiteral("There is no such a required block"));
    const BlockRange r = DateDownloadRange(b.ByDate, b.LastBlock, b.ValidBlocks);
    plan.from = r.from;
    plan.to = r.to;
  }
  // No bound outside the memory ever reaches the loop: it could not end.
  if (plan.from < 0 || plan.from >= kBlocksInReader || plan.to < 0 || plan.to >= kBlocksInReader)
    return codeResult(plan.fromFile ? kErrSourceFile : kErrUnknownCommand);
  showRange(plan.from, plan.to);
  LogTrace(trace.text() + QStringLiteral("DownLoadType: %1 StartBlockIndex=%2 EndBlockIndex=%3")
                              .arg(plan.fromFile ? -1 : plan.type)
                              .arg(plan.from - 1)
                              .arg(plan.to - 1));
  plan.count = plan.wholeFile ? static_cast<int>(plan.file.records.size())
                              : DownloadBlockCount(static_cast<int>(plan.from), static_cast<int>(plan.to));
  return std::nullopt;
}

// While the loop runs only Abort is usable: a type, source, name or range
// changed mid-way would change what is downloaded and acknowledged. The
// lists are begun now.
std::optional<DownloadResult> DownloadJob::takeControlsForLoop(const StartPlan& plan) {
  state_.gaugeMax = plan.count - 1;
  state_.gaugeProgress = 0;
  beforeRun_ = state_.controls;
  state_.controls = DownloadControls{};
  state_.controls.sourceChoice = state_.controls.typeList = state_.controls.storage = false;
  state_.controls.abort = true;
  changed();
  if (const int rc = createListFiles()) {
    giveControlsBackWithoutStart();
    return failure(rc);
  }
  return std::nullopt;
}

// The controls as before the loop, but Start waits for a new choice (the
// window keeps its file choice) and Abort stays.
void DownloadJob::giveControlsBackWithoutStart() {
  state_.controls = beforeRun_;
  state_.controls.start = false;
  state_.controls.abort = true;
}

// The k-th planned record of the file source into the data object.
int DownloadJob::fetchFileRecord(StartPlan& plan, int k) {
  TNurvoDataBlock& b = *block_;
  TraceLine read(QStringLiteral("TDownLoadForm::ReadSourceBlock(): filename=") + state_.sourceName +
                 QStringLiteral(": "));
  if (static_cast<size_t>(k) >= plan.file.records.size()) {
    read.fail(QStringLiteral("ERR_NOBLOCK"));
    explainNextReport(kErrSourceFile,
                      state_.sourceName + QStringLiteral(": it holds no block %1").arg(plan.file.missing));
    return int{kErrSourceFile};
  }
  const int record = plan.file.records[static_cast<size_t>(k)];
  BlockRecord copy;
  if (!plan.source.read(record, &copy)) {
    read.fail(QStringLiteral("ERR_FREAD"));
    return noteFileFailure(kErrFileRead, state_.sourceName,
                           QStringLiteral("it became shorter while it was read"));
  }
  std::memcpy(&b.Record, &copy, sizeof copy);
  b.State = (b.State & ~uint32_t{Loaded | EvalEdited}) | Loaded;
  b.BlockIndex = static_cast<uint32_t>(plan.source.number(record));
  read.ok(QStringLiteral("record=%1 BlockIndex=%2: ").arg(record).arg(b.BlockIndex));
  return 0;
}

// The scratch file of an overwrite, beside the file it replaces. Where no
// file can be made there (a folder that refuses new files), the storage
// file itself is overwritten block by block, as it can be.
void DownloadJob::prepareScratch(StartPlan& plan) const {
  const QFileInfo info(state_.storageName);
  const QString target =
      info.canonicalFilePath().isEmpty() ? info.absoluteFilePath() : info.canonicalFilePath();
  auto scratch = std::make_unique<QTemporaryFile>(target + QStringLiteral(".XXXXXX"));
  if (!scratch->open()) return;
  // The new file keeps the old one's permissions.
  scratch->setPermissions(QFileInfo(target).permissions());
  scratch->close();
  plan.scratch = std::move(scratch);
  plan.replaced = target;
  plan.appendFlag = 1;
}

// The storage file (an overwrite's scratch file put in its place), the
// additional file and the lists flushed to the disk, with their folders'
// entries. The lists are written block by block beside the storage file
// and are part of what the reader is told is saved.
int DownloadJob::saveOutputs(StartPlan& plan) const {
  if (plan.scratch) {
    const QString scratch = plan.scratch->fileName();
    if (const int rc = syncDataFile(scratch)) return rc;
    if (std::rename(QFile::encodeName(scratch).constData(), QFile::encodeName(plan.replaced).constData()) !=
        0)
      return noteFileFailure(kErrFileClose, state_.storageName, errno);
    // Renamed away: nothing is left for the scratch file to remove.
    plan.scratch->setAutoRemove(false);
  }
  if (const int rc = syncDataFile(plan.scratch ? plan.replaced : state_.storageName)) return rc;
  if (plan.secondFile != QLatin1String(kNoAppend))
    if (const int rc = syncDataFile(plan.secondFile)) return rc;
  if (state_.contentList)
    if (const int rc = syncDataFile(state_.contentListName)) return rc;
  if (state_.detailedText)
    if (const int rc = syncDataFile(state_.detailedTextName)) return rc;
  return 0;
}

// After the loop: the reader is told which blocks are saved after a
// download of its unsaved ones, and the window gets its controls back.
DownloadResult DownloadJob::finishRun(StartPlan& plan, DownloadResult r) {
  // Nothing is told saved, nor reported completed, before it is on the
  // disk: the reader forgets acknowledged blocks.
  if (r.kind == DownloadResult::kCompleted) {
    if (const int rc = saveOutputs(plan)) {
      r.kind = DownloadResult::kFailure;
      r.code = rc;
      r.message.clear();
    } else {
      r.onDisk = true;
    }
  }
  // A scratch file not put in place is removed with the plan: the old file stays.
  r.storageUnchanged = plan.scratch && plan.scratch->autoRemove();
  if (!r.onDisk) return endRun(r);
  if (!plan.fromFile && plan.type == kDownloadUnsaved) {
    // A failed acknowledgement is reported as the failure it is, but the
    // result stays onDisk: the reader may have carried it out and offer
    // the blocks no more, so they are archived all the same.
    if (const int rc = block_->AckLastUnsavedCOMBlock(static_cast<uint32_t>(plan.to))) {
      r.kind = DownloadResult::kFailure;
      r.code = rc;
      r.message.clear();
      return endRun(r);
    }
    LogTrace(QStringLiteral("AckLastUnsavedCOMBlock(): ok"));
    r.acknowledged = true;
  }
  if (plan.fromFile) {
    giveControlsBackWithoutStart();
    changed();
  } else {
    state_.running = false;
    Reset();
  }
  LogTrace(QStringLiteral("DownLoad: COMPLETED: ok"));
  return r;
}

// A download that ended early or failed after the question: the window's
// state of a new start.
DownloadResult DownloadJob::endRun(const DownloadResult& r) {
  state_.running = false;
  Reset();
  return r;
}

}  // namespace quelm
