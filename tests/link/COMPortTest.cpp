// TCOMPort: the failure table and the poll against a device whose queues the
// test controls, and the real termios device over pseudo-terminals.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cerrno>
#include <cstring>
#include <deque>
#include <map>
#include <memory>

#include "LinkTestSupport.h"
#include "ScriptedPrompter.h"
#include "Unprivileged.h"
#include "base/ErrorCodes.h"
#include "link/COMPort.h"
#include "link/PortMap.h"

using namespace quelm;
using quelm::test::ScriptedPrompter;
using quelm::test::TestIni;
using quelm::test::TestPty;

namespace {

// A device with scripted queues and failures; records what was asked of it.
class FakeDevice final : public SerialDevice {
 public:
  struct Log {
    QStringList calls;
    std::vector<LineSettings> lines;
    std::vector<uint8_t> written;
  };
  explicit FakeDevice(Log& log) : log_(log) {}

  std::map<QString, int> failures;  // call name -> errno
  std::deque<uint8_t> input;
  uint32_t queued = 0;
  bool drains = true;  // the transmit queue empties at once
  bool modemPresent = true;
  bool anyLineOn = true;

  int open(const QByteArray&) override {
    return call("open", [&] { open_ = true; });
  }
  int close() override {
    const int e = call("close");
    open_ = false;  // as on Linux: the descriptor is gone even on failure
    return e;
  }
  bool isOpen() const override { return open_; }
  int setLine(const LineSettings& s) override {
    return call("setLine", [&] { log_.lines.push_back(s); });
  }
  int setImmediateReads() override { return call("setImmediateReads"); }
  int flush(bool in, bool out) override {
    return call(QStringLiteral("flush(%1,%2)").arg(in).arg(out), [&] {
      if (in) input.clear();
    });
  }
  int setModemLine(ModemLine line, bool on) override {
    return call(QStringLiteral("%1=%2").arg(line == kLineDTR ? "DTR" : "RTS").arg(on));
  }
  int modemStatus(bool* on, bool* present) override {
    *on = anyLineOn;
    *present = modemPresent;
    return call("modemStatus");
  }
  int outQueued(uint32_t* n) override {
    *n = queued;
    return call("outQueued");
  }
  int inWaiting(uint32_t* n) override {
    *n = static_cast<uint32_t>(input.size());
    return call("inWaiting");
  }
  int read(uint8_t* b, uint32_t n, uint32_t* got) override {
    *got = 0;
    return call("read", [&] {
      while (*got < n && !input.empty()) {
        b[(*got)++] = input.front();
        input.pop_front();
      }
    });
  }
  int write(const uint8_t* d, uint32_t n, uint32_t* put) override {
    *put = 0;
    return call("write", [&] {
      log_.written.insert(log_.written.end(), d, d + n);
      *put = n;
      if (!drains) queued += n;
    });
  }
  void waitReadable(int) override {}
  void waitWritable(int) override {}
  void pause(int ms) override { ::usleep(static_cast<useconds_t>(ms) * 1000); }

 private:
  template <typename F = void (*)()>
  int call(
      const QString& name, F effect = [] {}) {
    log_.calls << name;
    const auto it = failures.find(name);
    if (it != failures.end()) return it->second;
    effect();
    return 0;
  }
  Log& log_;
  bool open_ = false;
};

struct FakePort {
  FakeDevice::Log log;
  FakeDevice* device;
  TCOMPort port;
  TestIni ini;
  FakePort() {
    auto d = std::make_unique<FakeDevice>(log);
    device = d.get();
    port.SetDevice(std::move(d));
    ini.map(1, QStringLiteral("/dev/fake"));
    port.IniFileName = ini.path();
  }
};

}  // namespace

TEST(COMPort, ConstructsWithTheComponentDefaults) {
  TCOMPort p;
  EXPECT_EQ(p.BaudRate(), br9600);
  EXPECT_EQ(p.PortNumber(), pnCOM1);
  EXPECT_EQ(p.DataBits(), db8BITS);
  EXPECT_EQ(p.StopBits(), sb1BIT);
  EXPECT_EQ(p.Parity(), ptNONE);
  EXPECT_EQ(p.InBufSize(), 4096u);
  EXPECT_EQ(p.OutBufSize(), 2048u);
  EXPECT_EQ(p.PollDelay(), 50u);
  EXPECT_TRUE(p.EnaDTROnOpen);
  EXPECT_FALSE(p.ChkLineStatus);
  EXPECT_FALSE(p.Connected());
  EXPECT_EQ(Win32BaudRates[br19200], 19200u);
  EXPECT_EQ(Win32BaudRates[brCustom], 0u);
}

