#include "evaluation/SearchCriteria.h"

#include <algorithm>
#include <cstring>

namespace quelm {

uint8_t SearchFlags(bool byNumber, bool byDate, bool byDosimeter) {
  return static_cast<uint8_t>((byNumber ? kSearchByNumber : 0) | (byDate ? kSearchByDate : 0) |
                              (byDosimeter ? kSearchByDosimeter : 0));
}

void SetSearchDosimeter(SearchRequest& request, const QString& key) {
  const QByteArray bytes = key.left(5).toLatin1();
  char id[5] = {0, 0, 0, 0, 0};
  std::memcpy(id, bytes.constData(), static_cast<size_t>(std::min<qsizetype>(bytes.size(), 5)));
  std::memcpy(request.Dosimeter, id, sizeof id);
}

std::optional<uint32_t> BlockFieldNumber(const QString& text) {
  if (text.isEmpty()) return std::nullopt;
  bool ok = false;
  const uint value = text.trimmed().toUInt(&ok, 10);
  return ok ? value : 0u;
}

QString BlockFieldError(const QString& text) {
  const QString t = text.trimmed();
  if (t.isEmpty()) return {};
  bool ok = false;
  const uint value = t.toUInt(&ok, 10);
  if (ok && value < static_cast<uint>(kBlocksInReader)) return {};
  return QStringLiteral("A block number is a whole number from 0 to %1, not \"%2\"")
      .arg(kBlocksInReader - 1)
      .arg(t);
}

bool BlockFieldKeyAccepted(QChar c) { return c <= QLatin1Char('9'); }

void InitialiseSearchRequest(SearchRequest& request, uint32_t lastBlock, const QDateTime& now) {
  request.StartBlock = static_cast<uint16_t>(lastBlock);
  request.FromBlock = 0;
  const QDate today = now.date();
  const QTime time = now.time();
  const uint8_t from[5] = {static_cast<uint8_t>(today.year() - 1900), 1, 1, 0, 0};
  const uint8_t to[5] = {static_cast<uint8_t>(today.year() - 1900), static_cast<uint8_t>(today.month()),
                         static_cast<uint8_t>(today.day()), static_cast<uint8_t>(time.hour()),
                         static_cast<uint8_t>(time.minute())};
  std::memcpy(request.DateFrom, from, 5);
  std::memcpy(request.DateTo, to, 5);
}

}  // namespace quelm
