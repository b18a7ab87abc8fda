#pragma once
// The one command exchange with the reader, as the data classes see it.
// The link (owned by the log window TIoForm) implements it over the serial
// port; tests implement it with scripted replies.

#include <cstdint>

class TCommandChannel {
 public:
  virtual ~TCommandChannel() = default;

  // One complete exchange. The payload must stay writable: a refusal of the
  // reader replaces its byte 1 by 'P'. out, when given, receives the reply
  // data length (received frame length - 10). Returns 0 or a negative code.
  virtual int SendCOMCmd(uint8_t* payload, uint16_t length, uint16_t* out = nullptr) = 0;

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
};

// The program's channel (the link of TIoForm); nullptr until it exists.
TCommandChannel* CommandChannel();
void SetCommandChannel(TCommandChannel* channel);