TEST(COMPort, CustomPortAndMissingDevicesFailWithBothMessages) {
  ScriptedPrompter prompter;
  TestIni ini;
  ini.map(3, ini.path() + QStringLiteral(".no-such-device"));
  TCOMPort p;
  p.IniFileName = ini.path();

  for (TPortNumber n : {pnCustom, pnCOM3}) {
    prompter.clear();
    p.SetPortNumber(n);
    EXPECT_EQ(p.Connect(), -2);
    EXPECT_FALSE(p.Connected());
    ASSERT_EQ(prompter.messages.size(), 2u);
    EXPECT_EQ(prompter.messages[0].text, "ERROR: TCOMPort::Connect(): CreateFile(): ERR_NOTCONNECTED");
    EXPECT_EQ(prompter.messages[1].title, "GetLastError()");
    EXPECT_EQ(prompter.messages[1].kind, MessageKind::Information);
    EXPECT_EQ(prompter.messages[1].text, QString::fromLocal8Bit(std::strerror(ENOENT)));
  }
}

TEST(COMPort, ADeviceTheUserMayNotOpenIsExplainedOnceAfterTheConnectError) {
  const QString connectError = ErrorMessage(kErrComConnect).message;
  for (const int error : {EACCES, EPERM, ENOENT, EBUSY}) {
    const bool denied = error == EACCES || error == EPERM;
    ScriptedPrompter prompter;
    FakePort f;
    f.device->failures["open"] = error;
    ASSERT_EQ(connectForExchange(f.port), kErrComConnect);
    ReportError(kErrComConnect);
    ReportError(kErrComConnect);  // a later report is not explained again
    ASSERT_EQ(prompter.messages.size(), 4u) << error;
    EXPECT_EQ(prompter.messages[0].text, "ERROR: TCOMPort::Connect(): CreateFile(): ERR_NOTCONNECTED");
    EXPECT_EQ(prompter.messages[1].text, QString::fromLocal8Bit(std::strerror(error)));
    EXPECT_EQ(prompter.messages[2].text, connectError);
    EXPECT_EQ(prompter.messages[2].note, denied ? permissionNote(QStringLiteral("/dev/fake")) : QString());
    EXPECT_TRUE(prompter.messages[3].note.isEmpty());
  }
  const QString note = permissionNote(QStringLiteral("/dev/ttyUSB0"));
  for (const char* part : {"/dev/ttyUSB0", "permission", "sudo adduser $USER dialout", "log in again"})
    EXPECT_TRUE(note.contains(QLatin1String(part))) << part << " in " << note.toStdString();
}

TEST(COMPort, TheSystemRefusesADeviceNodeToAUserWithoutPermission) {
  QTemporaryDir dir;
  const QString node = quelm::test::forbiddenDevice(dir);
  ASSERT_FALSE(node.isEmpty());
  const QByteArray opened = test::runUnprivileged([&] {
    ScriptedPrompter prompter;
    TCOMPort port;
    port.DeviceOverride = node;
    const int rc = connectForExchange(port);
    return QByteArray::number(rc) + ' ' + QByteArray::number(port.OpenError());
  });
  EXPECT_EQ(opened, QByteArray::number(kErrComConnect) + ' ' + QByteArray::number(EACCES));
}

TEST(PortMap, UsesTheIniKeyOrTheFirstSerialPortsByNumber) {
  TestIni ini;
  ini.map(1, QStringLiteral("/dev/serial/by-id/usb-reader"));
  EXPECT_EQ(comDevicePath(1, ini.path()), "/dev/serial/by-id/usb-reader");
  EXPECT_EQ(comDevicePath(2, ini.path()), "/dev/ttyS1");
  EXPECT_EQ(comDevicePath(16, ini.path() + QStringLiteral(".missing")), "/dev/ttyS15");
  EXPECT_TRUE(comDevicePath(0, ini.path()).isEmpty());
}

