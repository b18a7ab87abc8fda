#pragma once
// TFrameLink: the link state and the command exchange of the log window
// TIoForm. It owns the serial port COMPortDrv and the one-second reply timer,
// builds and sends frames, assembles and classifies replies, and runs the
// exchange with reset frame, sequence numbers and one retry. What needs a
// window (the port options window, the frame monitor) goes through hooks the
// owner sets. QtCore only.
//
// An exchange returns its failure for the caller to report and does not show
// it. What the link shows itself is what the caller cannot: the port's own
// diagnostics where the device fails (see TCOMPort), the diagnostic steps
// the operator switched on (each failed attempt, "ok"), and a port that
// would not close after a failed exchange (kErrComDisconnect), which is not
// the failure the exchange returns.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <cstdint>
#include <functional>

#include "base/ErrorCodes.h"
#include "link/COMPort.h"
#include "link/CommandChannel.h"
#include "link/Frame.h"
#include "link/FrameDump.h"

class TFrameLink : public QObject {
  Q_OBJECT
 public:
  explicit TFrameLink(QObject* owner = nullptr);
  ~TFrameLink() override;
  TFrameLink(const TFrameLink&) = delete;
  TFrameLink& operator=(const TFrameLink&) = delete;

  TCOMPort COMPortDrv;
  QTimer Timer;  // 1000 ms, running only during a wait
  uint8_t RcvFrame[quelm::kRcvFrameSize] = {};
  uint16_t RcvCount = 0;
  uint8_t TrmFrame[quelm::kTrmFrameSize] = {};
  uint16_t NextSeqNum = 0;
  uint32_t TickCount = 0;
  uint32_t ReplyTimeout = 4;
  bool ResetPending = true;
  uint32_t LoaderMode = 0;  // 0 command frames, 1 loader replies
  uint32_t LoaderWaiting = 0;

  // One complete exchange; see TCommandChannel::SendCOMCmd.
  int SendCOMCmd(uint8_t* payload, uint16_t length, uint16_t* out = nullptr);
  // The same with the command's own check of the reply: a reply it refuses
  // counts as a failed attempt (retried once after a reset frame).
  int SendCheckedCOMCmd(uint8_t* payload, uint16_t length, uint16_t* out,
                        const TCommandChannel::ReplyCheck& check);
  // One frame and its reply: the command (information) or the reset frame.
  int SendFrameCOMCmd(uint8_t* payload, uint16_t length, bool information, uint16_t* out);
  void COMPortDrvReceiveData(QObject* Sender, const uint8_t* Data, uint32_t DataSize);
  void TimerTimer();

  // True while SendCOMCmd runs; a second call is refused meanwhile.
  bool ExchangeRunning() const { return InExchange; }

  // The software update holds the link for its whole length (it speaks the
  // loader's protocol over the same port and buffers), so command exchanges
  // are refused meanwhile. False when the line is taken already: an
  // exchange runs, an update runs, or a job holds it between its commands
  // (a download lets clicks through between blocks; an update started then
  // would close the job's port and reprogram the reader under it).
  bool BeginLoaderSession() {
    if (InExchange || LineInUse()) return false;
    const LineState was = lineState();
    InExchange = true;
    LoaderSession = true;
    lineStateMayHaveChanged(was);
    return true;
  }
  void EndLoaderSession() {
    const LineState was = lineState();
    InExchange = false;
    LoaderSession = false;
    lineStateMayHaveChanged(was);
  }

