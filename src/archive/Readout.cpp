#include "archive/Readout.h"

#include <QCryptographicHash>
#include <QDate>
#include <QStringList>
#include <QTime>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "archive/ArchiveTime.h"
#include "evaluation/BlockFormat.h"
#include "evaluation/DoseChain.h"
#include "measurement/ErrorFlags.h"

namespace quelm {

namespace {

std::optional<double> finite(double v) { return std::isfinite(v) ? std::optional<double>(v) : std::nullopt; }

bool printable(char c) { return c >= 0x20 && c <= 0x7E; }

bool allZero(const uint8_t* bytes, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (bytes[i]) return false;
  return true;
}

// The read-out time the record holds, or nothing: with the clock flag the
// bytes mean nothing, and the reader writes zeros when it has no time.
std::optional<QDateTime> recordTime(const BlockRecord& r) {
  if (r.ErrorCodes & kClockFault) return std::nullopt;
  const QDate date(1900 + r.DateTime[0], r.DateTime[1], r.DateTime[2]);
  const QTime time(r.DateTime[3], r.DateTime[4]);
  if (!date.isValid() || !time.isValid()) return std::nullopt;
  return QDateTime(date, time, Qt::UTC);
}

QString shown(const char* id, int n) {
  QString s;
  for (int i = 0; i < n; ++i) {
    const auto c = static_cast<unsigned char>(id[i]);
    s += printable(static_cast<char>(c)) ? QString(QChar(c)) : QStringLiteral("\\x%1").arg(c, 2, 16, QLatin1Char('0'));
  }
  return s;
}

}  // namespace

QString NormalDosimeter(const QString& text) {
  // A reader keeps a shorter serial padded with blanks ("A001 "), and such a
  // read-out must be one a person can name: trailing blanks go only down to
  // the five characters every dosimeter has. "A001" stays too short rather
  // than naming that dosimeter by a slip.
  QString id = text.toUpper();
  qsizetype start = 0;
  while (start < id.size() && id[start].isSpace()) ++start;
  id.remove(0, start);
  while (id.size() > 5 && id.back().isSpace()) id.chop(1);
  return id;
}

QString DosimeterIdError(const QString& text) {
  const QString id = NormalDosimeter(text);
  bool ok = id.size() == 5 && id[0] >= QLatin1Char('A') && id[0] <= QLatin1Char('Z');
  for (int i = 1; ok && i < 5; ++i) ok = id[i].unicode() >= 0x20 && id[i].unicode() <= 0x7E;
  if (ok) return QString();
  return QStringLiteral("a dosimeter is its type letter A to Z and a serial of 4 characters, not \"%1\"")
      .arg(text);
}

ReadoutFields DecodeReadout(const BlockRecord& r) {
  ReadoutFields f;
  const char* bytes = reinterpret_cast<const char*>(&r);
  f.key.reserve(17 + 32);
  f.key.append(bytes + offsetof(BlockRecord, DeviceID), 5);
  f.key.append(bytes + offsetof(BlockRecord, BlockNumber), 2);
  f.key.append(bytes + offsetof(BlockRecord, DateTime), 5);
  f.key.append(bytes + offsetof(BlockRecord, BulbID), 5);
  f.deviceId = IdentifierText(r.DeviceID);
  f.blockNumber = uint16_t{r.BlockNumber};
  f.dosimeter = IdentifierText(r.BulbID).toUpper();
  f.errorCodes = r.ErrorCodes;
  if (const std::optional<QDateTime> time = recordTime(r))
    f.readoutTime = ArchiveTimeText(*time);
  else
    f.key.append(QCryptographicHash::hash(QByteArrayView(bytes, sizeof r), QCryptographicHash::Sha256));
  f.measuredDose = finite(float{r.MeasuredDose});
  f.doseRate = finite(float{r.DoseRate});
  const uint16_t exposure = r.Exposure;
  if (exposure != 0xFFFF) f.exposureH = exposure * 0.1;
  f.recomputed = BlockDose(r);
  return f;
}

ReadoutFields DecodeReadout(const QByteArray& bytes) {
  BlockRecord record{};
  std::memcpy(&record, bytes.constData(), std::min<size_t>(sizeof record, static_cast<size_t>(bytes.size())));
  return DecodeReadout(record);
}

QString ImplausibleReason(const BlockRecord& r) {
  if (!(r.BulbID[0] >= 'A' && r.BulbID[0] <= 'Z'))
    return QStringLiteral("the dosimeter \"%1\" does not begin with a type letter A to Z").arg(shown(r.BulbID, 5));
  for (int i = 1; i < 5; ++i)
    if (!printable(r.BulbID[i]))
      return QStringLiteral("the dosimeter \"%1\" holds a character that is no letter, digit or sign")
          .arg(shown(r.BulbID, 5));
  // A shorter reader id is padded with zero bytes.
  int n = 0;
  while (n < 5 && printable(r.DeviceID[n])) ++n;
  bool padded = n > 0;
  for (int i = n; padded && i < 5; ++i) padded = r.DeviceID[i] == 0;
  if (!padded) return QStringLiteral("the reader id \"%1\" is no text").arg(shown(r.DeviceID, 5));
  if (uint16_t{r.BlockNumber} >= kBlocksInReader)
    return QStringLiteral("block number %1 is beyond the reader's 0 to %2")
        .arg(uint16_t{r.BlockNumber})
        .arg(kBlocksInReader - 1);
  if (!(r.ErrorCodes & kClockFault) && !allZero(r.DateTime, 5)) {
    const std::optional<QDateTime> time = recordTime(r);
    if (!time)
      return QStringLiteral("the time bytes %1-%2-%3 %4:%5 are no date")
          .arg(1900 + r.DateTime[0])
          .arg(r.DateTime[1])
          .arg(r.DateTime[2])
          .arg(r.DateTime[3])
          .arg(r.DateTime[4]);
    if (time->date().year() < kFirstReadoutYear)
      return QStringLiteral("the time %1 lies before the reader's clock begins (%2)")
          .arg(ArchiveTimeText(*time))
          .arg(kFirstReadoutYear);
  }
  const auto outside = [](float v, double lo, double hi) { return std::isfinite(v) && (v < lo || v > hi); };
  if (outside(r.MeasuredDose, kMinDoseUsv, kMaxDoseUsv))
    return QStringLiteral("the dose %1 uSv is outside what a reader evaluates (-1 Sv to 100 Sv)")
        .arg(double{r.MeasuredDose}, 0, 'g', 6);
  if (outside(r.DoseRate, kMinDoseRateUsvH, kMaxDoseRateUsvH))
    return QStringLiteral("the dose rate %1 uSv/h is outside what a reader computes").arg(double{r.DoseRate}, 0, 'g', 6);
  return QString();
}

QString ReviewReasonText(int reasons) {
  static const std::pair<int, const char*> kTexts[] = {
      {kReviewFlags, "error flags"},
      {kReviewNoDose, "no dose"},
      {kReviewUnassigned, "unassigned"},
      {kReviewConflict, "conflict"},
      {kReviewTolerance, "recomputed dose differs"},
      {kReviewControl, "control dosimeters out of limits"},
      {kReviewClock, "timed after its import"},
      {kReviewClockBack, "timed before an earlier block"},
  };
  QStringList out;
  for (const auto& [bit, text] : kTexts)
    if (reasons & bit) out << QLatin1String(text);
  return out.join(QStringLiteral(", "));
}

int RecordReviewReasons(int errorCodes, const std::optional<double>& measured, const std::optional<double>& recomputed,
                        std::optional<double> tolerance) {
  int reasons = 0;
  if (errorCodes) reasons |= kReviewFlags;
  if (!measured) reasons |= kReviewNoDose;
  // Beyond the tolerance of the larger of the two: a reading near zero
  // differs by a large share of almost nothing.
  if (tolerance && measured && recomputed &&
      std::fabs(*recomputed - *measured) > *tolerance / 100.0 * std::max(std::fabs(*measured), std::fabs(*recomputed)))
    reasons |= kReviewTolerance;
  return reasons;
}

QString ResolutionText(Resolution r) {
  switch (r) {
    case Resolution::Accept:
      return QStringLiteral("accept");
    case Resolution::Reevaluate:
      return QStringLiteral("reevaluate");
    case Resolution::Exclude:
      return QStringLiteral("exclude");
    case Resolution::None:
      break;
  }
  return QString();
}

QString StatusText(ReadoutStatus status) {
  switch (status) {
    case ReadoutStatus::Counted:
      return QStringLiteral("counted");
    case ReadoutStatus::NegativeAsZero:
      return QStringLiteral("negative counted as 0");
    case ReadoutStatus::ToReview:
      return QStringLiteral("to review");
    case ReadoutStatus::Unassigned:
      return QStringLiteral("unassigned");
    case ReadoutStatus::Accepted:
      return QStringLiteral("accepted");
    case ReadoutStatus::Reevaluated:
      return QStringLiteral("re-evaluated");
    case ReadoutStatus::Excluded:
      return QStringLiteral("excluded");
    case ReadoutStatus::Notional:
      return QStringLiteral("notional");
  }
  return QString();
}

bool TimedAfterArchiving(const QString& readoutTime, const QString& archivedAt) {
  if (readoutTime.isEmpty()) return false;
  // The read-outs of one import share their moment: it is read once.
  thread_local QString lastArchivedAt, lastBound;
  if (archivedAt != lastArchivedAt) {
    const QDateTime at = QDateTime::fromString(archivedAt, Qt::ISODate);
    lastArchivedAt = archivedAt;
    lastBound = at.isValid() ? ArchiveTimeText(at.toUTC().addDays(1)) : QString();
  }
  return !lastBound.isEmpty() && readoutTime > lastBound;
}

std::vector<size_t> TimedBeforeEarlierBlocks(const std::vector<ReaderBlock>& blocks) {
  // Where each block stands in the reader's own order, counted from the
  // first in time: the numbers unwound from the ring.
  constexpr int kBackWithinRound = kBlocksInReader / 4;
  std::vector<std::pair<qint64, size_t>> order;
  order.reserve(blocks.size());
  qint64 position = 0;
  for (size_t i = 0; i < blocks.size(); ++i) {
    if (i) {
      int step = (blocks[i].blockNumber - blocks[i - 1].blockNumber + kBlocksInReader) % kBlocksInReader;
      // One number twice is a round apart: a round holds each number once.
      if (step == 0)
        step = kBlocksInReader;
      else if (step > kBlocksInReader - kBackWithinRound)
        step -= kBlocksInReader;
      position += step;
    }
    order.emplace_back(position, i);
  }
  std::sort(order.begin(), order.end());
  // In the reader's order, the latest time of the blocks before each one.
  std::vector<size_t> out;
  QString latest;
  for (size_t k = 0; k < order.size();) {
    size_t end = k;
    QString latestHere = latest;
    for (; end < order.size() && order[end].first == order[k].first; ++end) {
      const QString& time = blocks[order[end].second].readoutTime;
      // Text compares as the time does; only a candidate's day is computed.
      if (!latest.isEmpty() && time < latest)
        if (const std::optional<QDateTime> t = ParseArchiveTime(time, false);
            t && ArchiveTimeText(t->addDays(1)) < latest)
          out.push_back(order[end].second);
      latestHere = std::max(latestHere, time);
    }
    latest = latestHere;
    k = end;
  }
  std::sort(out.begin(), out.end());
  return out;
}

ReadoutStatus StatusOf(const std::optional<double>& dose, int reasons, int covered, Resolution resolution) {
  const int open = reasons & ~covered;
  if (open & kReviewUnassigned) return ReadoutStatus::Unassigned;
  if (open) return ReadoutStatus::ToReview;
  switch (resolution) {
    case Resolution::Exclude:
      return ReadoutStatus::Excluded;
    case Resolution::Reevaluate:
      return ReadoutStatus::Reevaluated;
    case Resolution::Accept:
      return ReadoutStatus::Accepted;
    case Resolution::None:
      break;
  }
  if (!dose) return ReadoutStatus::ToReview;
  return *dose < 0 ? ReadoutStatus::NegativeAsZero : ReadoutStatus::Counted;
}

double CountedDose(const std::optional<double>& dose, Resolution resolution) {
  return resolution != Resolution::Exclude && dose && *dose > 0 ? *dose : 0.0;
}

}  // namespace quelm
