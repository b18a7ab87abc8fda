#include "link/FrameLink.h"

#include <algorithm>
#include <new>

#include "base/Diag.h"
#include "base/ErrorCodes.h"
#include "base/EventWait.h"
#include "base/Prompter.h"

using quelm::TraceLine;

namespace {
// Any length above 5 serves until the reply's own Length field is in.
constexpr int kInitialExpected = 530;
constexpr uint32_t kLinkBoxMask = quelm::kDiagBox | quelm::kDiagMonitor;
}  // namespace

TFrameLink::TFrameLink(QObject* owner) : QObject(owner), COMPortDrv(this), Timer(this) {
  COMPortDrv.SetInBufSize(4096);
  COMPortDrv.SetPortNumber(pnCustom);
  COMPortDrv.SetBaudRate(br19200);
  COMPortDrv.SetDataBits(db8BITS);
  COMPortDrv.SetStopBits(sb1BIT);
  COMPortDrv.SetParity(ptNONE);
  COMPortDrv.SetHwFlowCtrl(hfNONE);
  COMPortDrv.SetSwFlowCtrl(sfNONE);
  COMPortDrv.OnReceiveData = [this](QObject* sender, const uint8_t* data, uint32_t size) {
    COMPortDrvReceiveData(sender, data, size);
  };
  Timer.setInterval(1000);
  Timer.setTimerType(Qt::PreciseTimer);
  connect(&Timer, &QTimer::timeout, this, &TFrameLink::TimerTimer);
}

TFrameLink::~TFrameLink() {
  // A destructor shows no boxes; the port closes with its own destructor.
  COMPortDrv.OnReceiveData = nullptr;
}

void TFrameLink::TimerTimer() { ++TickCount; }

void TFrameLink::COMPortDrvReceiveData(QObject* /*Sender*/, const uint8_t* Data, uint32_t DataSize) {
  if (Settling) {
    QuietSince.start();
    return;
  }
  const quelm::AssemblyResult r = LoaderMode == 1
                                      ? quelm::AssembleLoaderBatch(RcvFrame, RcvCount, Data, DataSize)
                                      : quelm::AssembleFrameBatch(RcvFrame, RcvCount, Data, DataSize);
  if (r.restarted) TickCount = 0;
  if (r.oversize) {
    const QString line = QStringLiteral("TIoForm::COMPortDrvReceiveData(): ERR: DataSize>RcvFrame");
    if (LoaderMode == 1 || (DiagFlags & kLinkBoxMask))
      quelm::showMessage(quelm::MessageKind::Plain, QString(), line);
    LogTrace(line);
  }
}

int TFrameLink::SendFrameCOMCmd(uint8_t* payload, uint16_t length, bool information, uint16_t* out) {
  TraceLine trace(QStringLiteral("TIoForm::SendFrameCOMCmd(): "));
  uint8_t control = 0x00;
  if (information) {
    control = static_cast<uint8_t>(quelm::kControlInformation | (NextSeqNum & 0x0F));
    NextSeqNum = static_cast<uint16_t>((NextSeqNum + 1) % 16);
  } else {
    NextSeqNum = 0;
    length = 0;
  }
  const int frameLength = quelm::BuildFrame(TrmFrame, control, information ? payload : nullptr, length);

  const bool port = !(DiagFlags & quelm::kDiagNoPort);
  if (port) {
    // Whatever came in before this frame goes out (a reply that missed its
    // own wait, noise): no byte received before the request may become part
    // of its reply.
    RcvCount = 0;
    if (const int rc = COMPortDrv.FlushBuffers(true, false); rc != 0) {
      trace.fail(QStringLiteral("FlushBuffers():%1").arg(rc), kLinkBoxMask);
      return rc;
    }
    const int sent = COMPortDrv.SendData(TrmFrame, static_cast<uint32_t>(frameLength));
    if (sent != frameLength) {
      trace.fail(QStringLiteral("SendData():%1").arg(sent), kLinkBoxMask);
      return sent;
    }
  }

  RcvCount = 0;
  int expected = kInitialExpected;
  TickCount = 0;
  Timer.start();
  // The frame's own length field tells the rest of the reply once it is in.
  // Clicks and keys wait until the exchange is over.
  if (port)
    quelm::waitUntil(
        [&] {
          if (RcvCount >= 5) expected = quelm::frameLengthField(RcvFrame);
          return RcvCount >= expected || TickCount >= ReplyTimeout || !COMPortDrv.Connected();
        },
        quelm::WaitInput::Excluded);
  Timer.stop();

  if (DiagFlags & (quelm::kDiagMonitor | quelm::kDiagLog)) {
    if (const int rc = DumpFrames(frameLength, expected); rc != 0) return rc;
  }

  // The reply data length; a frame too short to hold the letter and the
  // check sum has none (the plain difference would wrap to 0xFFFF).
  const auto writeOut = [&] {
    if (out) *out = static_cast<uint16_t>(std::max(0, std::min<int>(RcvCount, expected) - 10));
  };
  if (port && !COMPortDrv.Connected()) {
    // The device failed during the wait; the port has shown why and closed it.
    const int rc = COMPortDrv.DeviceFailure() != 0 ? COMPortDrv.DeviceFailure() : kPortNotConnected;
    trace.fail(QStringLiteral("TimerWndProc():%1").arg(rc), kLinkBoxMask);
    return rc;
  }
  if (TickCount >= ReplyTimeout) {
    if (RcvCount > 0) {
      writeOut();
      trace.fail(QStringLiteral("ERR_RCVTIMEOUT"), kLinkBoxMask);
      return quelm::kErrReceiveTimeout;
    }
    trace.fail(QStringLiteral("ERR_0BYTERECEIVED"), kLinkBoxMask);
    return quelm::kErrNothingReceived;
  }
  writeOut();
  const quelm::ReplyVerdict v = quelm::ClassifyReply(RcvFrame, RcvCount, expected, information, payload,
                                                     length, !(DiagFlags & quelm::kDiagNoPort));
  if (v.code != 0) {
    if (!v.token.isEmpty()) trace.fail(v.token, kLinkBoxMask);
    return v.code;
  }
  trace.ok();
  return 0;
}

