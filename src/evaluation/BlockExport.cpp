#include "evaluation/BlockExport.h"

#include <cmath>
#include <cstring>

#include "base/DataFiles.h"
#include "base/ErrorCodes.h"
#include "measurement/NurvoDataBlock.h"

namespace quelm {

QString ProposedExportName(uint16_t blockNumber) { return QStringLiteral("Quelm%1.txt").arg(blockNumber); }

int ExportBlockText(const BlockRecord& record, const QString& name, const QString& dataFile) {
  if (SameFile(name, dataFile))
    return noteFileFailure(kErrFileOpen, name, QStringLiteral("the data file the block is read from"));
  TNurvoDataBlock block(nullptr);
  std::memcpy(&block.Record, &record, sizeof record);
  block.DecodeChannels();
  return block.WriteBlockText(name);
}

QRect FitPrintRect(const QSize& page, const QSize& window, int dpi) {
  const auto pixels = [dpi](int at600) { return static_cast<int>(std::lround(at600 * (dpi / 600.0))); };
  const int left = pixels(400), top = pixels(400);
  int right = page.width() - pixels(200), bottom = page.height() - pixels(200);
  if (dpi <= 0 || right <= left || bottom <= top || window.width() <= 0 || window.height() <= 0) return {};
  const float v = static_cast<float>(window.height()) / static_cast<float>(bottom - top);
  const float h = static_cast<float>(window.width()) / static_cast<float>(right - left);
  if (h > v)
    bottom = top + static_cast<int>(static_cast<float>(window.height()) / h);
  else
    right = left + static_cast<int>(static_cast<float>(window.width()) / v);
  return QRect(left, top, right - left, bottom - top);
}

}  // namespace quelm