TEST(COMPort, SettersClampAndRefuseWhileOpen) {
  ScriptedPrompter prompter;
  FakePort f;
  f.port.SetInBufSize(50);
  EXPECT_EQ(f.port.InBufSize(), 128u);
  f.port.SetInBufSize(10000);
  EXPECT_EQ(f.port.InBufSize(), 8192u);
  f.port.SetOutBufSize(1);
  EXPECT_EQ(f.port.OutBufSize(), 128u);
  f.port.SetOutBufSize(9000);
  EXPECT_EQ(f.port.OutBufSize(), 8192u);
  f.port.SetPollDelay(1);
  EXPECT_EQ(f.port.PollDelay(), 5u);
  EXPECT_TRUE(prompter.messages.empty());

  ASSERT_EQ(f.port.Connect(), 0);
  f.port.SetPortNumber(pnCOM2);
  f.port.SetInBufSize(256);
  f.port.SetOutBufSize(256);
  EXPECT_EQ(f.port.PortNumber(), pnCOM1);
  EXPECT_EQ(f.port.InBufSize(), 8192u);
  EXPECT_EQ(f.port.OutBufSize(), 8192u);
  EXPECT_EQ(prompter.texts(), QStringList({"ERROR: TCOMPort::SetPortName(): ERR_CONNECTED",
                                           "ERROR: TCOMPort::SetInBufSize(): ERR_CONNECTED",
                                           "ERROR: TCOMPort::SetOutBufSize(): ERR_CONNECTED"}));
}

TEST(COMPort, ConnectAppliesTheLineAndASecondConnectLeavesTheDeviceAlone) {
  ScriptedPrompter prompter;
  FakePort f;
  f.port.SetBaudRate(br19200);
  f.port.SetParity(ptMARK);
  f.port.SetHwFlowCtrl(hfNONERTSON);
  ASSERT_EQ(f.port.Connect(), 0);
  EXPECT_EQ(f.log.calls,
            QStringList({"open", "setLine", "DTR=1", "RTS=1", "flush(1,1)", "setImmediateReads"}));
  ASSERT_EQ(f.log.lines.size(), 1u);
  EXPECT_EQ(f.log.lines[0].baud, 19200u);
  EXPECT_EQ(f.log.lines[0].dataBits, 8);
  EXPECT_EQ(f.log.lines[0].parity, 3);

  f.log.calls.clear();
  EXPECT_EQ(f.port.Connect(), -1);
  EXPECT_EQ(prompter.texts(), QStringList({"WARNING: TCOMPort::Connect(): ERR_CONNECTED"}));
  EXPECT_TRUE(f.log.calls.isEmpty());

  // A new rate while open re-applies everything and flushes both ways.
  f.port.SetBaudRate(br256000);
  EXPECT_EQ(f.log.calls, QStringList({"setLine", "DTR=1", "RTS=1", "flush(1,1)"}));
  EXPECT_EQ(f.log.lines.back().baud, 256000u);
}

TEST(COMPort, FailedSettingsLeaveTheDeviceOpenWithTheirMessages) {
  ScriptedPrompter prompter;
  FakePort f;
  f.device->failures["setLine"] = EINVAL;
  EXPECT_EQ(f.port.Connect(), -3);
  EXPECT_TRUE(f.port.Connected());
  ASSERT_EQ(prompter.messages.size(), 3u);
  EXPECT_EQ(prompter.messages[0].text, "ERROR: TCOMPort::ApplyCOMSettings(): ERR_SETCOMSTATE");
  EXPECT_EQ(prompter.messages[1].title, "GetLastError()");
  EXPECT_EQ(prompter.messages[2].text, "ERROR: TCOMPort::Connect(): Cannot apply COM settings");

  prompter.clear();
  f.device->failures.erase("setLine");
  f.device->failures["flush(1,1)"] = EIO;
  EXPECT_EQ(f.port.ApplyCOMSettings(), -9);
  EXPECT_EQ(prompter.texts(), QStringList({"ERROR: TCOMPort::FlushBuffers(): ERR_PURGECOMM",
                                           QString::fromLocal8Bit(std::strerror(EIO)),
                                           "ERROR: TCOMPort::ApplyCOMSettings(): ERR_PURGECOMM"}));
}

