#pragma once
// The files the program reads and writes for data (data files, text lists,
// exports, parameter and program files) are plain files, or names that do
// not exist yet. Anything else under such a name is refused before it is
// opened for use: a pipe would swallow blocks (and the reader would then be
// told they are saved) or hold the open for ever, a device would be read
// without end. No open here ever waits.
//
// A failure keeps the file's name and the system's reason, so that a front
// end can say more than the code's message ("night.dat: Permission denied").

#include <sys/types.h>
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace quelm {

enum class FileKind { Missing, Regular, Other };
// What the name refers to now (symbolic links followed).
FileKind fileKind(const QString& name);

// An existing file's identity: its device and inode. Two names with the
// same identity are one file, whatever the names (hard and symbolic links).
struct FileIdentity {
  dev_t device;
  ino_t inode;
  bool operator==(const FileIdentity&) const = default;
};
std::optional<FileIdentity> fileIdentity(const QString& name);

// The same file: by identity when both exist, by their canonical names when
// one does not exist yet (it may be created under either name).
bool SameFile(const QString& a, const QString& b);
// Writing `output` over one of `kept` (an input, another output, the dose
// archive) would destroy it: -107 with the reason noted, or 0.
int refuseSameFile(const QString& output, const QStringList& kept);

// Opens name for reading as a plain file; the descriptor (blocking reads),
// or -1 with the failure noted. The caller closes it.
int openDataFileForReading(const QString& name);

enum class WriteMode { Replace, Append };
// Replace: the bytes become the file's whole content. They are written to a
// new file beside it, flushed, and renamed over it only once complete, so a
// failure leaves the old content as it was (a folder that refuses new files
// while the file itself is writable: the room is claimed first, then the
// file is rewritten in place). A name that is a symbolic link keeps the
// link; the target is replaced.
// Append: the bytes are added to the file (created if missing); an append
// that did not complete is taken back out: a partial record or line would
// shift everything appended after it.
// Returns 0, -107 (cannot be opened or created, or is not a plain file),
// -110 (the bytes did not all reach the file) or -111 (the close, flush or
// rename failed).
int writeDataFile(const QString& name, const QByteArray& bytes, WriteMode mode);

// Flushes the file's content to the disk, then its folder (the entry of a
// file created since the last flush): what is acknowledged as saved must
// survive a power cut. 0, or -111 with the failure noted.
int syncDataFile(const QString& name);

// Called before each flush to the disk with the name of the file or folder
// flushed; an errno value other than 0 fails that flush as the system's
// error would. Empty: no hook. For tests, that observe and fail flushes.
void setFileSyncHook(std::function<int(const QString& name)> hook);

// The last file failure: the name and the system's reason. Empty when none
// was noted since the last take.
struct FileFailure {
  QString name;
  QString reason;
  bool empty() const { return name.isEmpty() && reason.isEmpty(); }
};
// Notes a failure with the system's text for error (an errno value) and
// returns code, so that failure paths read `return noteFileFailure(...)`.
int noteFileFailure(int code, const QString& name, int error);
int noteFileFailure(int code, const QString& name, const QString& reason);
// Takes the noted failure (the next take is empty).
FileFailure takeFileFailure();
// Whether the code is one of the data-file codes that a noted failure explains.
bool isFileCode(int code);

// The reason given for a name that exists but is no plain file.
QString notRegularReason();

}  // namespace quelm
