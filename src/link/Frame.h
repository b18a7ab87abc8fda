#pragma once
// The reader's frame format as plain functions over byte buffers:
//   A1 16 FC | Length u16 LE (payload + 8) | Control | Payload | CRC-16 (MSB first)
// Control: bit 7 information (1) / supervisory (0), bits 4-6 ID, bits 0-3 SeqNum.

#include <QString>
#include <cstdint>

namespace quelm {

inline constexpr uint8_t kSync0 = 0xA1;
inline constexpr uint8_t kSync1 = 0x16;
inline constexpr uint8_t kSync2 = 0xFC;
inline constexpr int kFrameOverhead = 8;
inline constexpr int kRcvFrameSize = 1024;
inline constexpr int kTrmFrameSize = 151;
inline constexpr int kMaxPayload = kTrmFrameSize - kFrameOverhead;  // 143
inline constexpr int kLoaderReplyLength = 5;

inline constexpr uint8_t kControlInformation = 0x80;
inline constexpr int kIdBusy = 2;
inline constexpr int kIdReject = 7;

}  // namespace quelm

// CRC-16/USB: polynomial 0x8005 reflected, initial 0xFFFF, final XOR 0xFFFF.
uint16_t FrameCRC16(const uint8_t* bytes, int count);

namespace quelm {

// Writes a frame with the given control byte and payload into out (room for
// length + 8 bytes) and returns its length.
int BuildFrame(uint8_t* out, uint8_t control, const uint8_t* payload, int length);

inline int frameLengthField(const uint8_t* frame) { return frame[3] | (frame[4] << 8); }
inline bool isInformation(uint8_t control) { return control & 0x80; }
inline int frameId(uint8_t control) { return (control >> 4) & 0x07; }
inline int frameSeqNum(uint8_t control) { return control & 0x0F; }

// Receive assembly: one batch of received bytes into the frame buffer
// (kRcvFrameSize bytes) holding count bytes so far.
struct AssemblyResult {
  bool restarted = false;  // a reply began: its time-out starts again
  bool oversize = false;   // a batch larger than the frame buffer, dropped
};
// Mode 0: command replies. Skips to the first A1 of a reply's first batch.
AssemblyResult AssembleFrameBatch(uint8_t* frame, uint16_t& count, const uint8_t* data, uint32_t size);
// The first byte of a loader reply: 82 55 status 00 00.
inline constexpr uint8_t kLoaderLead = 0x82;
// Mode 1: loader replies. Skips to 82 .. 55 in a reply's first batch; a
// reply split just after its 82 goes on in the next batch.
AssemblyResult AssembleLoaderBatch(uint8_t* frame, uint16_t& count, const uint8_t* data, uint32_t size);

// Classification of a complete reply (count >= expected, expected = its
// Length field) to a request. information: the request was an information
// frame whose caller payload may get 'P' in byte 1. Returns 0 or a code
// -203..-209; token receives the trace token (empty where none is traced).
struct ReplyVerdict {
  int code = 0;
  QString token;
};
ReplyVerdict ClassifyReply(const uint8_t* frame, int count, int expected, bool information, uint8_t* payload,
                           int payloadLength, bool checkCrc);

}  // namespace quelm