TEST(COMPort, ClosedPortCallsAreQuietWhereTheyShouldBe) {
  ScriptedPrompter prompter;
  FakePort f;
  EXPECT_EQ(f.port.Disconnect(), 0);
  EXPECT_EQ(f.port.ToggleDTR(true), 0);
  EXPECT_EQ(f.port.ToggleRTS(false), 0);
  EXPECT_TRUE(prompter.messages.empty());
  EXPECT_TRUE(f.log.calls.isEmpty());

  EXPECT_EQ(f.port.SendData("x", 1), -2);
  EXPECT_EQ(f.port.FlushBuffers(true, false), -2);
  uint8_t b;
  EXPECT_EQ(f.port.ReadByte(&b), -2);
  EXPECT_EQ(f.port.ApplyCOMSettings(), -2);
  EXPECT_EQ(prompter.texts(), QStringList({"ERROR: TCOMPort::SendData(): ERR_NOTCONNECTED",
                                           "WARNING: TCOMPort::FlushBuffers(): ERR_NOTCONNECTED",
                                           "ERROR: TCOMPort::ReadData(): ERR_NOTCONNECTED",
                                           "ERROR: TCOMPort::ApplyCOMSettings(): ERR_NOTCONNECTED"}));
}

TEST(COMPort, SendDataWritesEverythingOrStopsAtTheStallLimit) {
  ScriptedPrompter prompter;
  FakePort f;
  ASSERT_EQ(f.port.Connect(), 0);
  f.log.calls.clear();
  EXPECT_EQ(f.port.SendData("abc", 0), 0);
  EXPECT_TRUE(f.log.calls.isEmpty()) << "n = 0 touches nothing";

  EXPECT_EQ(f.port.SendStr("hello"), 5);
  EXPECT_EQ(f.port.SendByte(0x00), 1);
  EXPECT_EQ(f.log.written, std::vector<uint8_t>({'h', 'e', 'l', 'l', 'o', 0}));

  // A transmit queue that never drains: the first OutBufSize bytes go, then
  // the stall limit ends the write.
  f.log.written.clear();
  f.device->drains = false;
  f.port.OutTimeout = 60;
  std::vector<uint8_t> data(5000, 0x55);
  QElapsedTimer t;
  t.start();
  EXPECT_EQ(f.port.SendData(data.data(), 5000), -12);
  EXPECT_GE(t.elapsed(), 60);
  EXPECT_EQ(f.log.written.size(), 2048u);
  EXPECT_EQ(prompter.texts().back(), "ERROR: TCOMPort::SendData(): ERR_TIMEOUT");
}

TEST(COMPort, SendDataChecksModemLinesOnlyWhereTheLineHasThem) {
  ScriptedPrompter prompter;
  FakePort f;
  ASSERT_EQ(f.port.Connect(), 0);
  f.port.ChkLineStatus = true;
  f.device->modemPresent = false;
  f.device->anyLineOn = false;
  EXPECT_EQ(f.port.SendByte(1), 1);
  f.device->modemPresent = true;
  EXPECT_EQ(f.port.SendByte(1), -10);
  EXPECT_EQ(prompter.texts(), QStringList({"ERROR: TCOMPort::SendData(): ERR_MODEMSTATUS"}));
  f.device->failures["modemStatus"] = EIO;
  EXPECT_EQ(f.port.SendByte(1), -14);
  f.device->failures["write"] = EIO;
  f.port.ChkLineStatus = false;
  EXPECT_EQ(f.port.SendByte(1), -11);
  f.device->failures["outQueued"] = EIO;
  EXPECT_EQ(f.port.SendByte(1), -13);
}

