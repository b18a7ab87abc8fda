// The command exchange against the reader model served on a pseudo-terminal
// in this process: reset frame, sequence numbers, retry, reply assembly and
// classification, time-outs, and the guard against a nested exchange.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <utility>

#include "ForwardingDevice.h"
#include "LinkTestSupport.h"
#include "ReaderModel.h"
#include "ScriptedPrompter.h"
#include "SimServer.h"
#include "base/Diag.h"
#include "link/FrameLink.h"
#include "measurement/NurvoDataBlock.h"
#include "sample-data/SampleData.h"

using namespace quelm;
using namespace quelm::sim;
using quelm::test::ScriptedPrompter;
using quelm::test::TestIni;
using quelm::test::TestPty;

namespace {

const std::vector<uint8_t> kResetFrame = {0xA1, 0x16, 0xFC, 0x08, 0x00, 0x00, 0xC4, 0x1E};

// Forwards to the real device and counts opens and closes.
class CountingDevice final : public quelm::test::ForwardingDevice {
 public:
  int opens = 0;
  int closes = 0;
  int open(const QByteArray& p) override {
    ++opens;
    return ForwardingDevice::open(p);
  }
  int close() override {
    ++closes;
    return ForwardingDevice::close();
  }
};

// The program's link wired to COM1 = a device path. Tests that wait for
// time-outs shorten the ticks so that they take 0.2 s instead of 4 s.
constexpr int kShortTickMs = 50;

struct Link {
  TestIni ini;
  TFrameLink link;
  CountingDevice* device;
  explicit Link(const QString& devicePath) {
    ini.map(1, devicePath);
    auto d = std::make_unique<CountingDevice>();
    device = d.get();
    link.COMPortDrv.SetDevice(std::move(d));
    link.COMPortDrv.IniFileName = ini.path();
    link.COMPortDrv.SetPortNumber(pnCOM1);
    link.COMPortDrv.SetPollDelay(5);
  }
  int send(std::vector<uint8_t>& payload, uint16_t* out = nullptr) {
    return link.SendCOMCmd(payload.data(), static_cast<uint16_t>(payload.size()), out);
  }
  int send(const char* command, uint16_t* out = nullptr) {
    std::vector<uint8_t> p(command, command + std::strlen(command));
    return send(p, out);
  }
  uint32_t u16At(int offset) const { return link.RcvFrame[offset] | (link.RcvFrame[offset + 1] << 8); }
};

struct Rig {
  ScriptedPrompter prompter;
  TReaderModel model;
  TReaderSimServer server{model};
  std::unique_ptr<Link> l;
  explicit Rig(const FaultOptions& faults = {}, int blocks = 40) : model(faults) {
    SampleDataOptions s;
    s.blocks = blocks;
    model.LoadBlocks(MakeSampleBlocks(s));
    EXPECT_EQ(server.Open(), 0);
    l = std::make_unique<Link>(server.SlavePath());
  }
  TFrameLink& link() { return l->link; }
  int send(const char* command, uint16_t* out = nullptr) { return l->send(command, out); }
  std::vector<uint8_t> request(size_t i) const {
    return i < model.Requests.size() ? model.Requests[i] : std::vector<uint8_t>{};
  }
  int seqOf(size_t i) const { return request(i).size() > 5 ? request(i)[5] & 0x0F : -1; }
  bool isReset(size_t i) const { return request(i) == kResetFrame; }
};

std::vector<uint8_t> rawFrame(uint8_t control, const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> f(payload.size() + 8);
  BuildFrame(f.data(), control, payload.data(), static_cast<int>(payload.size()));
  return f;
}

}  // namespace