bool TFrameLink::MayOweReply(int code) {
  switch (code) {
    case quelm::kErrNoRequestReply:  // another frame's reply in the reset frame's wait
    case quelm::kErrNothingReceived:
    case quelm::kErrReceiveTimeout:
    case quelm::kErrUnknownCommand:  // another frame's reply, or one the command cannot take
      return true;
    default:
      return false;
  }
}

void TFrameLink::LetOwedReplyPass() {
  if (!ReplyOwed || (DiagFlags & quelm::kDiagNoPort)) return;
  ReplyOwed = false;
  const qint64 quietMs = qint64{ReplyTimeout} * Timer.interval();
  if (QuietSince.elapsed() >= quietMs) return;
  // A line that never falls quiet is left to the reset frame and the check
  // sum after a while rather than waited on for good.
  QElapsedTimer limit;
  limit.start();
  Settling = true;
  Timer.start();
  quelm::waitUntil(
      [&] {
        return !COMPortDrv.Connected() || QuietSince.elapsed() >= quietMs || limit.elapsed() >= 3 * quietMs;
      },
      quelm::WaitInput::Excluded);
  Timer.stop();
  Settling = false;
  RcvCount = 0;
}

int TFrameLink::DumpFrames(int frameLength, int expected) {
  const bool indexed = DiagFlags & quelm::kDiagIndexDump;
  quelm::FrameMonitorData d;
  try {
    d.transmitDump = quelm::DumpFrameBytes(TrmFrame, frameLength, indexed);
    d.receiveDump = quelm::DumpFrameBytes(RcvFrame, RcvCount, indexed);
    if (DiagFlags & quelm::kDiagMonitor) {
      d.transmit = quelm::DecodeFrameFields(TrmFrame, quelm::kTrmFrameSize, frameLength);
      d.receive = quelm::DecodeFrameFields(RcvFrame, quelm::kRcvFrameSize, expected);
    }
  } catch (const std::bad_alloc&) {
    TraceLine trace(QStringLiteral("TIoForm::SendFrameCOMCmd(): "));
    trace.text() += QStringLiteral("ERR_NEW");
    quelm::showMessage(quelm::MessageKind::Plain, QString(), trace.text());
    LogTrace(trace.text());
    return quelm::kErrNew;
  }
  LogTrace(QStringLiteral("TrmFrame: ") + d.transmitDump);
  LogTrace(QStringLiteral("RcvFrame: ") + d.receiveDump);
  if ((DiagFlags & quelm::kDiagMonitor) && ShowFrameMonitor) ShowFrameMonitor(d);
  return 0;
}

