#include "link/Frame.h"

#include <array>
#include <cstring>

#include "base/ErrorCodes.h"

namespace {

constexpr std::array<uint16_t, 256> makeCrcTable() {
  std::array<uint16_t, 256> t{};
  for (int i = 0; i < 256; ++i) {
    uint16_t c = static_cast<uint16_t>(i);
    for (int b = 0; b < 8; ++b)
      c = (c & 1) ? static_cast<uint16_t>((c >> 1) ^ 0xA001) : static_cast<uint16_t>(c >> 1);
    t[i] = c;
  }
  return t;
}
constexpr std::array<uint16_t, 256> kCrcTable = makeCrcTable();

}  // namespace

uint16_t FrameCRC16(const uint8_t* bytes, int count) {
  uint16_t crc = 0xFFFF;
  for (int i = 0; i < count; ++i)
    crc = static_cast<uint16_t>((crc >> 8) ^ kCrcTable[(crc ^ bytes[i]) & 0xFF]);
  return static_cast<uint16_t>(crc ^ 0xFFFF);
}

namespace quelm {

int BuildFrame(uint8_t* out, uint8_t control, const uint8_t* payload, int length) {
  const int total = length + kFrameOverhead;
  out[0] = kSync0;
  out[1] = kSync1;
  out[2] = kSync2;
  out[3] = static_cast<uint8_t>(total & 0xFF);
  out[4] = static_cast<uint8_t>(total >> 8);
  out[5] = control;
  if (length > 0) std::memmove(out + 6, payload, static_cast<size_t>(length));
  const uint16_t crc = FrameCRC16(out, length + 6);
  out[length + 6] = static_cast<uint8_t>(crc >> 8);
  out[length + 7] = static_cast<uint8_t>(crc & 0xFF);
  return total;
}

namespace {

AssemblyResult appendBatch(uint8_t* frame, uint16_t& count, const uint8_t* data, uint32_t size, bool bounded,
                           AssemblyResult r) {
  if (size == 0) return r;
  // A reply can never fill the whole buffer; a batch that would is noise.
  if (bounded && count + size >= static_cast<uint32_t>(kRcvFrameSize)) return r;
  // Loader mode has no such limit in its own rules, but the buffer still
  // has only kRcvFrameSize bytes.
  if (!bounded && count + size > static_cast<uint32_t>(kRcvFrameSize)) size = kRcvFrameSize - count;
  std::memcpy(frame + count, data, size);
  count = static_cast<uint16_t>(count + size);
  return r;
}

}  // namespace

AssemblyResult AssembleFrameBatch(uint8_t* frame, uint16_t& count, const uint8_t* data, uint32_t size) {
  AssemblyResult r;
  if (size == 0) return r;  // nothing arrived: nothing starts
  if (size > static_cast<uint32_t>(kRcvFrameSize)) {
    r.oversize = true;
    return r;
  }
  if (count == 0) {
    // Only a reply that begins restarts the time-out: bytes without a sync
    // (a wrong port's device talking on) would otherwise hold the wait
    // for ever.
    const auto* sync = static_cast<const uint8_t*>(std::memchr(data, kSync0, size));
    if (!sync) return r;
    r.restarted = true;
    size -= static_cast<uint32_t>(sync - data);
    data = sync;
  }
  return appendBatch(frame, count, data, size, true, r);
}

AssemblyResult AssembleLoaderBatch(uint8_t* frame, uint16_t& count, const uint8_t* data, uint32_t size) {
  AssemblyResult r;
  if (size == 0) return r;
  if (size > static_cast<uint32_t>(kRcvFrameSize)) {
    r.oversize = true;
    return r;
  }
  // A lead that ended the batch before is held alone; its reply goes on
  // here when this batch begins with the 'U', and is looked for afresh
  // otherwise.
  const bool leadHeld = count == 1 && frame[0] == kLoaderLead;
  if (leadHeld && data[0] == 'U') return appendBatch(frame, count, data, size, false, r);
  if (count == 0 || leadHeld) {
    count = 0;
    r.restarted = true;
    const auto* lead = static_cast<const uint8_t*>(std::memchr(data, kLoaderLead, size));
    if (!lead) return r;
    const auto* u = static_cast<const uint8_t*>(
        std::memchr(lead + 1, 'U', size - static_cast<uint32_t>(lead + 1 - data)));
    if (!u) {
      // A serial line may split a reply anywhere, also just after its lead.
      if (data[size - 1] == kLoaderLead) frame[count++] = kLoaderLead;
      return r;
    }
    // Taken from the byte just before the 'U' (the loader's 0x82 when the
    // reply is intact).
    const uint8_t* start = u - 1;
    size -= static_cast<uint32_t>(start - data);
    data = start;
  }
  return appendBatch(frame, count, data, size, false, r);
}

ReplyVerdict ClassifyReply(const uint8_t* frame, int count, int expected, bool information, uint8_t* payload,
                           int payloadLength, bool checkCrc) {
  ReplyVerdict v;
  // A frame shorter than sync, length, control and check sum cannot be
  // checked; it is a check-sum failure like any other damaged frame.
  if (checkCrc) {
    if (expected < kFrameOverhead || expected > count) {
      v.code = kErrChecksum;
      v.token = QStringLiteral("ERR_CRC");
      return v;
    }
    const uint16_t crc = FrameCRC16(frame, expected - 2);
    const uint16_t sent = static_cast<uint16_t>((frame[expected - 2] << 8) | frame[expected - 1]);
    if (crc != sent) {
      v.code = kErrChecksum;
      v.token = QStringLiteral("ERR_CRC");
      return v;
    }
  }
  if (count < 6) return v;  // only without the check (no port): nothing to classify
  const uint8_t control = frame[5];
  if (!isInformation(control)) {
    if (frameId(control) == kIdBusy) {
      v.code = kErrReaderBusy;
      v.token = QStringLiteral("ERR_BUSY");
    } else if (frameId(control) == kIdReject) {
      v.code = kErrFrameRejected;
      v.token = QStringLiteral("ERR_FRAMEREJECT");
    }
    return v;
  }
  if (frameId(control) != 0) return v;
  if (!information) {
    v.code = kErrNoRequestReply;
    return v;
  }
  // The letter and the busy mark are payload bytes; a frame too short to
  // carry them carries no letter at all.
  const int end = std::min(expected, count) - 2;
  const int letter = end > 6 ? frame[6] : 0;
  const int request = payloadLength > 1 ? payload[1] : -1;
  if (letter == request) return v;
  if (letter == 'P') {
    if (end > 8 && frame[8] == 'd') {
      v.code = kErrReaderBusy;
      return v;
    }
    if (payloadLength > 1) payload[1] = 'P';
    return v;
  }
  v.code = kErrUnknownCommand;
  v.token = QStringLiteral("ERR_UNKNOWNCMD: '%1'(d%1)").arg(letter);
  return v;
}

}  // namespace quelm
