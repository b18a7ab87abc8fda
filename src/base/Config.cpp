#include "base/Config.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <cerrno>

#include "base/DataFiles.h"
#include "base/ErrorCodes.h"
#include "base/IniFile.h"

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

QString programVersion() { return QStringLiteral(QUELM_VERSION); }

bool keepsFilesBeside(const ProgramPlace& place) { return place.writable && !place.installed; }

QString configFileFor(const ProgramPlace& place, const UserFolders& user) {
  if (keepsFilesBeside(place)) return place.dir + QLatin1Char('/') + place.name + QStringLiteral(".INI");
  return user.configHome + QStringLiteral("/quelm/quelm.INI");
}

QString storagePathFor(const ProgramPlace& place, const UserFolders& user) {
  return (keepsFilesBeside(place) ? place.dir : user.documents) + QLatin1Char('/');
}

ProgramPlace thisProgram(const QString& name) {
  const QFileInfo program(QCoreApplication::applicationFilePath());
  ProgramPlace place;
  place.dir = program.absolutePath();
  place.name = name;
  if (place.name.isEmpty()) {
    place.name = program.fileName();
    const int dot = place.name.lastIndexOf(QLatin1Char('.'));
    if (dot > 0) place.name.truncate(dot);
  }
  place.writable = ::access(QFile::encodeName(place.dir).constData(), W_OK) == 0;
  const QString installDir = QFileInfo(QStringLiteral(QUELM_INSTALL_BINDIR)).canonicalFilePath();
  place.installed = !installDir.isEmpty() && QFileInfo(place.dir).canonicalFilePath() == installDir;
  return place;
}

UserFolders thisUsersFolders() {
  return {QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation),
          QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)};
}

QString defaultConfigFilePath(const QString& name) {
  return configFileFor(thisProgram(name), thisUsersFolders());
}

QString configFilePath() { return overridePath().isEmpty() ? defaultConfigFilePath() : overridePath(); }

void setConfigFilePath(const QString& path) { overridePath() = path; }

QString storagePath() { return storagePathFor(thisProgram(), thisUsersFolders()); }

QStringList prepareProgramFiles(const ProgramPlace& place, const UserFolders& user) {
  QStringList problems;
  const auto unableToCreate = [&](const QString& folder) {
    problems << QStringLiteral("Unable to create the folder %1").arg(folder);
  };
  const QString storage = storagePathFor(place, user);
  if (!QDir().mkpath(storage)) unableToCreate(storage);
  if (keepsFilesBeside(place)) return problems;
  const QString config = configFileFor(place, user);
  if (QFileInfo::exists(config) || QFileInfo(config).isSymLink()) return problems;
  // The file can switch the service level on: it is the user's alone.
  const QString folder = QFileInfo(config).absolutePath();
  if (!QDir().mkpath(user.configHome) ||
      (::mkdir(QFile::encodeName(folder).constData(), 0700) != 0 && errno != EEXIST)) {
    unableToCreate(folder);
    return problems;
  }
  if (!WriteConfig(config, AppConfig{})) problems << unableToWriteText(config);
  return problems;
}

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
  if (ini.status() == IniFile::LoadStatus::Unreadable) return false;
  ini.WriteInteger(kSerial, QStringLiteral("PortNumber"), c.PortNumber);
  ini.WriteInteger(kSerial, QStringLiteral("BaudRate"), static_cast<int>(c.BaudRate));
  ini.WriteInteger(kScreen, QStringLiteral("Left"), c.Left);
  ini.WriteInteger(kScreen, QStringLiteral("Top"), c.Top);
  ini.WriteInteger(kScreen, QStringLiteral("Height"), c.Height);
  ini.WriteInteger(kScreen, QStringLiteral("Width"), c.Width);
  ini.WriteInteger(kSafety, QStringLiteral("Professional"), c.Professional ? kServiceLevelKey : 0);
  ini.WriteInteger(kReader, QStringLiteral("MaxPostHeating"), c.MaxPostHeating);
  return ini.UpdateFile();
}

}  // namespace quelm