TEST(COMPort, PollDeliversAtMostInBufSizePerTick) {
  ScriptedPrompter prompter;
  FakePort f;
  std::vector<uint32_t> batches;
  std::vector<uint8_t> received;
  f.port.OnReceiveData = [&](QObject* sender, const uint8_t* data, uint32_t size) {
    EXPECT_EQ(sender, &f.port);
    batches.push_back(size);
    received.insert(received.end(), data, data + size);
  };
  ASSERT_EQ(f.port.Connect(), 0);
  for (int i = 0; i < 5000; ++i) f.device->input.push_back(static_cast<uint8_t>(i * 7));
  f.port.TimerWndProc();
  f.port.TimerWndProc();
  f.port.TimerWndProc();  // nothing left: no call
  EXPECT_EQ(batches, std::vector<uint32_t>({4096, 904}));
  ASSERT_EQ(received.size(), 5000u);
  for (int i = 0; i < 5000; ++i) ASSERT_EQ(received[i], static_cast<uint8_t>(i * 7));
}

TEST(COMPort, AFailingDeviceIsReportedOnceAndClosedEvenIfThePollTicksDuringTheBox) {
  ScriptedPrompter prompter;
  FakePort f;
  ASSERT_EQ(f.port.Connect(), 0);
  f.device->failures["inWaiting"] = EIO;
  int ticksDuringBoxes = 0;
  prompter.whileShown = [&] {
    ++ticksDuringBoxes;
    f.port.TimerWndProc();  // the timer fires inside the box's event loop
  };
  f.port.TimerWndProc();
  EXPECT_EQ(prompter.texts(), QStringList({"ERROR: TCOMPort::TimerWndProc(): ClearComError()",
                                           QString::fromLocal8Bit(std::strerror(EIO))}));
  EXPECT_EQ(ticksDuringBoxes, 2);
  EXPECT_FALSE(f.port.Connected());
  EXPECT_EQ(f.port.DeviceFailure(), -13);
  EXPECT_EQ(f.log.calls.count("close"), 1);
  f.port.TimerWndProc();  // closed: nothing more
  EXPECT_EQ(prompter.messages.size(), 2u);
  f.device->failures.erase("inWaiting");
  ASSERT_EQ(f.port.Connect(), 0);
  EXPECT_EQ(f.port.DeviceFailure(), 0);
}

TEST(COMPort, ReadDataPausesThePollAndStopsAfterInTimeout) {
  ScriptedPrompter prompter;
  FakePort f;
  int calls = 0;
  f.port.OnReceiveData = [&](QObject*, const uint8_t*, uint32_t) { ++calls; };
  ASSERT_EQ(f.port.Connect(), 0);
  f.device->input = {1, 2, 3};
  f.port.InTimeout = 20;
  EXPECT_EQ(f.port.PausePoll(), 1);
  EXPECT_FALSE(f.port.IsPoll());
  f.port.TimerWndProc();
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(f.port.ContPoll(), 0);
  EXPECT_TRUE(f.port.IsPoll());

  uint8_t buf[8] = {};
  EXPECT_EQ(f.port.ReadData(buf, 8), 3);
  EXPECT_EQ(buf[2], 3);
  EXPECT_TRUE(f.port.IsPoll());
  char c = 0;
  f.device->input = {'Q'};
  EXPECT_EQ(f.port.ReadChar(&c), 1);
  EXPECT_EQ(c, 'Q');
}

TEST(COMPort, DisconnectFailureIsReportedAndTheDescriptorIsNeverReused) {
  ScriptedPrompter prompter;
  FakePort f;
  ASSERT_EQ(f.port.Connect(), 0);
  f.device->failures["close"] = EIO;
  EXPECT_EQ(f.port.Disconnect(), -8);
  EXPECT_EQ(prompter.texts().front(), "ERROR: TCOMPort::Disconnect(): CLOSEFHandle");
  EXPECT_FALSE(f.port.Connected());
  f.device->failures.erase("close");
  EXPECT_EQ(f.port.Connect(), 0) << "the port can be opened again";
}

TEST(COMPort, ModemLineFailuresOfARealLineAreReported) {
  ScriptedPrompter prompter;
  FakePort f;
  ASSERT_EQ(f.port.Connect(), 0);
  f.device->failures["DTR=0"] = EIO;
  f.device->failures["RTS=1"] = EIO;
  EXPECT_EQ(f.port.ToggleDTR(false), -15);
  EXPECT_EQ(f.port.ToggleRTS(true), -15);
  EXPECT_EQ(prompter.texts()[0], "ERROR: TCOMPort::ToggleDTR(): ERR_ESCAPECOMM");
  EXPECT_EQ(prompter.texts()[2], "ERROR: TCOMPort::ToggleRTS(): ERR_ESCAPECOMM");
}

