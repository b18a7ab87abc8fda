#include "service/SoftwareUpdate.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <algorithm>
#include <cstring>

#include "base/DataFiles.h"
#include "base/Diag.h"
#include "base/ErrorCodes.h"
#include "base/EventWait.h"
#include "base/Prompter.h"
#include "link/FrameLink.h"

namespace quelm {

namespace {
constexpr uint8_t kRequestLead0 = 0xAA;
constexpr uint8_t kRequestLead1 = 0x88;
constexpr int kRequestHeader = 5;
constexpr int kStatusOffset = 2;
// Erased flash: what the bytes past the end of the file must read as.
constexpr uint8_t kErased = 0xFF;
}  // namespace

std::vector<uint8_t> BuildLoaderRequest(uint8_t command, uint16_t address, const uint8_t* data, int length) {
  const int n = data ? std::max(0, length) : 0;
  std::vector<uint8_t> r(static_cast<size_t>(kRequestHeader + n));
  r[0] = kRequestLead0;
  r[1] = kRequestLead1;
  r[2] = command;
  r[3] = static_cast<uint8_t>(address & 0xFF);
  r[4] = static_cast<uint8_t>(address >> 8);
  if (n > 0) std::memcpy(r.data() + kRequestHeader, data, static_cast<size_t>(n));
  return r;
}

SoftwareUpdate::SoftwareUpdate(TFrameLink& link) : link_(link) {}

void SoftwareUpdate::Status(const QString& text) {
  if (onStatus) onStatus(text);
}

void SoftwareUpdate::Progress(int position) {
  position_ = position;
  if (onProgress) onProgress(position, kProgressMax);
}

uint8_t SoftwareUpdate::ReplyStatus() const { return link_.RcvFrame[kStatusOffset]; }

namespace {
// The program is asked to end (its main window closed) while the update
// waits, maybe for a reader nobody will switch on: the update ends as if
// "Abort" had been pressed, so that the program does not linger on unseen.
class QuitAborts : public QObject {
 public:
  explicit QuitAborts(SoftwareUpdate& update) : Update(update) {
    if (QCoreApplication::instance()) QCoreApplication::instance()->installEventFilter(this);
  }
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == QCoreApplication::instance() && event->type() == QEvent::Quit) Update.Abort();
    return false;
  }

 private:
  SoftwareUpdate& Update;
};
}  // namespace

int SoftwareUpdate::Download(const QString& fileName) {
  if (running_ || !link_.BeginLoaderSession()) return kErrExchangeRunning;
  running_ = true;
  // An Abort from before this update does not end it; one pressed while a
  // block goes out ends the next wait (it is not forgotten there).
  abort_.clear();
  blocks_ = 0;
  closeFailure_ = 0;
  link_.LoaderMode = 1;
  int rc = 0;
  {
    QuitAborts quit(*this);
    rc = Transfer(fileName);
  }
  link_.LoaderMode = 0;
  Progress(0);
  running_ = false;
  link_.EndLoaderSession();
  return rc;
}

int SoftwareUpdate::Transfer(const QString& fileName) {
  // A plain file only: a pipe would hold the update before it began.
  const int fd = openDataFileForReading(fileName);
  if (fd < 0) return kErrFileOpen;
  QFile file;
  if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
    ::close(fd);
    return noteFileFailure(kErrFileOpen, fileName, file.errorString());
  }
  // A file the loader cannot take whole is refused before anything is
  // sent: an empty or cut image would be programmed as if it were complete.
  const int64_t size = file.size();
  if (size <= 0) return kErrProgramEmpty;
  if (size > kLoaderMaxImage) return kErrProgramTooLarge;
  // Read whole now, and only these bytes go out: the wait for the reader
  // can last minutes, and a file rewritten meanwhile would otherwise send
  // bytes nobody chose, cut to the size taken here.
  const QByteArray image = file.read(size);
  if (image.size() != size)
    return noteFileFailure(kErrFileRead, fileName,
                           file.error() != QFileDevice::NoError
                               ? file.errorString()
                               : QStringLiteral("it could not be read whole"));
  file.close();
  blocks_ = static_cast<int>((size + kLoaderBlockSize - 1) / kLoaderBlockSize);

  TCOMPort& port = link_.COMPortDrv;
  if (port.PortNumber() == pnCustom) {
    const int result = link_.ShowOptionsModal ? link_.ShowOptionsModal() : int{mrCancel};
    if (result == mrCancel) return kErrUserCancelled;
  }
  if (const int rc = connectForExchange(port); rc != 0) return rc;

  const int rc = SendImage(image);
  if (rc != 0) {
    Status(QString());
    port.Disconnect();
    return rc;
  }
  if (port.Disconnect() != 0) closeFailure_ = kErrComDisconnect;
  return 0;
}

