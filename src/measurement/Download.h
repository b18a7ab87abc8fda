#pragma once
// The download: copies measurement blocks from the reader or from another
// data file into a storage data file, with an optional content list and
// detailed text list, and tells the reader which blocks are saved after a
// download of its unsaved blocks. A completed download (its lists
// included) is flushed to the disk before it is reported or acknowledged
// (a failed flush is a failure, never acknowledged); an overwritten
// storage file is replaced only by a complete download, so one that fails
// or is aborted leaves it as it was.
//
// DownloadJob is the whole workflow and the state of the download window as
// plain data: the source and type, the range and date texts, the file names,
// the check boxes, the gauge and which controls may be used. The window and
// quelm-cli drive the same object: they set what the operator chose, call
// the operations, and paint (or print) the state and results. Decisions are
// inputs: the existing-file question is asked through a callback, an abort
// is requested with RequestAbort() while the block loop runs. The job shows
// nothing of its own: each operation returns a DownloadResult, which the
// window shows with ShowDownloadResult and the command line prints.

#include <QDate>
#include <QString>
#include <array>
#include <functional>
#include <memory>
#include <optional>

#include "base/AbortToken.h"
#include "base/DateText.h"
#include "base/Prompter.h"
#include "measurement/BlockRecord.h"

class TNurvoDataBlock;

namespace quelm {

class TraceLine;
class LineHold;

enum DownloadType : int {
  kDownloadNotSelected = 0,
  kDownloadUnsaved = 1,
  kDownloadByNumber = 2,
  kDownloadByDate = 3,
};
// The type list, in index order (blanks as the operator sees them).
inline constexpr const char* kDownloadTypeCaptions[] = {"Please select ", "  Unsaved Blocks",
                                                        "  by BlockNum   ", "  by Date       "};

enum class DownloadSource { Reader, File };

// The answer to "storage file exists", numbered as the question window's buttons.
enum ExistingFileChoice : int {
  kChoiceAppend = 0,
  kChoiceOverwrite = 1,
  kChoiceAppendNew = 2,
  kChoiceCancel = 3,
};

// Which controls of the window the operator may use.
struct DownloadControls {
  bool sourceChoice = true;  // Reader / File
  bool sourceName = false;   // source name and its Browse button
  bool typeList = true;
  bool storage = true;     // storage name, its Browse button and the two list check boxes
  bool range = false;      // block range edits
  bool rangeGrey = false;  // their numbers greyed (a by-date download replaces them)
  bool date = false;
  bool start = false;
  bool abort = false;
};

struct DownloadState {
  DownloadSource source = DownloadSource::Reader;
  int type = kDownloadNotSelected;
  QString sourceName = QStringLiteral("Source.dat");
  QString storageName = QStringLiteral(".dat");  // always ends in ".dat"
  QString contentListName;                       // storage name with ".lst"
  QString detailedTextName;                      // storage name with ".txt"
  bool contentList = true;                       // "Content List" checked
  bool detailedText = true;                      // "Detailed text list" checked
  QString fromText = QStringLiteral("0");
  QString toText = QStringLiteral("0");
  // The date edits (DateField order): Start takes them as ParseDateFields
  // does, with years from kFirstEditYear on.
  std::array<QString, kDateFieldCount> dateTexts;
  int gaugeMax = 65535;
  int gaugeProgress = 0;
  QString actualBlock;  // "Actual BlockNum:"
  DownloadControls controls;
  bool running = false;  // from Start until the download has ended
};

// What an operation ends with, for the front end to show.
struct DownloadResult {
  enum Kind {
    kNone,         // nothing to show
    kCompleted,    // "Process completed"
    kAborted,      // "User aborted"
    kNothingToDo,  // the reader or file has nothing to download (message)
    kRefused,      // the operator's entry cannot be used (message, error box)
    kFailure,      // an operation failed: code
  };
  Kind kind = kNone;
  int code = 0;
  QString message;
  // A download that ran: blocks written to the storage file, its range, the
  // additional file of Append+New, and whether the reader was told.
  int blocks = 0;
  int from = -1;
  int to = -1;
  QString secondFile;
  bool acknowledged = false;
  // Every planned block is written and the files are flushed to the disk:
  // the download is whole, whatever the acknowledgement that follows does
  // (kCompleted always is; a failed acknowledgement leaves kFailure, and the
  // reader may have carried it out all the same).
  bool onDisk = false;
  // An overwrite that did not complete: the storage file is as it was
  // before, and the blocks counted went to a scratch file that is gone
  // (never where no scratch file could be made and the file itself was
  // overwritten).
  bool storageUnchanged = false;
};

// Shows a result through the dialog seam: ReportError for a failure, a
// box with the message otherwise.
void ShowDownloadResult(const DownloadResult& result);

// Block numbers of a download From..To (inclusive; 0 follows 2047).
int DownloadBlockCount(int from, int to);

// The range the operator entered, corrected against a source whose newest
// block is lastBlock and that holds validBlocks blocks before it: a number
// outside 0..lastBlock becomes 0 (From) or lastBlock (To), except where the
// source's numbers have wrapped past 2047 and the number is one it holds,
// so that From > To downloads the wrapped range. A From after To within
// 0..lastBlock becomes 0 too: that range would run through numbers the
// source does not hold (or, in a full memory, from the newest blocks back
// to the oldest).
struct BlockRange {
  int from;
  int to;
};
BlockRange CorrectDownloadRange(long long from, long long to, uint32_t lastBlock, uint32_t validBlocks);
// The range of a download by date: from the reader's block of the date
// (byDate, not 0) to its newest. A block the reader holds from before its
// numbers wrapped starts a wrapped range; any other number after the newest
// block gives the newest block alone.
BlockRange DateDownloadRange(uint32_t byDate, uint32_t lastBlock, uint32_t validBlocks);

// "run" -> "run.dat", "a/b.x" -> "a/b.dat", "" -> ".dat".
QString ChangeFileExt(const QString& name, const QString& ext);

class DownloadJob {
 public:
  DownloadJob();
  ~DownloadJob();
  DownloadJob(const DownloadJob&) = delete;
  DownloadJob& operator=(const DownloadJob&) = delete;

