#include "link/COMPort.h"

#include <grp.h>
#include <sys/stat.h>

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "base/Config.h"
#include "base/ErrorCodes.h"
#include "base/Prompter.h"
#include "link/PortMap.h"

using quelm::SerialDevice;

namespace {
constexpr uint32_t kMinBufSize = 128;
constexpr uint32_t kMaxBufSize = 8192;
constexpr uint32_t kMinPollDelay = 5;
}  // namespace

namespace quelm {

QString permissionNote(const QString& device) {
  // Debian gives serial devices to the group dialout; a device that names
  // another group which may use it (uucp elsewhere) is helped by that one.
  QString group = QStringLiteral("dialout");
  struct stat st {};
  if (::stat(QFile::encodeName(device).constData(), &st) == 0 && st.st_gid != 0 &&
      (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP))
    if (const struct group* g = ::getgrgid(st.st_gid)) group = QString::fromLocal8Bit(g->gr_name);
  return QStringLiteral(
             "No permission to open %1: this user may not use the serial device. On Debian add the user to "
             "the group %2 (sudo adduser $USER %2), then log in again.")
      .arg(device, group);
}

int connectForExchange(TCOMPort& port) {
  if (port.Connected() || port.Connect() == 0) return kOk;
  const int e = port.OpenError();
  explainNextReport(kErrComConnect,
                    e == EACCES || e == EPERM ? permissionNote(port.DevicePath()) : QString());
  return kErrComConnect;
}

}  // namespace quelm

TCOMPort::TCOMPort(QObject* owner) : QObject(owner), Device(quelm::makePosixSerialDevice()) {
  Clock.start();
  PollTimer.setTimerType(Qt::CoarseTimer);
  connect(&PollTimer, &QTimer::timeout, this, &TCOMPort::TimerWndProc);
  Notifier.setEnabled(false);
  connect(&Notifier, &QSocketNotifier::activated, this, &TCOMPort::OnReadable);
  try {
    InBuffer.assign(InBufSize_, 0);
  } catch (const std::bad_alloc&) {
    message(QStringLiteral("ERROR: TCOMPort(): ERR_ALLOCMEM"));
  }
}

TCOMPort::~TCOMPort() {
  // No boxes from a destructor: the program is going away.
  PollTimer.stop();
  Notifier.setEnabled(false);
  if (Device) Device->close();
}

// A box runs an event loop of its own. Were the poll to go on there, a device
// that keeps failing would open box upon box without end; so it rests until
// the operator has closed the box.
void TCOMPort::message(const QString& text) {
  PausePoll();
  quelm::showMessage(quelm::MessageKind::Plain, QString(), text);
  ContPoll();
}

int TCOMPort::fault(const QString& text, int error, int code) {
  message(text);
  systemError(error);
  return code;
}

void TCOMPort::systemError(int error) {
  LastError = error;
  errno = error;
  GetSysErrMsg();
}

int TCOMPort::GetSysErrMsg() {
  PausePoll();
  const int e = SysErrorBox(LastError);
  ContPoll();
  return e;
}

void TCOMPort::EnableNotifier(bool on) {
  if (Notifier.isValid()) Notifier.setEnabled(on && Connected() && PollPause <= 0);
}

uint64_t TCOMPort::now() const { return static_cast<uint64_t>(Clock.elapsed()); }

bool TCOMPort::Connected() const { return Device && Device->isOpen(); }

QString TCOMPort::DevicePath() const {
  return DeviceOverride.isEmpty() ? DevicePathFor(PortNumber_) : DeviceOverride;
}

QString TCOMPort::DevicePathFor(int portNumber) const {
  return quelm::comDevicePath(portNumber, IniFileName.isEmpty() ? quelm::configFilePath() : IniFileName);
}

void TCOMPort::SetDevice(std::unique_ptr<SerialDevice> device) {
  if (Connected()) return;
  Device = std::move(device);
}

