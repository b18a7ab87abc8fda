#pragma once
// A read-out as the dose archive keeps it: what is taken from the 512 bytes
// of a block record, what makes a record plausible as a read-out at all,
// and the rules of the dose of record. One home for the import, the check,
// the command line, the windows, the reports and the download's notice.
//
// The dose of record of a read-out is the reader's MeasuredDose: the dose
// the reader evaluated with its own calibration, the one every list of the
// program shows. The program's dose chain over the block's curve is kept
// beside it as "recomputed" and never replaces it by itself.

#include <QByteArray>
#include <QString>
#include <optional>
#include <vector>

#include "measurement/BlockRecord.h"

namespace quelm {

// What the archive keeps beside the record's bytes, all taken from them.
struct ReadoutFields {
  // Reader, block number, read-out time bytes and dosimeter, byte for
  // byte: a read-out archived twice has the same key. A read-out without a
  // time (block numbers wrap, so these four do not tell such read-outs
  // apart) adds the SHA-256 of its whole record: a byte-identical copy is
  // the same read-out, any other record one of its own.
  QByteArray key;
  QString deviceId;
  int blockNumber = 0;
  QString readoutTime;  // stored form; empty when the record holds none
  QString dosimeter;    // upper-case
  int errorCodes = 0;
  std::optional<double> measuredDose;  // the reader's, uSv: the dose of record
  std::optional<double> doseRate;      // the reader's, uSv/h
  std::optional<double> exposureH;     // none when the record stores none
  std::optional<double> recomputed;    // the program's dose chain, own window
};
ReadoutFields DecodeReadout(const BlockRecord& record);
ReadoutFields DecodeReadout(const QByteArray& record);  // 512 bytes

// A dosimeter as the archive writes it: trimmed, upper-case (ids are
// compared without regard to case).
QString NormalDosimeter(const QString& text);
// Why a dosimeter as typed is no dosimeter id (type letter A..Z and four
// printable characters, case aside); empty when it is one.
QString DosimeterIdError(const QString& text);

// Doses a reader can have evaluated, in uSv. A background-corrected
// reading may fall a little below zero; a dosimeter in personal
// monitoring reports well below 10 Sv and saturates long before 100 Sv.
// A single-precision float reaches 3.4e38, so these limits, not the
// record's type, tell a dose from bytes that are none.
inline constexpr double kMinDoseUsv = -1e6;   // -1 Sv
inline constexpr double kMaxDoseUsv = 1e8;    // 100 Sv
// The reader's dose rate is a dose over the exposure, which the record
// stores in steps of 0.1 h: at most ten times the dose per hour.
inline constexpr double kMinDoseRateUsvH = kMinDoseUsv * 10;
inline constexpr double kMaxDoseRateUsvH = kMaxDoseUsv * 10;
// The reader's clock counts from 1980.
inline constexpr int kFirstReadoutYear = 1980;

// Why the record is no read-out a reader made; empty when it is one. A
// dose that is not a number is no reason: the reader stores one when it
// could not evaluate, and such a read-out is kept for review.
QString ImplausibleReason(const BlockRecord& record);

// Why a read-out is on the review list, as bits.
enum ReviewReason : int {
  kReviewFlags = 0x01,       // error flags set
  kReviewNoDose = 0x02,      // no finite dose
  kReviewUnassigned = 0x04,  // no wear period of its dosimeter began at or before it
  kReviewConflict = 0x08,    // other bytes came under its key
  kReviewTolerance = 0x10,   // the program's dose differs from the reader's beyond the tolerance
  kReviewControl = 0x20,     // its batch's control dosimeters were out of their limits
  kReviewClock = 0x40,       // timed more than a day after it was archived: the reader's clock ran ahead
  kReviewClockBack = 0x80,  // timed more than a day before an earlier block of its reader: the clock ran back
};
// Whether a read-out timed `readoutTime` (the reader's "yyyy-MM-dd HH:mm")
// lies more than a day after `archivedAt` (UTC, ISO): a day more than any
// time zone puts a reader's clock ahead of the archive's, so only a wrong
// clock gives it, and such a time would silently attribute the dose to
// whoever wears the dosimeter then.
bool TimedAfterArchiving(const QString& readoutTime, const QString& archivedAt);
// One read-out of a reader as the clock check sees it.
struct ReaderBlock {
  QString readoutTime;  // stored form, never empty
  int blockNumber = 0;
};
// Which of one reader's read-outs (`blocks`, in order of their times) are
// timed more than a day before a block the reader measured earlier: the
// reader's clock was set back (a battery change, a wrong setting), and such
// a read-out would silently land in an earlier wear period. Indexes into
// `blocks`, ascending.
//
// A reader numbers its blocks in order on a ring that wraps to 0, so in
// order of time the numbers step forward; a step back by less than a
// quarter of the ring shows a clock that ran back among blocks of one
// round. A step back farther is taken as going forward: a ring gone round
// with read-outs missing from the archive, or a reader whose numbering
// started over, is no wrong clock, and no false alarm is raised for it.
// A day back is allowed as for the clock ahead: daylight saving and small
// corrections set a clock back by less.
std::vector<size_t> TimedBeforeEarlierBlocks(const std::vector<ReaderBlock>& blocks);
// "error flags, unassigned" (the reasons in bit order).
QString ReviewReasonText(int reasons);
// The reasons a read-out's own fields give (flags, no dose, and the
// recomputed dose beyond `tolerancePercent` of the reader's; no tolerance:
// never); unassigned and conflict are the archive's to add.
int RecordReviewReasons(int errorCodes, const std::optional<double>& measuredDose,
                        const std::optional<double>& recomputed, std::optional<double> tolerancePercent);

// How a person resolved a review item.
enum class Resolution { None, Accept, Reevaluate, Exclude };
// "accept", "reevaluate", "exclude" as the change log and lists name them.
QString ResolutionText(Resolution resolution);

// How a read-out counts in totals, alerts and reports.
enum class ReadoutStatus {
  Counted,         // its dose of record
  NegativeAsZero,  // a dose below zero is no dose
  ToReview,        // on the review list: flags (counted with the reader's dose), no finite dose, ...
  Unassigned,      // no wear period of its dosimeter began at or before it
  Accepted,        // reviewed: the reader's dose stands
  Reevaluated,     // reviewed: a re-evaluation is the dose of record
  Excluded,        // reviewed: counts nothing, stays listed
  Notional,        // no read-out: a dose entered by hand for a lost or damaged dosimeter
};
// "counted", "negative counted as 0", "to review", "unassigned",
// "accepted", "re-evaluated", "excluded", "notional"
QString StatusText(ReadoutStatus status);
// reasons: the review reasons it has now; covered: those its last
// resolution took care of.
ReadoutStatus StatusOf(const std::optional<double>& doseOfRecord, int reasons, int covered = 0,
                       Resolution resolution = Resolution::None);
// What the dose of record adds to a total: itself, 0 below zero, 0 when
// it is no finite number or the read-out is excluded.
double CountedDose(const std::optional<double>& doseOfRecord, Resolution resolution = Resolution::None);

}  // namespace quelm
