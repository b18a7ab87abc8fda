#pragma once
// The frame dump of the frame monitor and the log: each byte " %02X", or
// " (%03d)%02X" (index, value) when indices are asked for, and the decoded
// header fields of a frame.

#include <QString>
#include <cstdint>

namespace quelm {

struct FrameFields {
  QString sync;    // three bytes "%02X" without separators
  QString length;  // "%d"
  QString si;      // bit 7 of the control byte
  QString id;      // bits 4-6
  QString seqNum;  // bits 0-3
  QString crc;     // the two check sum bytes "%02X" in frame order
};

struct FrameMonitorData {
  QString transmitDump;
  FrameFields transmit;
  QString receiveDump;
  FrameFields receive;
};

QString DumpFrameBytes(const uint8_t* bytes, int count, bool indexed);

// Fields of a frame whose check sum ends at frameEnd (its length). The
// header is taken from bytes 0..5 of buffer, which holds bufferSize bytes;
// fields that would lie outside it stay empty.
FrameFields DecodeFrameFields(const uint8_t* buffer, int bufferSize, int frameEnd);

}  // namespace quelm
