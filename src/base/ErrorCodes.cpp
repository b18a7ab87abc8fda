#include "base/ErrorCodes.h"

#include <cerrno>
#include <cstring>

namespace quelm {

ErrorText ErrorMessage(int code) {
  const auto error = [](const char* text) {
    return ErrorText{QString::fromLatin1(text), MessageKind::Error};
  };
  const auto warning = [](const char* text) {
    return ErrorText{QString::fromLatin1(text), MessageKind::Warning};
  };
  // The seek failures carry the C library's numbers; match them by name.
  if (code == EBADF) return error("File seek error: Bad file pointer");
  if (code == EINVAL) return error("File seek error: Invalid argument");
  if (code == ESPIPE) return error("File seek error: Illegal seek on device");
  switch (code) {
    case 0:
      return error("No Error");
    case -7:
      return error("Timer killing error (COMPort::Disconnect()?");
    case -8:
      return error("Handler closing error (COMPort::Disconnect()?");
    case -100:
      return error("User cancelled");
    case -101:
      return error("Memory allocation error (function new)");
    case -102:
      return error("Nullptr error (no memalloc. for variable?)");
    case -103:
      return error("INI/CFG file access error");
    case -104:
      return error("No version info compiled in exe");
    case -105:
      return error("Memory allocation error");
    case -106:
      return error("GetFileVersionInfo() error");
    case -107:
      return error("File open error");
    case -109:
      return error("File read error");
    case -150:
      return error("Data error: Invalid data");
    case -151:
      return error("Data error: Invalid channel content, bad range");
    case -201:
      return error("COM connect. error (not avail./already/can't connect)");
    case -202:
      return error("COM port disconnection error");
    case -203:
    case -204:
    case -205:
    case -206:
    case -208:
    case -209:
      return warning("Reader not avaible (not connected?)");
    case -207:
      return warning("Reader Busy: Go to Ready menu!");
    case -211:
      return error("Communication error");
    case -212:
      return error("Communication interrupted");
    case -213:
      return error("User abort");
    case -214:
      return error("Source file error");
    case -216:
      return error("Program file is empty");
    case -217:
      return error("Program file too large (more than 64 blocks of 1024 bytes)");
    default:
      return error("Undefined Error");
  }
}

}  // namespace quelm

int ReportError(int code, const QString& /*context*/) {
  const quelm::ErrorText t = quelm::ErrorMessage(code);
  const QString title =
      t.kind == quelm::MessageKind::Warning ? QStringLiteral("Warning") : QStringLiteral("Error");
  quelm::showMessage(t.kind, title, t.message, quelm::Ok, quelm::Ok);
  return code;
}

int SysErrorBox() { return SysErrorBox(errno); }

int SysErrorBox(int error) {
  quelm::showMessage(quelm::MessageKind::Information, QStringLiteral("GetLastError()"),
                     QString::fromLocal8Bit(std::strerror(error)), quelm::Ok, quelm::Ok);
  return error;
}
