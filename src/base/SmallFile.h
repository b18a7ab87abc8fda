#pragma once
// Reading a small plain file whole: profile files, glow curves typed up by a
// laboratory. Anything but a plain file under the name is refused without
// being read: a pipe would hold the open for ever, a device like /dev/zero
// would be read until memory runs out.

#include <QByteArray>
#include <QString>

namespace quelm {

enum class SmallFileResult { Read, Missing, Unreadable };

// Missing when the name does not exist; Unreadable when it is no plain file,
// cannot be read, or holds more than maxBytes (also when it grows past that
// while it is read).
SmallFileResult ReadSmallFile(const QString& path, qsizetype maxBytes, QByteArray* bytes);

}  // namespace quelm