TEST(FrameLink, TheFirstExchangeBeginsWithTheResetFrameAndClosesThePortAfter) {
  Rig r;
  uint16_t out = 0xFFFF;
  ASSERT_EQ(r.send(".G#", &out), 0) << r.prompter.texts().join(" | ").toStdString();
  ASSERT_EQ(r.model.Requests.size(), 2u);
  EXPECT_TRUE(r.isReset(0));
  EXPECT_EQ(r.request(1),
            std::vector<uint8_t>({0xA1, 0x16, 0xFC, 0x0B, 0x00, 0x80, 0x2E, 0x47, 0x23, 0x2A, 0x87}));
  EXPECT_EQ(out, 1) << "reply payload 'G' + u16, minus 2";
  EXPECT_EQ(r.link().RcvFrame[6], 'G');
  EXPECT_EQ(r.l->u16At(7), 40u);
  EXPECT_FALSE(r.link().COMPortDrv.Connected());
  EXPECT_FALSE(r.link().ResetPending);
  EXPECT_EQ(r.l->device->opens, 1);
  EXPECT_EQ(r.l->device->closes, 1);
  EXPECT_TRUE(r.prompter.messages.empty());
}

TEST(FrameLink, SequenceNumbersRunWithoutResetAndWrapAfterFifteen) {
  Rig r;
  for (int i = 0; i < 17; ++i) ASSERT_EQ(r.send(".G#"), 0) << i;
  ASSERT_EQ(r.model.Requests.size(), 18u);
  EXPECT_TRUE(r.isReset(0));
  for (int i = 0; i < 17; ++i) {
    EXPECT_FALSE(r.isReset(i + 1));
    EXPECT_EQ(r.seqOf(i + 1), i % 16) << "information frame " << i;
  }
  EXPECT_EQ(r.link().NextSeqNum, 1);
}

TEST(FrameLink, ACheckSumFailureIsRetriedWithAResetInTheSameOpenPort) {
  Rig r;
  r.model.Script = {kFaultCrc};
  uint16_t out = 0;
  ASSERT_EQ(r.send(".F#", &out), 0);
  // reset, .F# (damaged reply), reset, .F# again
  ASSERT_EQ(r.model.Requests.size(), 4u);
  EXPECT_TRUE(r.isReset(0));
  EXPECT_EQ(r.seqOf(1), 0);
  EXPECT_TRUE(r.isReset(2));
  EXPECT_EQ(r.seqOf(3), 0) << "the reset frame starts the numbers again";
  EXPECT_EQ(r.l->device->opens, 1);
  EXPECT_EQ(r.l->u16At(7), 40u);

  // Both attempts fail: the port is closed and the second code returned;
  // the next exchange begins with a reset frame.
  r.model.Requests.clear();
  r.model.Script = {kFaultCrc, kFaultReject};
  EXPECT_EQ(r.send(".F#"), -208);
  EXPECT_EQ(r.model.Requests.size(), 3u) << "info, reset, info";
  EXPECT_FALSE(r.link().COMPortDrv.Connected());
  EXPECT_TRUE(r.link().ResetPending);
  EXPECT_EQ(r.l->device->opens, 2);
  r.model.Requests.clear();
  EXPECT_EQ(r.send(".G#"), 0);
  EXPECT_TRUE(r.isReset(0));
  EXPECT_TRUE(r.prompter.messages.empty()) << "the link reports nothing itself";
}

TEST(FrameLink, RepliesSplitIntoBatchesWithLeadingNoiseAreAssembled) {
  FaultOptions f;
  f.garbage = 5;
  f.chunkSize = 7;
  f.chunkDelayMs = 5;
  Rig r(f);
  std::vector<uint8_t> y = {'.', 'Y', 12, 0, '#'};
  uint16_t out = 0;
  ASSERT_EQ(r.l->send(y, &out), 0);
  EXPECT_EQ(out, 511) << "'Y' + 512-byte record, minus 2";
  const BlockRecord& b = r.model.Block(12);
  EXPECT_EQ(std::memcmp(r.link().RcvFrame + 7, &b, sizeof b), 0);
  EXPECT_EQ(r.link().RcvFrame[0], 0xA1);
}

TEST(FrameLink, ImpossibleLengthFieldsEndAsTimeOutOrCheckSumFailure) {
  Rig r;
  r.link().Timer.setInterval(kShortTickMs);
  std::vector<uint8_t> huge = rawFrame(0x80, {'G', 0, 0});
  huge[3] = 0x00;
  huge[4] = 0x04;  // 1024
  r.model.RawReplies = {huge, huge};
  EXPECT_EQ(r.send(".G#"), -205);

  std::vector<uint8_t> tiny = {0xA1, 0x16, 0xFC, 0x06, 0x00, 0x80, 0x00, 0x00};
  r.model.RawReplies = {tiny, tiny};
  EXPECT_EQ(r.send(".G#"), -206);
}

