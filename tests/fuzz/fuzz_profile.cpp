// Profile files of arbitrary bytes: read every key, write one key, read the
// file back. The written key reads back as written and every other key keeps
// its value.
#include <fuzzer/FuzzedDataProvider.h>

#include <QDir>
#include <QFile>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <map>
#include <utility>

#include "FuzzSupport.h"
#include "base/IniFile.h"

using quelm::fuzz::require;

namespace {

// A name or value as the program writes them: printable, no separators of
// the file's syntax, no surrounding blanks.
QString plainText(FuzzedDataProvider& in, bool name) {
  static const char kChars[] = "abcXYZ019 ._-/";
  QString s;
  const size_t n = in.ConsumeIntegralInRange<size_t>(1, 12);
  for (size_t i = 0; i < n; ++i)
    s += QLatin1Char(kChars[in.ConsumeIntegralInRange<size_t>(0, sizeof kChars - 2)]);
  s = s.trimmed();
  if (s.isEmpty() || (name && s.startsWith(QLatin1Char(';')))) s = QStringLiteral("k");
  return s;
}

using Values = std::map<std::pair<QString, QString>, QString>;

QString folded(const QString& s) { return s.toCaseFolded(); }

// Every section and key of the file, with the value a read gives (the first
// of equal names, which compare case-insensitively).
Values readAll(const QString& path) {
  const quelm::IniFile ini(path);
  QFile f(path);
  require(f.open(QIODevice::ReadOnly), "the file opens");
  const QByteArray bytes = f.readAll();
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = utf8(bytes);
  if (utf8.hasError()) text = QString::fromLatin1(bytes);
  Values values;
  for (const QString& line : text.split(QLatin1Char('\n'))) {
    const QString t = line.trimmed();
    const qsizetype close = t.indexOf(QLatin1Char(']'));
    if (!t.startsWith(QLatin1Char('[')) || close < 0) continue;
    const QString section = t.mid(1, close - 1).trimmed();
    for (const QString& key : ini.ReadSection(section))
      values.emplace(std::make_pair(folded(section), folded(key)),
                     ini.ReadString(section, key, QStringLiteral("-")));
  }
  return values;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const QString dir = [] {
    const QString base =
        QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    return QDir(base).filePath(QStringLiteral("quelm-fuzz-profile-%1").arg(::getpid()));
  }();
  QDir().mkpath(dir);
  const QString path = dir + QStringLiteral("/p.INI");
  FuzzedDataProvider in(data, size);
  const QString section = plainText(in, true);
  const QString key = plainText(in, true);
  const QString value = plainText(in, false);
  const std::string bytes = in.ConsumeRemainingBytesAsString();
  {
    QFile f(path);
    require(f.open(QIODevice::WriteOnly | QIODevice::Truncate), "the file can be made");
    require(f.write(bytes.data(), static_cast<qint64>(bytes.size())) == static_cast<qint64>(bytes.size()),
            "written");
  }
  const Values before = readAll(path);

  quelm::IniFile ini(path);
  ini.WriteString(section, key, value);
  require(ini.UpdateFile(), "the file can be updated");

  const quelm::IniFile after(path);
  require(after.ReadString(section, key, QString()) == value, "the written key reads back");
  for (const auto& [name, old] : before) {
    if (name.first == folded(section) && name.second == folded(key)) continue;
    require(after.ReadString(name.first, name.second, QStringLiteral("-")) == old,
            "other keys keep their values");
  }
  return 0;
}