void TFrameLink::ReleaseLine() {
  const LineState was = lineState();
  if (Holds > 0 && --Holds == 0) {
    OpenedToEvents = false;
    if (!InExchange) COMPortDrv.Disconnect();
  }
  lineStateMayHaveChanged(was);
}

void TFrameLink::LetEventsThroughHeld() {
  // Told before the events pass, so that the windows paint greyed in them.
  if (Holds > 0 && !OpenedToEvents) {
    const LineState was = lineState();
    OpenedToEvents = true;
    lineStateMayHaveChanged(was);
  }
  ++ClosedToOthers;
  quelm::letEventsThrough();
  --ClosedToOthers;
}

int TFrameLink::SendCOMCmd(uint8_t* payload, uint16_t length, uint16_t* out) {
  return SendCheckedCOMCmd(payload, length, out, {});
}

int TFrameLink::SendCheckedCOMCmd(uint8_t* payload, uint16_t length, uint16_t* out,
                                  const TCommandChannel::ReplyCheck& check) {
  // A frame must fit the transmit buffer; a longer payload cannot be sent
  // and is refused like a missing one.
  if (!payload || length > quelm::kMaxPayload) return quelm::kErrNullptr;
  // Exchanges are strictly sequential: one started from an event handled
  // during another's wait would take over its frame buffers and port, and
  // one started while a job lets events through between two of its own
  // would land in the middle of that job.
  if (InExchange || ClosedToOthers > 0) return quelm::kErrExchangeRunning;
  InExchange = true;
  const int rc = Exchange(payload, length, out, check);
  InExchange = false;
  return rc;
}

namespace {
// Codes of the port component itself: the device failed, and a retry on it
// would only show the same messages again.
bool isPortFailure(int code) { return code >= kPortFirst && code <= kPortLast; }
}  // namespace

int TFrameLink::Exchange(uint8_t* payload, uint16_t length, uint16_t* out,
                         const TCommandChannel::ReplyCheck& check) {
  TraceLine trace(QStringLiteral("TIoForm::SendCOMCmd(): "));
  const bool steps = DiagFlags & quelm::kDiagSteps;
  if (COMPortDrv.PortNumber() == pnCustom) {
    const int result = ShowOptionsModal ? ShowOptionsModal() : quelm::mrCancel;
    if (result == quelm::mrCancel) return quelm::kErrUserCancelled;
  }
  if (const int rc = quelm::connectForExchange(COMPortDrv); rc != 0) return rc;

  const auto disconnectAfterFailure = [&](int code) {
    // A held line stays open for the job's next command; a failed device
    // is of no use to it any more.
    if (LineHeld() && !isPortFailure(code) && COMPortDrv.Connected()) return;
    if (COMPortDrv.Disconnect() != 0) {
      trace.fail(QStringLiteral("ERR_DISCONNECT"));
      ReportError(quelm::kErrComDisconnect, trace.text());
    }
  };

  LetOwedReplyPass();
  const auto noteFailure = [&](int code) {
    if (!MayOweReply(code)) return;
    ReplyOwed = true;
    QuietSince.start();
  };
  for (int attempts = 0;;) {
    if (ResetPending) {
      const int rr = SendFrameCOMCmd(nullptr, 0, false, nullptr);
      if (rr != 0) {
        noteFailure(rr);
        disconnectAfterFailure(rr);
        return rr;
      }
      ResetPending = false;
      if (steps)
        quelm::showMessage(quelm::MessageKind::Plain, QString(), QStringLiteral("Reset frame sent: ok"));
    }
    int r = SendFrameCOMCmd(payload, length, true, out);
    // A reply the command cannot take (one that answers an earlier request,
    // or is too short for this one) is a failed attempt like a damaged one.
    if (r == 0 && check && !(DiagFlags & quelm::kDiagNoPort)) r = check();
    if (r == 0) break;
    noteFailure(r);
    ++attempts;
    ResetPending = true;
    if (steps) ReportError(r, trace.text());
    if (attempts >= 2 || isPortFailure(r) || !COMPortDrv.Connected()) {
      disconnectAfterFailure(r);
      return r;
    }
  }
  if (steps) quelm::showMessage(quelm::MessageKind::Plain, QString(), QStringLiteral("ok"));
  if (LineHeld()) {
    trace.ok();
    return 0;
  }
  const int d = COMPortDrv.Disconnect();
  if (d == 0) trace.ok();
  return d;
}