TEST(FrameLink, AcknowledgementBusyRefusalAndWrongLettersAreClassified) {
  Rig r;
  r.model.RawReplies = {rawFrame(0x00, {})};
  EXPECT_EQ(r.send(".K2\x01\x00#"), 0) << "an acknowledgement counts as success";

  std::vector<uint8_t> k0 = {'.', 'K', '0', '#'};
  r.model.Script = {kFaultRefuse};
  EXPECT_EQ(r.l->send(k0), 0);
  EXPECT_EQ(k0[1], 'P') << "the caller sees the refusal";

  k0[1] = 'K';
  r.model.Script = {kFaultRefuseBusy, kFaultRefuseBusy};
  EXPECT_EQ(r.l->send(k0), -207);
  EXPECT_EQ(k0[1], 'K');

  r.model.Script = {kFaultBusy, kFaultBusy};
  EXPECT_EQ(r.send(".G#"), -207);
  r.model.Script = {kFaultWrongLetter, kFaultWrongLetter};
  EXPECT_EQ(r.send(".G#"), -209);
  r.model.Script = {kFaultBusy};
  EXPECT_EQ(r.send(".G#"), 0) << "one busy reply is retried";
  EXPECT_TRUE(r.prompter.messages.empty());
}

TEST(FrameLink, WithoutReaderTheResetFrameTimesOutAlone) {
  ScriptedPrompter prompter;
  TestPty pty;
  ASSERT_TRUE(pty.ok());
  Link l(pty.slavePath());
  l.link.Timer.setInterval(kShortTickMs);
  EXPECT_EQ(l.send(".G#"), -204);
  EXPECT_EQ(pty.read(8, 200), kResetFrame) << "no information frame after a failed reset";
  EXPECT_FALSE(l.link.COMPortDrv.Connected());
  EXPECT_TRUE(l.link.ResetPending);

  // No reset due: the information frame and the retry's reset frame each wait.
  l.link.ResetPending = false;
  l.link.NextSeqNum = 3;
  QElapsedTimer t;
  t.start();
  EXPECT_EQ(l.send(".G#"), -204);
  EXPECT_GE(t.elapsed(), 2 * 4 * kShortTickMs - 10);
  const std::vector<uint8_t> sent = pty.read(19, 200);
  ASSERT_EQ(sent.size(), 19u);
  EXPECT_EQ(sent[5], 0x83);
  EXPECT_EQ(std::vector<uint8_t>(sent.begin() + 11, sent.end()), kResetFrame);
  EXPECT_TRUE(prompter.messages.empty());

  // A device on the line that talks on without ever sending a frame (a
  // wrong port): a byte each tick does not hold the wait; it ends as before.
  // The noise stops after 40 ticks, so that a wait it did hold still ends.
  int noise = 0;
  QObject::connect(&l.link.Timer, &QTimer::timeout, [&] {
    if (++noise <= 40) pty.write({0x00});
  });
  l.link.ResetPending = true;
  EXPECT_EQ(l.send(".G#"), -204);
  EXPECT_LE(noise, 20)
      << "the quiet wait the last failure owes (at most three time-outs) and the reset frame's";
}