int TCOMPort::Connect() {
  if (Connected()) {
    message(QStringLiteral("WARNING: TCOMPort::Connect(): ERR_CONNECTED"));
    return kPortConnected;
  }
  DeviceFailure_ = 0;
  const QString path = DevicePath();
  const int e = path.isEmpty() ? ENOENT : Device->open(QFile::encodeName(path));
  OpenError_ = e;
  if (e != 0)
    return fault(QStringLiteral("ERROR: TCOMPort::Connect(): CreateFile(): ERR_NOTCONNECTED"), e,
                 kPortNotConnected);
  if (const int rc = ApplyCOMSettings(); rc != 0) {
    message(QStringLiteral("ERROR: TCOMPort::Connect(): Cannot apply COM settings"));
    return rc;
  }
  if (const int te = Device->setImmediateReads(); te != 0)
    return fault(QStringLiteral("ERROR: TCOMPort::Connect(): SetCommTimeouts(): ERR_SETCOMTIMEOUTS"), te,
                 kPortSetTimeouts);
  PollTimer.start(static_cast<int>(PollDelay_));
  if (!PollTimer.isActive())
    return fault(QStringLiteral("ERROR: TCOMPort::Connect(): SetTimer(): ERR_SETTIMER"), EAGAIN,
                 kPortSetTimer);
  // Received bytes are taken the moment they arrive, not at the next tick:
  // otherwise every exchange would last a whole number of poll periods.
  if (const int fd = Device->descriptor(); fd >= 0) {
    Notifier.setSocket(fd);
    EnableNotifier(true);
  }
  return 0;
}

int TCOMPort::Disconnect() {
  if (!Connected()) return 0;
  PollTimer.stop();
  Notifier.setEnabled(false);
  if (PollTimer.isActive())
    return fault(QStringLiteral("ERROR: TCOMPort::Disconnect(): ERR_KILLTIMER"), EAGAIN,
                 quelm::kErrTimerKill);
  // The device reports the failure, but the descriptor is gone either way:
  // it is never recorded as open again, so no later write can reach a
  // descriptor the system has handed to someone else.
  if (const int e = Device->close(); e != 0)
    return fault(QStringLiteral("ERROR: TCOMPort::Disconnect(): CLOSEFHandle"), e, quelm::kErrHandleClose);
  return 0;
}

int TCOMPort::ApplyCOMSettings() {
  if (!Connected()) {
    message(QStringLiteral("ERROR: TCOMPort::ApplyCOMSettings(): ERR_NOTCONNECTED"));
    return kPortNotConnected;
  }
  quelm::LineSettings s;
  s.baud = Win32BaudRates[std::clamp(static_cast<int>(BaudRate_), 0, 15)];
  s.dataBits = 5 + DataBits_;
  s.stopBits = StopBits_;
  s.parity = Parity_;
  s.rtsCts = HwFlowCtrl_ == hfRTSCTS;
  s.xonXoff = SwFlowCtrl_ == sfXONXOFF;
  int e = Device->setLine(s);
  if (e == 0) e = Device->setModemLine(quelm::kLineDTR, EnaDTROnOpen);
  // With RTS/CTS the driver owns RTS; otherwise it is held as configured.
  if (e == 0 && HwFlowCtrl_ != hfRTSCTS)
    e = Device->setModemLine(quelm::kLineRTS, HwFlowCtrl_ == hfNONERTSON);
  if (e != 0)
    return fault(QStringLiteral("ERROR: TCOMPort::ApplyCOMSettings(): ERR_SETCOMSTATE"), e, kPortSetState);
  if (FlushBuffers(true, true) != 0) {
    message(QStringLiteral("ERROR: TCOMPort::ApplyCOMSettings(): ERR_PURGECOMM"));
    return kPortPurge;
  }
  // The driver's queues have fixed sizes here; InBufSize and OutBufSize
  // bound what the poll reads and what SendData queues.
  return 0;
}

int TCOMPort::FlushBuffers(bool in, bool out) {
  if (!Connected()) {
    message(QStringLiteral("WARNING: TCOMPort::FlushBuffers(): ERR_NOTCONNECTED"));
    return kPortNotConnected;
  }
  if (const int e = Device->flush(in, out); e != 0)
    return fault(QStringLiteral("ERROR: TCOMPort::FlushBuffers(): ERR_PURGECOMM"), e, kPortPurge);
  return 0;
}

int TCOMPort::ToggleDTR(bool on) { return setModemLine(quelm::kLineDTR, on, "ToggleDTR"); }

