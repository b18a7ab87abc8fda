#include "link/ReaderCommand.h"

#include <algorithm>

#include "base/ErrorCodes.h"
#include "base/Prompter.h"
#include "link/CommandChannel.h"
#include "link/Frame.h"

namespace quelm {

namespace {
constexpr int kLetterOffset = 6;  // the echoed command letter
constexpr int kDataOffset = 7;    // reply data begin behind it
constexpr int kCrcBytes = 2;
}  // namespace

ReplyData ReplyData::of(const TCommandChannel& channel) {
  const uint8_t* frame = channel.RcvFrame();
  if (!frame) return {};
  const int received = std::min<int>(channel.RcvCount(), channel.RcvFrameSize());
  if (received <= kDataOffset) return {frame + kDataOffset, 0};
  // A supervisory frame carries no letter and no data.
  if (!(frame[5] & kControlInformation)) return {frame + kDataOffset, 0};
  // The frame ends where its Length field says; bytes behind it (noise that
  // came in the same batch) are not reply data.
  const int length = std::min(received, frame[3] | (frame[4] << 8));
  return {frame + kDataOffset, std::max(0, length - kDataOffset - kCrcBytes)};
}

void ReplyData::copy(int from, uint8_t* dst, int len) const {
  for (int k = 0; k < len; ++k) dst[k] = byte(from + k);
}

ReaderCommand::ReaderCommand(TraceLine* trace, uint32_t* busyWord, uint32_t busyBit)
    : trace_(trace), busyWord_(busyWord), busyBit_(busyBit) {
  if (busyWord_) {
    busyWas_ = *busyWord_ & busyBit_;
    *busyWord_ |= busyBit_;
  }
}

ReaderCommand::~ReaderCommand() {
  if (busyWord_) *busyWord_ = (*busyWord_ & ~busyBit_) | busyWas_;
}

void ReaderCommand::fail(const QString& token) {
  if (trace_) {
    trace_->fail(token);
  } else {
    if (DiagFlags & kDiagBox) showMessage(MessageKind::Plain, QString(), token);
    LogTrace(token);
  }
}

int ReaderCommand::check(const TCommandChannel& channel, const ReplyRule& rule) {
  const uint8_t* frame = channel.RcvFrame();
  const bool replyFrame = frame && channel.RcvCount() > kLetterOffset && (frame[5] & kControlInformation);
  const ReplyData data = ReplyData::of(channel);
  if ((rule.needsReplyFrame || rule.minData > 0) && !replyFrame) return kErrReceiveTimeout;
  if (data.size() < rule.minData || (rule.maxData != ReplyRule::kAny && data.size() > rule.maxData))
    return kErrReceiveTimeout;
  if (rule.belongs && !rule.belongs(data)) return kErrUnknownCommand;
  if (rule.dataNeeded && data.size() < rule.dataNeeded(data)) return kErrReceiveTimeout;
  return 0;
}

int ReaderCommand::run(uint8_t* payload, uint16_t length, const ReplyRule& rule) {
  reply_ = {};
  refused_ = false;
  TCommandChannel* channel = CommandChannel();
  if (!channel || !payload || length < 2) {
    fail(QStringLiteral("ERR_NULLPTR"));
    return kErrNullptr;
  }
  const uint8_t letter = payload[1];
  // The link puts 'P' in place of our letter when the reader refused: that
  // is an answer, told apart below, not a reply to check.
  const auto refusal = [&] { return payload[1] == 'P' && letter != 'P'; };
  const int rc = channel->SendCheckedCOMCmd(payload, length, nullptr, [&] {
    return refusal() || (DiagFlags & kDiagNoPort) ? 0 : check(*channel, rule);
  });
  if (rc != 0) {
    fail(QStringLiteral("ERR_SENDCOMCMD"));
    return rc;
  }
  // Without the port (diagnostic bit 0x80) nothing was received: there is
  // nothing to check, and the callers read what the buffer holds.
  if (DiagFlags & kDiagNoPort) {
    reply_ = ReplyData::of(*channel);
    return 0;
  }
  if (refusal()) {
    refused_ = true;
    return rule.allowRefusal ? 0 : int{kErrReaderRefused};
  }
  reply_ = ReplyData::of(*channel);
  return 0;
}

}  // namespace quelm
