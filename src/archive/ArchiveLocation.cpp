#include "archive/ArchiveLocation.h"

#include <QDir>
#include <QFile>
#include <QMutex>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUrl>
#include <QUrlQuery>
#include <cmath>
#include <map>
#include <tuple>

#include "base/Config.h"
#include "base/ErrorCodes.h"
#include "base/IniFile.h"

namespace quelm {

namespace {
// The server, port, database and user a password belongs to.
using PasswordKey = std::tuple<QString, int, QString, QString>;
PasswordKey keyOf(const ArchiveLocation& l) { return {l.host, l.port, l.database, l.user}; }
QMutex sessionMutex;
std::map<PasswordKey, QString>& sessionPasswords() {
  static std::map<PasswordKey, QString> passwords;
  return passwords;
}
}  // namespace

QString ArchiveLocation::displayText() const {
  if (kind == SQLite) return path;
  QString text = QStringLiteral("postgresql://");
  if (!user.isEmpty()) text += user + QLatin1Char('@');
  const bool socket = host.startsWith(QLatin1Char('/'));
  if (!socket) text += host + QLatin1Char(':') + QString::number(port);
  text += QLatin1Char('/') + database;
  if (socket) text += QStringLiteral("?host=") + host;
  return text;
}

int ParseArchiveLocation(const QString& text, ArchiveLocation* location, QString* error) {
  ArchiveLocation l;
  const QString t = text.trimmed();
  const auto refuse = [error](const QString& why) {
    *error = why;
    return int{kErrArchiveAddress};
  };
  if (t.isEmpty()) {
    l.path = DefaultArchivePath();
  } else if (t.startsWith(QStringLiteral("postgresql://")) || t.startsWith(QStringLiteral("postgres://"))) {
    // A real URL parser: user and password may hold '@', ':' or '/' when
    // percent-encoded. What is refused is never repeated: the text may
    // hold a password.
    const QUrl url(t, QUrl::StrictMode);
    if (!url.isValid() || (url.host().isEmpty() && !url.hasQuery()) || url.path().size() < 2 ||
        url.path().indexOf(QLatin1Char('/'), 1) >= 0 || url.hasFragment())
      return refuse(QStringLiteral(
          "a server address reads postgresql://user@host[:port]/dbname (reserved characters percent-encoded)"));
    l.kind = ArchiveLocation::PostgreSQL;
    l.user = url.userName(QUrl::FullyDecoded);
    l.password = url.password(QUrl::FullyDecoded);
    l.host = url.host(QUrl::FullyDecoded);
    l.database = url.path(QUrl::FullyDecoded).mid(1);
    if (url.port() != -1) {
      l.port = url.port();
      if (l.port < 1 || l.port > 65535) return refuse(QStringLiteral("the port must be 1 to 65535"));
    }
    const QUrlQuery query(url);
    for (const auto& [key, value] : query.queryItems(QUrl::FullyDecoded)) {
      if (key != QLatin1String("host")) return refuse(QStringLiteral("unknown address option \"%1\"").arg(key));
      l.host = value;
    }
    if (l.host.isEmpty()) l.host = QStringLiteral("localhost");
    if (l.password.isEmpty()) {
      const QMutexLocker lock(&sessionMutex);
      if (const auto it = sessionPasswords().find(keyOf(l)); it != sessionPasswords().end())
        l.password = it->second;
    }
  } else {
    l.path = t.startsWith(QStringLiteral("sqlite:")) ? t.mid(7) : t;
    if (l.path.isEmpty()) return refuse(QStringLiteral("sqlite: needs a file name"));
    // A dose record is kept on disk: an archive in memory, or one the
    // database would make under a name of its own, keeps nothing.
    if (l.path == QLatin1String(":memory:") || l.path.startsWith(QStringLiteral("file:")) ||
        l.path.contains(QStringLiteral("mode=memory")))
      return refuse(QStringLiteral("\"%1\" keeps nothing on disk: name a file").arg(l.path));
    if (l.path.contains(QStringLiteral("://")))
      return refuse(QStringLiteral("\"%1\" is neither a file nor a postgresql:// address").arg(t));
  }
  *location = l;
  return kOk;
}

QString DefaultArchivePath() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
         QStringLiteral("/quelm/archive.sqlite");
}

QStringList ConfigurationProblems(const QString& configPath) {
  QStringList problems;
  if (const QString problem = ConfigFileProblem(configPath); !problem.isEmpty()) problems << problem;
  return problems + ReadArchiveSettings(configPath).problems;
}

