#pragma once
// Result codes, their messages, and the error reporter.

#include <QString>

#include "base/Prompter.h"

namespace quelm {

// Codes the program raises itself (file seek failures return errno values).
enum ResultCode : int {
  kOk = 0,
  // A block number is not in the data file, or a page ended early at a
  // missing block; the callers use what was found and show nothing.
  kErrBlockNotFound = -1,
  kErrTimerKill = -7,
  kErrHandleClose = -8,
  kErrUserCancelled = -100,
  kErrNew = -101,
  kErrNullptr = -102,
  kErrIniFile = -103,
  kErrNoVersionInfo = -104,
  kErrVersionAlloc = -105,
  kErrGetVersionInfo = -106,
  kErrFileOpen = -107,
  kErrFileRead = -109,
  kErrFileWrite = -110,
  kErrFileClose = -111,
  kErrDataInvalid = -150,
  kErrChannelContent = -151,
  kErrComConnect = -201,
  kErrComDisconnect = -202,
  kErrNoRequestReply = -203,
  kErrNothingReceived = -204,
  kErrReceiveTimeout = -205,
  kErrChecksum = -206,
  kErrReaderBusy = -207,
  kErrFrameRejected = -208,
  kErrUnknownCommand = -209,
  kErrReaderRefused = -210,
  kErrLoaderStatus = -211,
  kErrLoaderInterrupted = -212,
  kErrUserAbort = -213,
  kErrSourceFile = -214,
  // An exchange was asked for while another one waits for its reply (from a
  // timer or other event handled during the wait), or a software update
  // while the line is taken (an exchange, an update, a job that holds it).
  kErrExchangeRunning = -215,
  // A program file the reader's loader cannot take whole.
  kErrProgramEmpty = -216,
  kErrProgramTooLarge = -217,
  // The dose archive (a database: an SQLite file or a PostgreSQL server).
  kErrArchiveOpen = -300,
  kErrArchiveNotDatabase = -301,
  kErrArchiveNewerSchema = -302,
  kErrArchiveBusy = -303,
  kErrArchiveReadOnly = -304,
  kErrArchiveQuery = -305,
  kErrArchiveServer = -306,
  kErrArchiveLogin = -307,
  kErrArchiveDriver = -308,
  kErrArchiveOverlap = -309,
  kErrArchiveAddress = -310,
  kErrArchiveFaults = -311,
  kErrArchiveNoPerson = -312,
  // One import at a time: a second one waits for the first to end.
  kErrArchiveImportRunning = -313,
  kErrArchiveDiskFull = -314,
  // Reading opens never upgrade: a writing command does, once.
  kErrArchiveOlderSchema = -315,
  kErrArchiveAmbiguousPerson = -316,
  // Records of a file that are no read-outs were left out of an import.
  kErrArchiveRefused = -317,
  // A wear period, person or list entry the archive's rules do not take.
  kErrArchiveInput = -318,
  // The database could not read or write its file (not a full disk).
  kErrArchiveIo = -319,
  // A period is signed while review items of it are open.
  kErrArchiveOpenItems = -320,
  // The record changed while the documents of a sign-off were made.
  kErrArchiveChanged = -321,
};

// One row of the code table. A code without a message of its own (message
// nullptr) is shown as "Undefined Error", like every code not in the table.
struct ResultCodeEntry {
  int code;
  MessageKind kind;  // Warning or Error
  const char* message;
};
extern const ResultCodeEntry kResultCodes[];
extern const int kResultCodeCount;

struct ErrorText {
  QString message;
  MessageKind kind;  // Warning or Error
};

// The message and dialog kind ReportError uses for a code.
ErrorText ErrorMessage(int code);

// A line that the next report of `code` shows after the code's message, for
// what only the failing operation knows (which device, what to do). The
// report takes it; a later one of the same code, or another note, replaces
// it; an empty line takes it back.
void explainNextReport(int code, const QString& line);
// Takes that line when it was left for `code` (empty otherwise): for a front
// end that reports the code without ReportError.
QString takeReportNote(int code);

}  // namespace quelm

// Shows the code's message in a modal warning or error box with one OK
// button and returns the code. The context (the caller's trace line) is not shown.
int ReportError(int code, const QString& context = QString());

// How a window reports the failure an operation returned to it: nothing for
// 0 and for the operator's own cancel (kErrUserCancelled: he chose it), any
// other code through ReportError. Returns the code.
int ReportFailure(int code);

// Shows the system's text for errno in a box titled "GetLastError()" and
// returns the error number.
int SysErrorBox();
// The same for a given error number (for callers that saved errno).
int SysErrorBox(int error);