  const DownloadState& State() const { return state_; }

  // Called whenever the state changed during an operation (progress of the
  // block loop included); the window repaints, the command line prints.
  std::function<void()> onChanged;
  // Told each record once it is in the storage file (a dose archive keeps
  // what a complete download wrote).
  std::function<void(const BlockRecord&)> onBlockWritten;
  // Asked when the storage file exists; returns an ExistingFileChoice.
  std::function<int(const QString& storageName)> askExistingFile;

  // --- Operator input (ignored while a download runs) ---------------------
  void ChooseReader();
  void ChooseFile();
  // Queries the reader and presets the range for the type.
  DownloadResult SelectType(int type);
  // Makes name the source and presets the range to everything it holds.
  DownloadResult SkimSource(const QString& name);
  // The source name as typed (Start reads that file).
  void SetSourceName(const QString& text);
  // A name chosen in the Browse dialogs.
  DownloadResult BrowseSource(const QString& chosen);
  DownloadResult BrowseStorage(const QString& chosen);
  // The storage name as typed: the list names follow, and the storage name
  // itself ends in ".dat".
  void SetStorageName(const QString& text);
  void SetContentList(bool checked);
  void SetDetailedText(bool checked);
  void SetRangeTexts(const QString& from, const QString& to);
  void SetDateText(DateField field, const QString& text);
  // The window became active: the date edits show 1 January of the year.
  void Activate(const QDate& today);
  // The window's state after a reader download, a failure or an abort.
  void Reset();

  // --- The download -------------------------------------------------------
  // From a data file, Start reads the source once. With the range the skim
  // preset (untouched), it copies every record of the file in file order,
  // however many there are and however often a number repeats (a data file
  // is a log of read-outs); it refuses, before writing anything, a file that
  // holds a record a reader could not have sent (numbered beyond 2047, or
  // cut off at the end). With a range typed, it copies the blocks From..To
  // as a download from the reader would, one block per number, and stops at
  // a number the file lacks (-214); a range over a number the file holds
  // more than once is refused (-214, the reason for the report's note).
  //
  // The files Start may write (the storage file and its checked lists) and
  // secondFile when given: each must be a plain file
  // or not exist yet (-107, noted with the name), and none may be the source
  // file, under whatever name (refused). Start asks it again; a front end
  // asks it before the reader is asked for anything.
  DownloadResult CheckFiles(const QString& secondFile = QString());
  DownloadResult Start();
  // Honoured before the next block; a request made while no download runs
  // is dropped when the next one starts.
  void RequestAbort();

 private:
  void changed();
  void disableAll();
  void showRange(long long from, long long to);
  DownloadResult failure(int code);
  // What a skim that returned `rc` leaves to do: its failure, nothing
  // without a valid block, or `beyondMemory` for a newest block past the
  // reader's memory, each after `unusable` greyed what cannot be used;
  // nothing when the blocks can be downloaded.
  std::optional<DownloadResult> skimRefusal(int rc, int beyondMemory, const std::function<void()>& unusable);
  int createListFiles();
  // Start's steps, in order; a step that returns a result ends the download with it.
  struct StartPlan;
  std::optional<DownloadResult> takeEntries(StartPlan& plan) const;
  std::optional<DownloadResult> planFileCopy(StartPlan& plan);
  std::optional<DownloadResult> settleStorageFile(StartPlan& plan);
  std::optional<DownloadResult> settleRange(StartPlan& plan, const TraceLine& trace);
  std::optional<DownloadResult> takeControlsForLoop(const StartPlan& plan);
  // The loop over the planned blocks on the held line; Abort is honoured
  // before each.
  DownloadResult copyBlocks(StartPlan& plan, LineHold& line);
  int fetchFileRecord(StartPlan& plan, int k);
  void prepareScratch(StartPlan& plan) const;
  int saveOutputs(StartPlan& plan) const;
  DownloadResult finishRun(StartPlan& plan, DownloadResult r);
  DownloadResult endRun(const DownloadResult& r);
  void giveControlsBackWithoutStart();

  DownloadState state_;
  std::unique_ptr<TNurvoDataBlock> block_;
  AbortToken abort_;
  // Controls as they were before the loop took them away.
  DownloadControls beforeRun_;
  // The range the last type selection or source skim preset (an unsaved
  // download keeps it; a file download with it untouched copies the whole
  // file).
  long long presetFrom_ = 1;
  long long presetTo_ = 1;
};

}  // namespace quelm
