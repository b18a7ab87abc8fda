#pragma once
// The one way the data classes talk to the reader. Every reader command
// (block, parameter, look-up, service) is a ReaderCommand: it holds the
// owner's Busy guard for its duration, sends the payload through the
// program's command channel, and accepts the reply only when it is what the
// command asked for: the reader's refusal ('P') becomes -210, a reply too
// short or too long for the command becomes -205, a reply that cannot
// belong to the request (ReplyRule::belongs) becomes -209. Only then are the
// reply data readable, through ReplyData, which never reads outside the
// bytes that arrived.
//
//   quelm::TraceLine trace(QStringLiteral("TNurvoDataBlock::ReadCOMBlock(): "));
//   quelm::ReaderCommand cmd(&trace, &State, Busy);
//   uint8_t payload[] = {'.', 'Y', lo, hi, '#'};
//   if (int rc = cmd.run(payload, sizeof payload, {.minData = 512, .maxData = 512})) return rc;
//   cmd.reply().copy(0, dst, 511);

#include <QString>
#include <cstdint>
#include <functional>

#include "base/Diag.h"

class TCommandChannel;

namespace quelm {

// The data of a reply: the bytes after the echoed command letter, that is
// RcvFrame offset 7 up to the check sum. Reads past the end give 0.
class ReplyData {
 public:
  ReplyData() = default;
  ReplyData(const uint8_t* data, int size) : data_(data), size_(data ? size : 0) {}
  // The reply data of the channel's last exchange (empty when the frame holds
  // no letter and data, e.g. an acknowledgement).
  static ReplyData of(const TCommandChannel& channel);

  int size() const { return size_; }
  uint8_t byte(int i) const { return i >= 0 && i < size_ ? data_[i] : 0; }
  uint16_t u16(int i) const { return static_cast<uint16_t>(byte(i) | (byte(i + 1) << 8)); }
  uint32_t u32(int i) const { return uint32_t{u16(i)} | (uint32_t{u16(i + 2)} << 16); }
  // Copies len bytes from data byte `from` on; bytes beyond the reply are 0.
  void copy(int from, uint8_t* dst, int len) const;

 private:
  const uint8_t* data_ = nullptr;
  int size_ = 0;
};

// What a command's reply must be before its data are used. A reply that
// breaks the rule counts as a failed attempt of the exchange: the link tries
// once more (after a reset frame) before the command fails.
struct ReplyRule {
  static constexpr int kAny = -1;
  int minData = 0;            // reply data bytes, at least
  int maxData = kAny;         // at most (kAny: not checked)
  bool allowRefusal = false;  // 'P' is returned as success; refused() tells
  // The reply answers this request (e.g. carries the requested block number).
  std::function<bool(const ReplyData&)> belongs{};
  // The command's own reply frame (letter and data) is required: a bare
  // acknowledgement does not answer it, even where no data is a valid
  // answer (an empty page). Implied by minData > 0.
  bool needsReplyFrame = false;
  // Data bytes the reply must hold given what it says of itself (a page of
  // n summaries), checked after belongs; fewer is an incomplete reply.
  std::function<int(const ReplyData&)> dataNeeded{};
};

class ReaderCommand {
 public:
  // trace: the operation's working line; failures append their token to it.
  // Without one a failure traces its bare token (the page search's trace).
  // busyWord/busyBit: the owner's state word and the bit that marks a running
  // command; the bit is set for the command's life and put back as found.
  explicit ReaderCommand(TraceLine* trace, uint32_t* busyWord = nullptr, uint32_t busyBit = 0);
  ~ReaderCommand();
  ReaderCommand(const ReaderCommand&) = delete;
  ReaderCommand& operator=(const ReaderCommand&) = delete;

  // Sends the payload (which must stay writable) and checks the reply.
  // A link failure traces "ERR_SENDCOMCMD". Returns 0, the link's code, -102 without a channel, -210 for a
  // refusal (unless the rule allows it), -205 for a reply too short or too long for the command (or a bare
  // acknowledgement where its reply frame is needed), -209 for a reply that does not belong to the request.
  // A refusal is not traced: the callers' traces differ. Every other failure is.
  int run(uint8_t* payload, uint16_t length, const ReplyRule& rule = {});

  // The rule's verdict on the channel's last reply: 0 or -205 / -209.
  static int check(const TCommandChannel& channel, const ReplyRule& rule);

  // Valid after run() returned 0, until the next exchange.
  const ReplyData& reply() const { return reply_; }
  bool refused() const { return refused_; }

 private:
  TraceLine* trace_;
  uint32_t* busyWord_;
  uint32_t busyBit_;
  uint32_t busyWas_ = 0;
  bool refused_ = false;
  ReplyData reply_;
  void fail(const QString& token);
};

}  // namespace quelm