TEST(FrameLink, BytesReceivedBeforeARequestNeverBecomeItsReply) {
  ScriptedPrompter prompter;
  TestPty pty;
  ASSERT_TRUE(pty.ok());
  Link l(pty.slavePath());
  l.link.Timer.setInterval(kShortTickMs);
  // The peer acknowledges reset frames and never answers a command.
  QSocketNotifier peer(pty.master(), QSocketNotifier::Read);
  QObject::connect(&peer, &QSocketNotifier::activated, [&] {
    const std::vector<uint8_t> sent = pty.read(1, 0);
    if (sent.size() >= 8 && sent[5] == 0x00) pty.write(rawFrame(0x00, {}));
  });
  // Between the reset frame and the command (diagnostic bit 0x40 shows a box
  // there), a well-formed ".G#" reply comes in, left over from before.
  bool stale = false;
  prompter.whileShown = [&] {
    if (std::exchange(stale, true)) return;
    const std::vector<uint8_t> reply = rawFrame(0x80, {'G', 40, 0});
    pty.write(reply);
    // On the program's side of the line before the command is sent (the
    // terminal hands written bytes over a moment later).
    QElapsedTimer t;
    for (t.start(); t.elapsed() < 5000; ::usleep(1000)) {
      uint32_t waiting = 0;
      if (l.device->inWaiting(&waiting) == 0 && waiting >= reply.size()) break;
    }
  };
  const uint32_t saved = DiagFlags;
  DiagFlags = kDiagSteps;
  EXPECT_EQ(l.send(".G#"), -204);
  DiagFlags = saved;
  EXPECT_TRUE(stale);
  EXPECT_TRUE(l.link.ResetPending);
}

// The reader answers a command only after the program gave up on it: the
// late reply comes while the next command is about to start. It must never
// pass for that command's reply, although it carries the same letter.
TEST(FrameLink, AReplyGivenUpOnNeverPassesForTheNextCommands) {
  ScriptedPrompter prompter;
  TestPty pty;
  ASSERT_TRUE(pty.ok());
  Link l(pty.slavePath());
  constexpr int kTickMs = 250;  // a time-out of 1 s
  l.link.Timer.setInterval(kTickMs);
  l.link.ResetPending = false;
  bool slow = true;       // the reader does not answer in time yet
  bool lateSent = false;  // its answer to the first command is out
  bool heldBack = false;  // a command waits behind that answer
  const auto answer = [&] { pty.write(rawFrame(0x80, {'G', 40, 0})); };
  QSocketNotifier peer(pty.master(), QSocketNotifier::Read);
  QObject::connect(&peer, &QSocketNotifier::activated, [&] {
    const std::vector<uint8_t> in = pty.read(1, 0);
    for (size_t i = 0; i + 8 <= in.size();) {
      const size_t n = in[i + 3] | (in[i + 4] << 8);
      if (in[i] != 0xA1 || n < 8 || i + n > in.size()) break;
      if (in[i + 5] == 0x00)
        pty.write(rawFrame(0x00, {}));
      else if (!slow && lateSent)
        answer();
      else if (!slow)
        heldBack = true;  // the reader's answers come in order
      i += n;
    }
  });
  uint16_t out = 0;
  EXPECT_EQ(l.send(".G#"), -204);
  // Half a time-out after the program gave up, the reader's first answer
  // (a count of 99) arrives; then it answers what came after it.
  slow = false;
  QTimer::singleShot(2 * kTickMs, [&] {
    pty.write(rawFrame(0x80, {'G', 99, 0}));
    lateSent = true;
    if (std::exchange(heldBack, false)) answer();
  });
  const int rc = l.send(".G#", &out);
  EXPECT_TRUE(lateSent);
  if (rc == 0) {
    EXPECT_EQ(l.u16At(7), 40u) << "the late answer was taken for this command's";
  }
  EXPECT_EQ(rc, 0);
  EXPECT_TRUE(prompter.messages.empty());
}

TEST(FrameLink, AReplyTheCommandRefusesIsRetriedAfterAReset) {
  Rig r;
  // A record of another block (the answer to an earlier request) first.
  std::vector<uint8_t> foreign = {'Y'};
  const BlockRecord& other = r.model.Block(11);
  foreign.insert(foreign.end(), reinterpret_cast<const uint8_t*>(&other),
                 reinterpret_cast<const uint8_t*>(&other) + sizeof other);
  r.model.RawReplies = {rawFrame(0x80, foreign)};
  SetCommandChannel(&r.link().Channel());
  TNurvoDataBlock data(nullptr);
  EXPECT_EQ(data.ReadCOMBlock(12), 0);
  EXPECT_EQ(int{data.Record.BlockNumber}, 12);
  ASSERT_EQ(r.model.Requests.size(), 4u);
  EXPECT_TRUE(r.isReset(2)) << "the retry begins with a reset frame";
  EXPECT_EQ(r.l->device->opens, 1);

  // Refused twice: the command fails with the check's code.
  r.model.RawReplies = {rawFrame(0x80, foreign), rawFrame(0x80, foreign)};
  EXPECT_EQ(data.ReadCOMBlock(12), -209);
  EXPECT_FALSE(data.IsLoaded());
  SetCommandChannel(nullptr);
  EXPECT_TRUE(r.prompter.messages.empty());
}

