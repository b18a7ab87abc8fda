#include "archive/ArchiveLocation.h"

#include <QStandardPaths>
#include <QUrl>
#include <QUrlQuery>
#include <cmath>

#include "base/ErrorCodes.h"
#include "base/IniFile.h"

namespace quelm {

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
    if (!url.isValid() || url.host().isEmpty() && !url.hasQuery() || url.path().size() < 2 ||
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

ArchiveSettings ReadArchiveSettings(const QString& configPath) {
  ArchiveSettings s;
  const IniFile ini(configPath);
  const QString section = QStringLiteral("Dose archive");
  s.database = ini.ReadString(section, QStringLiteral("Database"), QString());
  s.archiveDownloads = ini.ReadInteger(section, QStringLiteral("ArchiveDownloads"), 1) != 0;
  const auto level = [&](const char* key, double fallback) {
    const double v = ini.ReadFloat(section, QLatin1String(key), fallback);
    return std::isfinite(v) && v > 0 ? v : fallback;
  };
  s.notificationLevel = level("NotificationLevel", s.notificationLevel);
  s.annualLimit = level("AnnualLimit", s.annualLimit);
  const double tolerance = ini.ReadFloat(section, QStringLiteral("RecomputeTolerance"), -1);
  if (std::isfinite(tolerance) && tolerance > 0) s.recomputeTolerance = tolerance;
  const double control = ini.ReadFloat(section, QStringLiteral("ControlTolerance"), -1);
  if (std::isfinite(control) && control > 0) s.controlTolerance = control;
  return s;
}

bool WriteArchiveDatabase(const QString& configPath, const QString& database) {
  IniFile ini(configPath);
  if (ini.status() == IniFile::LoadStatus::Unreadable) return false;
  ini.WriteString(QStringLiteral("Dose archive"), QStringLiteral("Database"), database.trimmed());
  return ini.UpdateFile();
}

}  // namespace quelm