ArchiveSettings ReadArchiveSettings(const QString& configPath) {
  ArchiveSettings s;
  const IniFile ini(configPath);
  const QString section = QStringLiteral("Dose archive");
  s.database = ini.ReadString(section, QStringLiteral("Database"), QString());
  s.archiveDownloads = ini.ReadInteger(section, QStringLiteral("ArchiveDownloads"), 1) != 0;
  // A key that holds text but no number above 0 keeps the default, and
  // says so: a level or tolerance silently off changes what is reported.
  const auto positive = [&](const char* key, const QString& instead) -> std::optional<double> {
    const QString name = QLatin1String(key);
    // Empty, as the documented example has them, is the default too.
    if (ini.ReadString(section, name, QString()).isEmpty()) return std::nullopt;
    const double v = ini.ReadFloat(section, name, std::nan(""));
    if (std::isfinite(v) && v > 0) return v;
    s.problems << QStringLiteral(
                      "the configuration file %1: [Dose archive] %2=\"%3\" is not a number above 0 "
                      "(with a decimal point): %4")
                      .arg(configPath, name, ini.ReadString(section, name, QString()), instead);
    return std::nullopt;
  };
  const auto level = [&](const char* key, double fallback) {
    return positive(key, QStringLiteral("the default %1 µSv applies").arg(fallback)).value_or(fallback);
  };
  s.notificationLevel = level("NotificationLevel", s.notificationLevel);
  s.annualLimit = level("AnnualLimit", s.annualLimit);
  s.recomputeTolerance =
      positive("RecomputeTolerance", QStringLiteral("the recomputed doses are not compared"));
  s.controlTolerance = positive("ControlTolerance", QStringLiteral("3 standard deviations apply"));
  return s;
}

bool WriteArchiveDatabase(const QString& configPath, const QString& database) {
  IniFile ini(configPath);
  if (ini.status() == IniFile::LoadStatus::Unreadable) return false;
  ini.WriteString(QStringLiteral("Dose archive"), QStringLiteral("Database"), database.trimmed());
  return ini.UpdateFile();
}

QString AddressWithoutPassword(const QString& text, QString* password) {
  password->clear();
  const QString t = text.trimmed();
  if (!t.startsWith(QStringLiteral("postgresql://")) && !t.startsWith(QStringLiteral("postgres://")))
    return t;
  QUrl url(t, QUrl::StrictMode);
  if (!url.isValid() || url.password().isEmpty()) return t;
  *password = url.password(QUrl::FullyDecoded);
  url.setPassword(QString());
  return url.toString();
}

QString PasswordFilePath() {
  const QString file = qEnvironmentVariable("PGPASSFILE");
  return file.isEmpty() ? QDir::homePath() + QStringLiteral("/.pgpass") : file;
}

bool StorePassword(const ArchiveLocation& l, const QString& password, QString* error) {
  const QString path = PasswordFilePath();
  // Each field as the client library reads it: ':' and '\' escaped.
  const auto field = [](QString s) {
    s.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    s.replace(QLatin1Char(':'), QStringLiteral("\\:"));
    return s;
  };
  // Without a user in the address the client logs in as the system's user.
  const QString user =
      l.user.isEmpty() ? qEnvironmentVariable("PGUSER", qEnvironmentVariable("USER")) : l.user;
  const QString key =
      QStringList{field(l.host), QString::number(l.port), field(l.database), field(user)}.join(
          QLatin1Char(':')) +
      QLatin1Char(':');
  QStringList lines;
  QFile old(path);
  if (old.exists()) {
    if (!old.open(QIODevice::ReadOnly)) {
      *error = path + QStringLiteral(": ") + old.errorString();
      return false;
    }
    for (const QString& line : QString::fromUtf8(old.readAll()).split(QLatin1Char('\n')))
      if (!line.startsWith(key) && !line.isEmpty()) lines << line;
  }
  lines << key + field(password);
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) ||
      !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
      file.write((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8()) < 0 || !file.commit()) {
    *error = path + QStringLiteral(": ") + file.errorString();
    return false;
  }
  return true;
}

void KeepSessionPassword(const ArchiveLocation& location, const QString& password) {
  const QMutexLocker lock(&sessionMutex);
  if (password.isEmpty())
    sessionPasswords().erase(keyOf(location));
  else
    sessionPasswords()[keyOf(location)] = password;
}

}  // namespace quelm