TEST(FrameLink, RepliesArriveWithoutWaitingForAPollTick) {
  Rig r;
  r.link().COMPortDrv.SetPollDelay(600000);  // the poll never ticks here
  uint16_t out = 0xFFFF;
  EXPECT_EQ(r.send(".G#", &out), 0);
  EXPECT_EQ(r.l->u16At(7), 40u);
  // A reply of the letter alone has no data; the length does not wrap.
  r.model.RawReplies = {rawFrame(0x80, {'G'})};
  EXPECT_EQ(r.send(".G#", &out), 0);
  EXPECT_EQ(out, 0);
}

TEST(FrameLink, ADeviceThatFailsDuringTheWaitIsClosedAndReportedOnce) {
  ScriptedPrompter prompter;
  TestPty pty;
  ASSERT_TRUE(pty.ok());
  Link l(pty.slavePath());
  l.link.ResetPending = false;
  // Each box keeps the program's events running for a while, as a real one
  // does: the port must not come back with the same failure meanwhile.
  prompter.whileShown = [] {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 150) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
  };
  QTimer::singleShot(50, [&] { pty.hangUp(); });
  EXPECT_EQ(l.send(".G#"), -13);
  EXPECT_EQ(prompter.texts(), QStringList({"ERROR: TCOMPort::TimerWndProc(): ClearComError()",
                                           QString::fromLocal8Bit(std::strerror(EIO))}));
  EXPECT_FALSE(l.link.COMPortDrv.Connected());
  EXPECT_EQ(l.device->closes, 1);
  EXPECT_TRUE(l.link.ResetPending);

  // The device is gone: the next exchange cannot open it and says so once.
  prompter.clear();
  EXPECT_EQ(l.send(".G#"), -201);
  EXPECT_EQ(prompter.messages.size(), 2u);
}

TEST(FrameLink, TheDefaultTimeOutIsFourSecondTicks) {
  ScriptedPrompter prompter;
  TestPty pty;
  ASSERT_TRUE(pty.ok());
  Link l(pty.slavePath());
  QElapsedTimer t;
  t.start();
  EXPECT_EQ(l.send(".G#"), -204);
  EXPECT_GE(t.elapsed(), 3900);
  EXPECT_LT(t.elapsed(), 8000);
}

TEST(FrameLink, NoPortChosenAsksForOneAndCancelNeverOpensThePort) {
  Rig r;
  r.link().COMPortDrv.SetPortNumber(pnCustom);
  int asked = 0;
  r.link().ShowOptionsModal = [&] {
    ++asked;
    return int{mrCancel};
  };
  EXPECT_EQ(r.send(".G#"), -100);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(r.l->device->opens, 0);

  r.link().ShowOptionsModal = [&] {
    r.link().COMPortDrv.SetPortNumber(pnCOM1);
    return int{mrOk};
  };
  EXPECT_EQ(r.send(".G#"), 0);

  r.link().COMPortDrv.SetPortNumber(pnCustom);
  r.link().ShowOptionsModal = nullptr;
  EXPECT_EQ(r.send(".G#"), -100) << "no window to ask: treated as cancelled";
}

TEST(FrameLink, AFailedConnectIsReportedByThePortAndReturnsMinus201) {
  Rig r;
  r.l->ini.map(1, r.l->ini.path() + QStringLiteral(".absent"));
  EXPECT_EQ(r.send(".G#"), -201);
  EXPECT_EQ(r.prompter.texts().front(), "ERROR: TCOMPort::Connect(): CreateFile(): ERR_NOTCONNECTED");
  EXPECT_EQ(r.link().SendCOMCmd(nullptr, 3), -102);
  std::vector<uint8_t> tooLong(kMaxPayload + 1, '.');
  EXPECT_EQ(r.l->send(tooLong), -102);
}