int TCOMPort::ToggleRTS(bool on) { return setModemLine(quelm::kLineRTS, on, "ToggleRTS"); }

int TCOMPort::setModemLine(quelm::ModemLine line, bool on, const char* caller) {
  if (!Connected()) return 0;
  if (const int e = Device->setModemLine(line, on); e != 0)
    return fault(QStringLiteral("ERROR: TCOMPort::%1(): ERR_ESCAPECOMM").arg(QLatin1String(caller)), e,
                 kPortEscape);
  return 0;
}

int TCOMPort::SendData(const void* data, uint32_t n) { return SendDataEx(data, n, OutTimeout); }

int TCOMPort::SendDataEx(const void* data, uint32_t n, uint32_t timeout) {
  if (!Connected()) {
    message(QStringLiteral("ERROR: TCOMPort::SendData(): ERR_NOTCONNECTED"));
    return kPortNotConnected;
  }
  const auto* p = static_cast<const uint8_t*>(data);
  uint64_t progress = now();
  uint32_t written = 0;
  while (written < n) {
    uint32_t queued = 0;
    if (const int e = Device->outQueued(&queued); e != 0)
      return fault(QStringLiteral("ERROR: TCOMPort::SendData(): ERR_CLEARCOMMERR"), e, kPortClearError);
    const uint32_t room = OutBufSize_ > queued ? OutBufSize_ - queued : 0;
    if (room != 0) {
      if (ChkLineStatus) {
        bool anyOn = false, present = false;
        if (const int e = Device->modemStatus(&anyOn, &present); e != 0)
          return fault(QStringLiteral("ERROR: TCOMPort::SendDataEx(): ERR_GETCOMMMODEMSTAT"), e,
                       kPortGetModemStatus);
        // A line without modem signals (a pseudo-terminal) cannot tell a
        // missing cable; only real lines are checked.
        if (present && !anyOn) {
          message(QStringLiteral("ERROR: TCOMPort::SendData(): ERR_MODEMSTATUS"));
          return kPortModemStatus;
        }
      }
      uint32_t put = 0;
      if (const int e = Device->write(p + written, std::min(room, n - written), &put); e != 0)
        return fault(QStringLiteral("ERROR: TCOMPort::SendData(): ERR_COMWRITE"), e, kPortWrite);
      if (put != 0) {
        written += put;
        progress = now();
        continue;
      }
    }
    const uint64_t t = now();
    if (t - progress > timeout) {
      message(QStringLiteral("ERROR: TCOMPort::SendData(): ERR_TIMEOUT"));
      return kPortWriteTimeout;
    }
    const int left = static_cast<int>(progress + timeout + 1 - t);
    // Sleep until the driver takes bytes again instead of spinning; when our
    // own queue limit is the obstacle, the driver cannot tell us, so nap.
    if (room != 0)
      Device->waitWritable(left);
    else
      Device->pause(std::min(left, 5));
  }
  return static_cast<int>(written);
}

int TCOMPort::SendByte(uint8_t b) { return SendData(&b, 1); }

int TCOMPort::SendChar(char c) { return SendData(&c, 1); }

int TCOMPort::SendStr(const char* text) {
  return SendData(text, text ? static_cast<uint32_t>(std::strlen(text)) : 0);
}

int TCOMPort::ReadData(void* buffer, uint32_t n) {
  if (!Connected()) {
    message(QStringLiteral("ERROR: TCOMPort::ReadData(): ERR_NOTCONNECTED"));
    return kPortNotConnected;
  }
  auto* p = static_cast<uint8_t*>(buffer);
  int count = 0;
  uint64_t last = now();
  PausePoll();
  while (n > 0) {
    uint32_t waiting = 0;
    if (const int e = Device->inWaiting(&waiting); e != 0) {
      message(QStringLiteral("ERROR: TCOMPort::ReadData(): ClearComError()"));
      systemError(e);
      // A device that cannot tell its status will not give bytes either;
      // asking again would only repeat the same boxes.
      break;
    }
    if (waiting != 0) {
      uint32_t got = 0;
      Device->read(p, std::min(waiting, n), &got);
      if (got != 0) {
        p += got;
        n -= got;
        count += static_cast<int>(got);
        last = now();
        continue;
      }
    }
    const uint64_t t = now();
    if (t - last > InTimeout) break;
    Device->waitReadable(static_cast<int>(last + InTimeout + 1 - t));
  }
  ContPoll();
  return count;
}

