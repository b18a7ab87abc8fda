#include "base/Config.h"

#include <QCoreApplication>
#include <QFileInfo>

#include "base/DataFiles.h"
#include "base/ErrorCodes.h"
#include "base/IniFile.h"
#include "base/Prompter.h"

namespace quelm {
namespace {

const QString kScreen = QStringLiteral("Screen");
const QString kSerial = QStringLiteral("Serial port settings");
const QString kSafety = QStringLiteral("Safety restrictions");
const QString kReader = QStringLiteral("Reader Parameters");

QString& overridePath() {
  static QString path;
  return path;
}

}  // namespace

QString defaultConfigFilePath() {
  const QFileInfo program(QCoreApplication::applicationFilePath());
  QString name = program.fileName();
  const int dot = name.lastIndexOf(QLatin1Char('.'));
  if (dot > 0) name.truncate(dot);
  return program.absolutePath() + QLatin1Char('/') + name + QStringLiteral(".INI");
}

QString configFilePath() { return overridePath().isEmpty() ? defaultConfigFilePath() : overridePath(); }

void setConfigFilePath(const QString& path) { overridePath() = path; }

int ReadConfig(const QString& path, AppConfig& c) {
  const IniFile ini(path);
  if (ini.status() == IniFile::LoadStatus::Unreadable) return kErrIniFile;
  c.Left = ini.ReadInteger(kScreen, QStringLiteral("Left"), c.Left);
  c.Top = ini.ReadInteger(kScreen, QStringLiteral("Top"), c.Top);
  c.Height = ini.ReadInteger(kScreen, QStringLiteral("Height"), c.Height);
  c.Width = ini.ReadInteger(kScreen, QStringLiteral("Width"), c.Width);
  c.PortNumber = ini.ReadInteger(kSerial, QStringLiteral("PortNumber"), c.PortNumber);
  c.BaudRate = static_cast<uint32_t>(
      ini.ReadInteger(kSerial, QStringLiteral("BaudRate"), static_cast<int>(c.BaudRate)));
  c.Professional = ini.ReadInteger(kSafety, QStringLiteral("Professional"),
                                   c.Professional ? kServiceLevelKey : 0) == kServiceLevelKey;
  c.MaxPostHeating = ini.ReadInteger(kReader, QStringLiteral("MaxPostHeating"), c.MaxPostHeating);
  return kOk;
}

QString ConfigFileProblem(const QString& path) {
  const FileKind kind = fileKind(path);
  if (kind == FileKind::Missing || IniFile(path).status() != IniFile::LoadStatus::Unreadable)
    return QString();
  const QString reason = kind == FileKind::Other ? notRegularReason()
                         : QFileInfo(path).size() > IniFile::kMaxFileSize
                             ? QStringLiteral("larger than 1 MiB")
                             : QStringLiteral("cannot be read");
  return QStringLiteral("the configuration file %1 is not used (%2): its settings do not apply")
      .arg(path, reason);
}

bool WriteConfig(const QString& path, const AppConfig& c) {
  IniFile ini(path);
  if (ini.status() == IniFile::LoadStatus::Unreadable) {
    showMessage(MessageKind::Error, QStringLiteral("Error"),
                QStringLiteral("Unable to write to %1").arg(path));
    return false;
  }
  ini.WriteInteger(kSerial, QStringLiteral("PortNumber"), c.PortNumber);
  ini.WriteInteger(kSerial, QStringLiteral("BaudRate"), static_cast<int>(c.BaudRate));
  ini.WriteInteger(kScreen, QStringLiteral("Left"), c.Left);
  ini.WriteInteger(kScreen, QStringLiteral("Top"), c.Top);
  ini.WriteInteger(kScreen, QStringLiteral("Height"), c.Height);
  ini.WriteInteger(kScreen, QStringLiteral("Width"), c.Width);
  ini.WriteInteger(kSafety, QStringLiteral("Professional"), c.Professional ? kServiceLevelKey : 0);
  ini.WriteInteger(kReader, QStringLiteral("MaxPostHeating"), c.MaxPostHeating);
  return ini.UpdateFileOrReport();
}

}  // namespace quelm