TEST(FrameLink, AnExchangeStartedDuringAWaitIsRefused) {
  Rig r;
  int nested = 1;
  // From inside the wait: the reader has the command and has not answered.
  r.model.OnRequest = [&](const std::vector<uint8_t>& frame) {
    if (frame[5] & 0x80) nested = r.send(".F#");
  };
  EXPECT_EQ(r.send(".G#"), 0);
  r.model.OnRequest = nullptr;
  EXPECT_EQ(nested, kErrExchangeRunning);
  EXPECT_EQ(r.l->u16At(7), 40u) << "the first exchange kept its reply";
  EXPECT_FALSE(r.link().ExchangeRunning());
}

// The software update speaks the loader's protocol over the port and closes
// it at its end: it may take only a line nothing else has, neither an
// exchange waiting for its reply, nor another update, nor a job between its
// commands (a download lets clicks through there). A refusal changes nothing.
TEST(FrameLink, ALoaderSessionTakesOnlyALineNothingElseHas) {
  Rig r;
  TFrameLink& link = r.link();
  int told = 0;
  QObject::connect(&link, &TFrameLink::LineTakenFromOthersChanged, [&] { ++told; });
  using Taken = std::function<void(const std::function<void()>&)>;
  const std::pair<const char*, Taken> cases[] = {
      {"a job between its commands",
       [&](const auto& during) {
         LineHold hold(&link.Channel());
         during();
       }},
      {"a job with its port open",
       [&](const auto& during) {
         LineHold hold(&link.Channel());
         ASSERT_EQ(r.send(".G#"), 0);
         ASSERT_TRUE(link.COMPortDrv.Connected());
         during();
         EXPECT_TRUE(link.COMPortDrv.Connected());
       }},
      {"an exchange waiting for its reply",
       [&](const auto& during) {
         r.model.OnRequest = [&](const std::vector<uint8_t>& frame) {
           if (frame[5] & 0x80) during();
         };
         EXPECT_EQ(r.send(".G#"), 0);
         r.model.OnRequest = nullptr;
       }},
      {"another update",
       [&](const auto& during) {
         ASSERT_TRUE(link.BeginLoaderSession());
         during();
         link.EndLoaderSession();
       }},
  };
  for (const auto& [by, taken] : cases) {
    int tries = 0;
    taken([&] {
      ++tries;
      const bool inUse = link.LineInUse();
      const int toldBefore = told;
      EXPECT_FALSE(link.BeginLoaderSession()) << by;
      EXPECT_EQ(told, toldBefore) << by;
      EXPECT_EQ(link.LineInUse(), inUse) << by;
    });
    EXPECT_EQ(tries, 1) << by;
    EXPECT_FALSE(link.LineInUse()) << by;
    EXPECT_TRUE(link.BeginLoaderSession()) << by << ": the line is free again";
    link.EndLoaderSession();
  }
}

// The windows grey their reader commands while the line is taken from them:
// from a holding job's first letting events through (told before those
// events pass) to its last release, and for the software update. A hold
// that lets nothing through, with its exchange, tells nothing.
TEST(FrameLink, TheLineIsTakenFromOthersOnlyOnceAHolderLetsEventsThrough) {
  Rig r;
  TFrameLink& link = r.link();
  QList<bool> told;
  QObject::connect(&link, &TFrameLink::LineTakenFromOthersChanged, [&](bool taken) { told << taken; });
  const auto letThrough = [&] {
    bool seen = false;
    QMetaObject::invokeMethod(
        &link, [&] { seen = link.LineTakenFromOthers(); }, Qt::QueuedConnection);
    link.LetEventsThroughHeld();
    EXPECT_TRUE(seen) << "taken while the events pass";
  };
  struct Case {
    const char* name;
    std::function<void()> run;
    QList<bool> told;
  };
  const Case cases[] = {
      {"a short hold",
       [&] {
         LineHold hold(&link.Channel());
         EXPECT_EQ(r.send(".G#"), 0);
       },
       {}},
      {"a job letting events through between its commands",
       [&] {
         LineHold hold(&link.Channel());
         letThrough();
         EXPECT_EQ(r.send(".G#"), 0);
         letThrough();
       },
       {true, false}},
      {"nested holds",
       [&] {
         LineHold outer(&link.Channel());
         {
           LineHold inner(&link.Channel());
           letThrough();
         }
         EXPECT_TRUE(link.LineTakenFromOthers()) << "until the last release";
       },
       {true, false}},
      {"the software update",
       [&] {
         ASSERT_TRUE(link.BeginLoaderSession());
         link.EndLoaderSession();
       },
       {true, false}},
  };
  for (const Case& c : cases) {
    told.clear();
    c.run();
    EXPECT_EQ(told, c.told) << c.name;
    EXPECT_FALSE(link.LineTakenFromOthers()) << c.name;
  }
}