int TCOMPort::ReadByte(uint8_t* b) { return ReadData(b, 1); }

int TCOMPort::ReadChar(char* c) { return ReadData(c, 1); }

int TCOMPort::PausePoll() {
  ++PollPause;
  EnableNotifier(false);
  return PollPause;
}

int TCOMPort::ContPoll() {
  --PollPause;
  EnableNotifier(true);
  return PollPause;
}

bool TCOMPort::IsPoll() const { return PollPause <= 0; }

void TCOMPort::TimerWndProc() {
  if (!Connected() || PollPause > 0) return;
  EnableNotifier(true);  // wakes a notifier that was put to rest below
  Receive();
}

void TCOMPort::OnReadable() {
  if (!Connected() || PollPause > 0) {
    EnableNotifier(false);
    return;
  }
  // Readable with nothing to read would wake us again at once, for ever;
  // the next tick looks again.
  if (Receive() == 0) EnableNotifier(false);
}

int TCOMPort::Receive() {
  // The driver may hold more than it reports at once (the line discipline's
  // buffer is smaller than the receive queue); keep taking what it reports
  // until the batch is full or nothing more is waiting.
  uint32_t got = 0;
  while (got < InBuffer.size()) {
    uint32_t waiting = 0;
    if (const int e = Device->inWaiting(&waiting); e != 0) {
      message(QStringLiteral("ERROR: TCOMPort::TimerWndProc(): ClearComError()"));
      systemError(e);
      CloseFailedDevice(kPortClearError);
      return -1;
    }
    if (waiting == 0) break;
    uint32_t r = 0;
    const uint32_t room = static_cast<uint32_t>(InBuffer.size()) - got;
    if (Device->read(InBuffer.data() + got, std::min(waiting, room), &r) != 0 || r == 0) break;
    got += r;
  }
  if (got != 0 && OnReceiveData) {
    // The handler may show a box; the buffer must not be refilled under it.
    PausePoll();
    OnReceiveData(this, InBuffer.data(), got);
    ContPoll();
  }
  return static_cast<int>(got);
}

void TCOMPort::CloseFailedDevice(int code) {
  PollTimer.stop();
  Notifier.setEnabled(false);
  Device->close();
  DeviceFailure_ = code;
}

bool TCOMPort::refusedWhileConnected(const char* setter) {
  if (!Connected()) return false;
  message(QStringLiteral("ERROR: TCOMPort::%1(): ERR_CONNECTED").arg(QLatin1String(setter)));
  return true;
}

void TCOMPort::SetPortNumber(TPortNumber v) {
  if (refusedWhileConnected("SetPortName")) return;
  PortNumber_ = v;
}

void TCOMPort::SetInBufSize(uint32_t v) {
  if (refusedWhileConnected("SetInBufSize")) return;
  InBuffer.clear();
  InBuffer.shrink_to_fit();
  InBufSize_ = std::clamp(v, kMinBufSize, kMaxBufSize);
  try {
    InBuffer.assign(InBufSize_, 0);
  } catch (const std::bad_alloc&) {
    message(QStringLiteral("ERROR: TCOMPort::SetInBufSize(): ERR_ALLOCMEM"));
  }
}

void TCOMPort::SetOutBufSize(uint32_t v) {
  if (refusedWhileConnected("SetOutBufSize")) return;
  OutBufSize_ = std::clamp(v, kMinBufSize, kMaxBufSize);
}

void TCOMPort::SetPollDelay(uint32_t v) {
  v = std::max(v, kMinPollDelay);
  if (v == PollDelay_) return;
  PollDelay_ = v;
  if (!Connected()) return;
  PollTimer.stop();
  if (PollTimer.isActive()) {
    message(QStringLiteral("ERROR: TCOMPort::SetPollDelay(): ERR_KILLTIMER"));
    systemError(EAGAIN);
    return;
  }
  PollTimer.start(static_cast<int>(PollDelay_));
  if (!PollTimer.isActive()) {
    message(QStringLiteral("ERROR: TCOMPort::SetPollDelay(): ERR_SETTIMER"));
    systemError(EAGAIN);
  }
}