int SoftwareUpdate::SendImage(const QByteArray& image) {
  Status(kWaitingText);
  if (const int rc = WaitLoaderReply()) return rc;
  Status(kDownloadingText);
  if (ReplyStatus() != kLoaderReady) return kErrLoaderStatus;
  if (const int rc = Step(kLoaderStart, 0, nullptr, 0, kLoaderReady)) return rc;

  Progress(0);
  uint8_t block[kLoaderBlockSize];
  for (int i = 0; i < blocks_; ++i) {
    const qsizetype at = qsizetype{i} * kLoaderBlockSize;
    const qsizetype have = std::min<qsizetype>(kLoaderBlockSize, image.size() - at);
    std::fill(std::begin(block), std::end(block), kErased);
    std::memcpy(block, image.constData() + at, static_cast<size_t>(have));
    if (position_ < kProgressMax) Progress(position_ + 1);
    if (const int rc = Step(kLoaderWriteBlock, static_cast<uint16_t>(at & 0xFFFF), block, kLoaderBlockSize,
                            kLoaderBlockWritten))
      return rc;
  }
  return Step(kLoaderFinish, 0, nullptr, 0, kLoaderFinished);
}

int SoftwareUpdate::Step(uint8_t command, uint16_t address, const uint8_t* data, int length,
                         uint8_t expected) {
  if (const int rc = SendLoaderRequest(command, address, data, length)) return rc;
  if (const int rc = WaitLoaderReply()) return rc;
  return ReplyStatus() == expected ? 0 : kErrLoaderStatus;
}

int SoftwareUpdate::SendLoaderRequest(uint8_t command, uint16_t address, const uint8_t* data, int length) {
  const std::vector<uint8_t> request = BuildLoaderRequest(command, address, data, length);
  const int n = static_cast<int>(request.size());
  const int sent = link_.COMPortDrv.SendData(request.data(), static_cast<uint32_t>(n));
  if (sent == n) return 0;
  return sent < 0 ? sent : kPortWrite;
}

int SoftwareUpdate::WaitLoaderReply() {
  link_.RcvCount = 0;
  link_.TickCount = 0;
  link_.Timer.start();
  link_.ReplyTimeout = 4;
  link_.LoaderWaiting = 1;
  // The tick count does not end this wait: the reader is switched on when
  // the operator is ready. User input is let through (unlike the command
  // waits) so that Abort and the service window's Exit can end it.
  // A device that failed (hung up, an I/O error) is closed by the port, and
  // no reply can come through it any more: only a present reader is waited for.
  TCOMPort& port = link_.COMPortDrv;
  // At least a reply: a stray byte behind it must not hold the wait.
  const auto replied = [this] { return !abort_.requested() && link_.RcvCount >= kLoaderReplyLength; };
  if (!(DiagFlags & kDiagNoPort))
    waitUntil(
        [&] { return replied() || abort_.requested() || link_.LoaderWaiting != 1 || !port.Connected(); },
        WaitInput::Allowed);
  link_.Timer.stop();
  if (!(DiagFlags & kDiagNoPort) && replied()) {
    link_.LoaderWaiting = 0;
    return 0;
  }
  const bool interrupted = link_.LoaderWaiting == 0;
  link_.LoaderWaiting = 0;
  const auto fail = [&port](int code) {
    port.Disconnect();
    return code;
  };
  if (abort_.requested()) return fail(kErrUserAbort);
  if (!(DiagFlags & kDiagNoPort) && !port.Connected())
    return fail(port.DeviceFailure() != 0 ? port.DeviceFailure() : kPortNotConnected);
  if (link_.TickCount >= link_.ReplyTimeout)
    return fail(link_.RcvCount == 0 ? kErrNothingReceived : kErrReceiveTimeout);
  if (interrupted) return fail(kErrLoaderInterrupted);
  return 0;
}

}  // namespace quelm