TEST(FrameLink, DiagnosticBitsDumpFramesAndCanKeepThePortUntouched) {
  Rig r;
  const uint32_t saved = DiagFlags;
  QStringList log;
  setLogSink([&](const QString& line) { log << line; });
  FrameMonitorData shown;
  int monitors = 0;
  r.link().ShowFrameMonitor = [&](const FrameMonitorData& d) {
    shown = d;
    ++monitors;
  };

  DiagFlags = kDiagLog | kDiagMonitor | kDiagIndexDump;
  EXPECT_EQ(r.send(".G#"), 0);
  EXPECT_EQ(monitors, 2);
  EXPECT_EQ(shown.transmit.seqNum, "0");
  EXPECT_EQ(shown.transmit.si, "1");
  EXPECT_EQ(shown.receive.sync, "A116FC");
  EXPECT_EQ(shown.receive.length, "11");
  EXPECT_TRUE(log.contains(
      QStringLiteral("TrmFrame:  (000)A1 (001)16 (002)FC (003)08 (004)00 (005)00 (006)C4 (007)1E")));
  EXPECT_TRUE(log.contains(QStringLiteral("TIoForm::SendFrameCOMCmd(): ok")));

  // Bit 0x80: nothing is sent or awaited.
  r.model.Requests.clear();
  DiagFlags = kDiagNoPort;
  EXPECT_EQ(r.send(".G#"), 0);
  EXPECT_TRUE(r.model.Requests.empty());

  DiagFlags = saved;
  setLogSink(nullptr);
}

// The data classes talk to the simulated reader through the link's channel.
TEST(FrameLink, TheDataBlockCommandsWorkAgainstTheSimulatedReader) {
  Rig r(FaultOptions{}, 0);
  r.model.LoadBlocks(MakeSampleBlocks({300, 2, 1900}));  // 1900..2047, 0..151
  r.model.SetUnsaved(12);
  SetCommandChannel(&r.link().Channel());
  TNurvoDataBlock data(nullptr);
  EXPECT_EQ(data.SkimCOM(), 0);
  EXPECT_EQ(data.ValidBlocks, 300u);
  EXPECT_EQ(data.LastBlock, 151u);
  EXPECT_EQ(data.GetLastUnsavedCOMBlock(), 0);
  EXPECT_EQ(data.LastUnsaved, 140u);

  SearchRequest q;
  std::memset(&q, 0, sizeof q);
  q.StartBlock = static_cast<uint16_t>(data.LastBlock);
  q.FromBlock = static_cast<uint16_t>(data.LastBlock + 1);
  int count = 0;
  EXPECT_EQ(data.SearchCOMBlocks(q, sizeof q, &count), 0);
  EXPECT_EQ(count, 20);
  EXPECT_EQ(int{data.Summaries[0].BlockNumber}, 151);
  EXPECT_EQ(int{data.Summaries[19].BlockNumber}, 132);

  EXPECT_EQ(data.ReadCOMBlock(2000), 0);
  EXPECT_EQ(int{data.Record.BlockNumber}, 2000);
  EXPECT_EQ(std::memcmp(&data.Record.DateTime, r.model.Block(2000).DateTime, 5), 0);
  EXPECT_EQ(data.AckLastUnsavedCOMBlock(151), 0);
  EXPECT_EQ(data.GetLastUnsavedCOMBlock(), 0);
  EXPECT_EQ(data.LastUnsaved, 0xFFFFu);
  SetCommandChannel(nullptr);
  EXPECT_TRUE(r.prompter.messages.empty());
}