  // See TCommandChannel::HoldLine. While held, an exchange leaves the port
  // open (after a failure too, unless the device itself failed); the last
  // release closes it.
  void HoldLine() {
    const LineState was = lineState();
    ++Holds;
    lineStateMayHaveChanged(was);
  }
  void ReleaseLine();
  // See TCommandChannel::LetEventsThroughHeld.
  void LetEventsThroughHeld();
  bool LineHeld() const { return Holds > 0; }
  // A job holds the line between its exchanges (a download, a table write)
  // or the software update runs: the port's settings must not change then.
  bool LineInUse() const { return Holds > 0 || LoaderSession; }
  // The line is taken from the other windows: the software update runs, or
  // a job that holds the line has let events through between its commands
  // (a click could reach another window then, and its command would only be
  // refused). Once a hold has let events through it counts until its
  // release, so that the windows do not flicker between a job's commands; a
  // hold that never lets events through is over before anyone could click
  // and takes nothing from them.
  bool LineTakenFromOthers() const { return LoaderSession || OpenedToEvents; }

  // pnCustom: show the port options window modally and return its modal
  // result (2 = Cancel). Without a hook the choice counts as cancelled.
  std::function<int()> ShowOptionsModal;
  // Diagnostic bit 0x10: fill and show the frame monitor.
  std::function<void(const quelm::FrameMonitorData&)> ShowFrameMonitor;

  // The channel the data classes use (SetCommandChannel(&link.Channel())).
  TCommandChannel& Channel() { return ChannelAdapter; }

 signals:
  // LineInUse() changed.
  void LineInUseChanged(bool inUse);
  // LineTakenFromOthers() changed. The windows grey their reader commands
  // meanwhile; the window whose job took the line keeps what its job shows
  // (its reader commands are off while the job runs anyway, its stop is not
  // a reader command).
  void LineTakenFromOthersChanged(bool taken);

 private:
  struct LineState {
    bool inUse;
    bool takenFromOthers;
  };
  LineState lineState() const { return {LineInUse(), LineTakenFromOthers()}; }
  void lineStateMayHaveChanged(LineState was) {
    if (LineInUse() != was.inUse) emit LineInUseChanged(!was.inUse);
    if (LineTakenFromOthers() != was.takenFromOthers) emit LineTakenFromOthersChanged(!was.takenFromOthers);
  }
  class ChannelImpl final : public TCommandChannel {
   public:
    explicit ChannelImpl(TFrameLink& link) : Link(link) {}
    int SendCOMCmd(uint8_t* payload, uint16_t length, uint16_t* out) override {
      return Link.SendCOMCmd(payload, length, out);
    }
    int SendCheckedCOMCmd(uint8_t* payload, uint16_t length, uint16_t* out,
                          const ReplyCheck& check) override {
      return Link.SendCheckedCOMCmd(payload, length, out, check);
    }
    const uint8_t* RcvFrame() const override { return Link.RcvFrame; }
    uint16_t RcvCount() const override { return Link.RcvCount; }
    void ResetAtNextExchange() override { Link.ResetPending = true; }
    void SetLoaderMode(uint32_t mode) override { Link.LoaderMode = mode; }
    void HoldLine() override { Link.HoldLine(); }
    void ReleaseLine() override { Link.ReleaseLine(); }
    void LetEventsThroughHeld() override { Link.LetEventsThroughHeld(); }

   private:
    TFrameLink& Link;
  };

  int DumpFrames(int frameLength, int expected);
  // The reader answers every frame with one frame, in order, but says in its
  // reply only which command letter it answers. A frame whose wait ended
  // without its own reply (time-out, another frame's reply) may still be
  // answered later, and that answer would pass for the next request's. So
  // before an exchange that follows such a wait, the line must have been
  // quiet for one reply time-out; what arrives meanwhile is dropped.
  static bool MayOweReply(int code);
  void LetOwedReplyPass();
  int Exchange(uint8_t* payload, uint16_t length, uint16_t* out, const TCommandChannel::ReplyCheck& check);

  ChannelImpl ChannelAdapter{*this};
  bool InExchange = false;
  bool LoaderSession = false;
  int Holds = 0;
  int ClosedToOthers = 0;  // a holder lets events through
  bool OpenedToEvents = false;  // the holds have let events through
  bool ReplyOwed = false;
  bool Settling = false;
  QElapsedTimer QuietSince;  // the owed wait's end, or the last byte after it
};
