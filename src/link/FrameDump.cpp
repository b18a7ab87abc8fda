#include "link/FrameDump.h"

namespace quelm {

QString DumpFrameBytes(const uint8_t* bytes, int count, bool indexed) {
  QString s;
  s.reserve(count * (indexed ? 8 : 3));
  for (int i = 0; i < count; ++i) {
    if (indexed)
      s += QStringLiteral(" (%1)%2").arg(i, 3, 10, QLatin1Char('0')).arg(bytes[i], 2, 16, QLatin1Char('0'));
    else
      s += QStringLiteral(" %1").arg(bytes[i], 2, 16, QLatin1Char('0'));
  }
  return s.toUpper();
}

FrameFields DecodeFrameFields(const uint8_t* buffer, int bufferSize, int frameEnd) {
  FrameFields f;
  const auto hex = [](uint8_t b) { return QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper(); };
  if (bufferSize >= 3) f.sync = hex(buffer[0]) + hex(buffer[1]) + hex(buffer[2]);
  if (bufferSize >= 5) f.length = QString::number(buffer[3] | (buffer[4] << 8));
  if (bufferSize >= 6) {
    const uint8_t c = buffer[5];
    f.si = QString::number(c >> 7);
    f.id = QString::number((c >> 4) & 0x07);
    f.seqNum = QString::number(c & 0x0F);
  }
  if (frameEnd >= 2 && frameEnd <= bufferSize) f.crc = hex(buffer[frameEnd - 2]) + hex(buffer[frameEnd - 1]);
  return f;
}

}  // namespace quelm
