#include "base/ErrorCodes.h"

#include <cerrno>
#include <cstring>
#include <iterator>
#include <utility>

namespace quelm {

namespace {
constexpr MessageKind E = MessageKind::Error;
constexpr MessageKind W = MessageKind::Warning;
constexpr const char* kReaderNotAvailable = "Reader not avaible (not connected?)";
}  // namespace

// The seek failures carry the C library's numbers, so they are listed by
// their names and match whatever numbers this platform gives them.
const ResultCodeEntry kResultCodes[] = {
    {kOk, E, "No Error"},
    {EBADF, E, "File seek error: Bad file pointer"},
    {EINVAL, E, "File seek error: Invalid argument"},
    {ESPIPE, E, "File seek error: Illegal seek on device"},
    {kErrBlockNotFound, E, nullptr},
    {kErrTimerKill, E, "Timer killing error (COMPort::Disconnect()?"},
    {kErrHandleClose, E, "Handler closing error (COMPort::Disconnect()?"},
    {kErrUserCancelled, E, "User cancelled"},
    {kErrNew, E, "Memory allocation error (function new)"},
    {kErrNullptr, E, "Nullptr error (no memalloc. for variable?)"},
    {kErrIniFile, E, "INI/CFG file access error"},
    {kErrNoVersionInfo, E, "No version info compiled in exe"},
    {kErrVersionAlloc, E, "Memory allocation error"},
    {kErrGetVersionInfo, E, "GetFileVersionInfo() error"},
    {kErrFileOpen, E, "File open error"},
    {kErrFileRead, E, "File read error"},
    {kErrFileWrite, E, nullptr},
    {kErrFileClose, E, nullptr},
    {kErrDataInvalid, E, "Data error: Invalid data"},
    {kErrChannelContent, E, "Data error: Invalid channel content, bad range"},
    {kErrComConnect, E, "COM connect. error (not avail./already/can't connect)"},
    {kErrComDisconnect, E, "COM port disconnection error"},
    {kErrNoRequestReply, W, kReaderNotAvailable},
    {kErrNothingReceived, W, kReaderNotAvailable},
    {kErrReceiveTimeout, W, kReaderNotAvailable},
    {kErrChecksum, W, kReaderNotAvailable},
    {kErrReaderBusy, W, "Reader Busy: Go to Ready menu!"},
    {kErrFrameRejected, W, kReaderNotAvailable},
    {kErrUnknownCommand, W, kReaderNotAvailable},
    {kErrReaderRefused, E, nullptr},
    {kErrLoaderStatus, E, "Communication error"},
    {kErrLoaderInterrupted, E, "Communication interrupted"},
    {kErrUserAbort, E, "User abort"},
    {kErrSourceFile, E, "Source file error"},
    // The program's own code: the windows grey what would meet it, and what
    // still does (a script, a key) says what happened.
    {kErrExchangeRunning, W, "The line to the reader is in use (download or software update running?)"},
    {kErrProgramEmpty, E, "Program file is empty"},
    {kErrProgramTooLarge, E, "Program file too large (more than 64 blocks of 1024 bytes)"},
    {kErrArchiveOpen, E, "Dose archive cannot be opened"},
    {kErrArchiveNotDatabase, E, "Dose archive: the file is not a dose archive database"},
    {kErrArchiveNewerSchema, E, "Dose archive was written by a newer program version: update this program"},
    {kErrArchiveBusy, E, "Dose archive is busy: another program is writing to it, try again"},
    {kErrArchiveReadOnly, E, "Dose archive is read-only"},
    {kErrArchiveQuery, E, "Dose archive error"},
    {kErrArchiveServer, E, "Dose archive server not reachable"},
    {kErrArchiveLogin, E, "Dose archive server refused the login (user or password)"},
    {kErrArchiveDriver, E, "Dose archive: the database driver is not installed"},
    {kErrArchiveOverlap, E, "Wear period overlaps another period of the dosimeter"},
    {kErrArchiveAddress, E, "Dose archive address not understood"},
    {kErrArchiveFaults, E, "Dose archive check found faults"},
    {kErrArchiveNoPerson, E, "Dose archive holds no such person"},
    {kErrArchiveImportRunning, W, "An import into the dose archive is still running"},
    {kErrArchiveDiskFull, E, "Dose archive: the disk is full"},
    {kErrArchiveOlderSchema, E,
     "Dose archive was written by an older program version: a writing command upgrades it"},
    {kErrArchiveAmbiguousPerson, E, "Dose archive holds more than one person of that name"},
    {kErrArchiveRefused, E, "Records that are no read-outs were refused"},
    {kErrArchiveInput, E, "Dose archive refused the entry"},
    {kErrArchiveIo, E, "Dose archive: the database file could not be read or written"},
    {kErrArchiveOpenItems, E, "Read-outs of the period still await review"},
    {kErrArchiveChanged, E,
     "Dose archive changed while the sign-off was made: nothing was signed, sign again"},
};
const int kResultCodeCount = static_cast<int>(std::size(kResultCodes));

ErrorText ErrorMessage(int code) {
  for (const ResultCodeEntry& e : kResultCodes)
    if (e.code == code && e.message) return {QString::fromLatin1(e.message), e.kind};
  return {QStringLiteral("Undefined Error"), MessageKind::Error};
}

}  // namespace quelm

namespace quelm {
namespace {
struct PendingNote {
  int code = 0;
  QString line;
};
PendingNote& pendingNote() {
  static PendingNote note;
  return note;
}
}  // namespace

void explainNextReport(int code, const QString& line) { pendingNote() = {code, line}; }

QString takeReportNote(int code) {
  return pendingNote().code == code ? std::exchange(pendingNote(), {}).line : QString();
}
}  // namespace quelm

int ReportError(int code, const QString& /*context*/) {
  const quelm::ErrorText t = quelm::ErrorMessage(code);
  const QString title =
      t.kind == quelm::MessageKind::Warning ? QStringLiteral("Warning") : QStringLiteral("Error");
  quelm::prompter().message(quelm::MessageRequest{t.kind, title, t.message, quelm::Ok, quelm::Ok, code,
                                                  quelm::takeReportNote(code)});
  return code;
}

int ReportFailure(int code) {
  if (code == 0 || code == quelm::kErrUserCancelled) return code;
  return ReportError(code);
}

int SysErrorBox() { return SysErrorBox(errno); }

int SysErrorBox(int error) {
  quelm::showMessage(quelm::MessageKind::Information, QStringLiteral("GetLastError()"),
                     QString::fromLocal8Bit(std::strerror(error)), quelm::Ok, quelm::Ok);
  return error;
}
