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

enum class WriteMode { Truncate, Append };
// Creates (or truncates) the file, or appends to it, and writes bytes.
// Returns 0, -107 (cannot be opened, or is not a plain file), -110 (the
// bytes did not all reach the file) or -111 (the close failed). A write
// that did not complete is taken back out (an overwritten file is left
// empty): a partial record or line would shift everything appended after it.
int writeDataFile(const QString& name, const QByteArray& bytes, WriteMode mode);

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
