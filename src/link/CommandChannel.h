#pragma once
// The one command exchange with the reader, as the data classes see it.
// The link (owned by the log window TIoForm) implements it over the serial
// port; tests implement it with scripted replies.

#include <cstdint>
#include <functional>

#include "base/EventWait.h"

class TCommandChannel {
 public:
  virtual ~TCommandChannel() = default;

  // One complete exchange. The payload must stay writable: a refusal of the
  // reader replaces its byte 1 by 'P'. out, when given, receives the reply
  // data length (received frame length - 10). Returns 0 or a negative code.
  virtual int SendCOMCmd(uint8_t* payload, uint16_t length, uint16_t* out = nullptr) = 0;

  // The command's own test of a reply the link accepted (read through
  // RcvFrame()): 0 when it answers the request, otherwise the code that
  // refuses it.
  using ReplyCheck = std::function<int()>;
  // SendCOMCmd with that test. The link treats a refused reply as a failed
  // attempt; this plain form just applies the test after the exchange.
  virtual int SendCheckedCOMCmd(uint8_t* payload, uint16_t length, uint16_t* out, const ReplyCheck& check) {
    const int rc = SendCOMCmd(payload, length, out);
    return rc == 0 && check ? check() : rc;
  }

  // The last reply frame: kRcvFrameSize bytes, offset 0 = first sync byte,
  // reply data from offset 7. Valid until the next exchange starts.
  static constexpr int kRcvFrameSize = 1024;
  virtual const uint8_t* RcvFrame() const = 0;
  // Size of the buffer RcvFrame() points to; reply readers never look past it.
  virtual int RcvFrameSize() const { return kRcvFrameSize; }
  virtual uint16_t RcvCount() const = 0;
  // The next exchange begins with a reset frame, whatever the last one left
  // behind: an import starts the link afresh.
  virtual void ResetAtNextExchange() {}

  // The receive mode (0 command frames, 1 loader replies). A software
  // download can leave it at 1; commands that must not depend on that set 0.
  virtual void SetLoaderMode(uint32_t mode) { (void)mode; }

  // A job of several exchanges holds the line: from its first exchange to
  // the end of the hold the device stays open and locked, so that no other
  // program gets in between two of its commands. Holds nest.
  virtual void HoldLine() {}
  virtual void ReleaseLine() {}
  // Lets what is pending through (paints, an Abort click) between two
  // exchanges of a job that holds the line. An exchange those events would
  // start (another window's command) is refused meanwhile with
  // kErrExchangeRunning: it would land between the job's commands and could
  // leave the reader elsewhere than the job left it.
  virtual void LetEventsThroughHeld() { quelm::letEventsThrough(); }
};

// The program's channel (the link of TIoForm); nullptr until it exists.
TCommandChannel* CommandChannel();
void SetCommandChannel(TCommandChannel* channel);

namespace quelm {

// Holds the program's channel (as it is now) for the life of the object.
class LineHold {
 public:
  explicit LineHold(TCommandChannel* channel = CommandChannel()) : channel_(channel) {
    if (channel_) channel_->HoldLine();
  }
  ~LineHold() { release(); }
  // See TCommandChannel::LetEventsThroughHeld; without a channel the
  // events just pass.
  void letEventsThrough() {
    if (channel_)
      channel_->LetEventsThroughHeld();
    else
      quelm::letEventsThrough();
  }
  void release() {
    if (channel_) channel_->ReleaseLine();
    channel_ = nullptr;
  }
  LineHold(const LineHold&) = delete;
  LineHold& operator=(const LineHold&) = delete;

 private:
  TCommandChannel* channel_;
};

}  // namespace quelm