// --- the termios device over pseudo-terminals ---

TEST(COMPortOnPty, ASecondOpenerIsRefusedUntilTheFirstCloses) {
  ScriptedPrompter prompter;
  TestPty pty;
  ASSERT_TRUE(pty.ok());
  TestIni ini;
  ini.map(1, pty.slavePath());
  ini.map(2, pty.slavePath());
  TCOMPort a, b;
  a.IniFileName = b.IniFileName = ini.path();
  b.SetPortNumber(pnCOM2);

  ASSERT_EQ(a.Connect(), 0) << prompter.texts().join(" | ").toStdString();
  EXPECT_EQ(b.Connect(), -2);
  EXPECT_FALSE(b.Connected());
  ASSERT_EQ(prompter.messages.size(), 2u);
  EXPECT_EQ(prompter.messages[0].text, "ERROR: TCOMPort::Connect(): CreateFile(): ERR_NOTCONNECTED");
  EXPECT_EQ(prompter.messages[1].text, QString::fromLocal8Bit(std::strerror(EBUSY)));

  prompter.clear();
  EXPECT_EQ(a.Disconnect(), 0);
  EXPECT_EQ(b.Connect(), 0);
  EXPECT_TRUE(prompter.messages.empty());
}

TEST(COMPortOnPty, AppliesEveryListedRateParityAndStopBitsWithoutModemLines) {
  ScriptedPrompter prompter;
  TestPty pty;
  ASSERT_TRUE(pty.ok());
  TestIni ini;
  ini.map(1, pty.slavePath());
  TCOMPort p;
  p.IniFileName = ini.path();
  ASSERT_EQ(p.Connect(), 0);
  for (int r = br110; r <= br256000; ++r) {
    prompter.clear();
    p.SetBaudRate(static_cast<TBaudRate>(r));
    EXPECT_EQ(p.ApplyCOMSettings(), 0) << Win32BaudRates[r];
    EXPECT_TRUE(prompter.messages.empty()) << Win32BaudRates[r];
  }
  for (int parity = ptNONE; parity <= ptSPACE; ++parity) {
    p.SetParity(static_cast<TParity>(parity));
    EXPECT_EQ(p.ApplyCOMSettings(), 0) << parity;
  }
  p.SetStopBits(sb2BITS);
  EXPECT_EQ(p.ApplyCOMSettings(), 0);
  EXPECT_EQ(p.ToggleDTR(false), 0);
  EXPECT_EQ(p.ToggleRTS(true), 0);
  EXPECT_TRUE(prompter.messages.empty());

  // One and a half stop bits exist only with five data bits.
  p.SetStopBits(sb1HALFBITS);
  EXPECT_EQ(p.ApplyCOMSettings(), -3);
  p.SetDataBits(db5BITS);
  EXPECT_EQ(p.ApplyCOMSettings(), 0);
  // The empty rate of "-----" is refused by the line.
  p.SetBaudRate(brCustom);
  EXPECT_EQ(p.ApplyCOMSettings(), -3);
}

TEST(COMPortOnPty, BytesArriveInOrderThroughThePoll) {
  ScriptedPrompter prompter;
  TestPty pty;
  ASSERT_TRUE(pty.ok());
  TestIni ini;
  ini.map(1, pty.slavePath());
  TCOMPort p;
  p.IniFileName = ini.path();
  p.SetPollDelay(5);
  std::vector<uint8_t> received;
  uint32_t largest = 0;
  p.OnReceiveData = [&](QObject*, const uint8_t* d, uint32_t n) {
    received.insert(received.end(), d, d + n);
    largest = std::max(largest, n);
  };
  ASSERT_EQ(p.Connect(), 0);
  std::vector<uint8_t> data(5000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i % 251);
  pty.write(data);
  QElapsedTimer t;
  t.start();
  while (received.size() < data.size() && t.elapsed() < 3000)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  EXPECT_EQ(received, data);
  EXPECT_LE(largest, 4096u);

  // And the other way.
  EXPECT_EQ(p.SendStr("ping"), 4);
  EXPECT_EQ(pty.read(4, 1000), std::vector<uint8_t>({'p', 'i', 'n', 'g'}));
}
