#include "link/PortMap.h"

#include "base/IniFile.h"

namespace quelm {

QString comDevicePath(int portNumber, const QString& iniPath) {
  if (portNumber < 1) return QString();
  const QString key = QStringLiteral("COM%1").arg(portNumber);
  const QString mapped = IniFile(iniPath).ReadString(QStringLiteral("Serial port settings"), key, QString());
  if (!mapped.isEmpty()) return mapped;
  return QStringLiteral("/dev/ttyS%1").arg(portNumber - 1);
}

}  // namespace quelm
