#pragma once
// What many fixtures set up around a test: a quiet trace, a configuration
// file of their own, and files written into a temporary folder. Each scope
// restores what it changed, so no test leaks into the next.

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <cstdint>
#include <vector>

#include "base/Config.h"
#include "base/Diag.h"
#include "measurement/BlockRecord.h"
#include "measurement/TextList.h"
#include "sample-data/SampleData.h"

namespace quelm::test {

class DiagScope {
 public:
  explicit DiagScope(uint32_t flags = 0) : saved_(DiagFlags) { DiagFlags = flags; }
  ~DiagScope() { DiagFlags = saved_; }
  DiagScope(const DiagScope&) = delete;
  DiagScope& operator=(const DiagScope&) = delete;

 private:
  uint32_t saved_;
};

// Points the program's configuration at quelm.INI in `dir`.
class ConfigScope {
 public:
  explicit ConfigScope(const QTemporaryDir& dir) {
    setConfigFilePath(dir.filePath(QStringLiteral("quelm.INI")));
  }
  ~ConfigScope() { setConfigFilePath(QString()); }
  ConfigScope(const ConfigScope&) = delete;
  ConfigScope& operator=(const ConfigScope&) = delete;
};

// Collects every trace line while it lives.
class LogCapture {
 public:
  LogCapture() {
    setLogSink([this](const QString& line) { lines << line; });
  }
  ~LogCapture() { setLogSink({}); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;
  QStringList lines;
};

// Makes `dir` the working folder, so that relative names land in it.
class WorkDirScope {
 public:
  explicit WorkDirScope(const QTemporaryDir& dir) : saved_(QDir::currentPath()) {
    QDir::setCurrent(dir.path());
  }
  ~WorkDirScope() { QDir::setCurrent(saved_); }
  WorkDirScope(const WorkDirScope&) = delete;
  WorkDirScope& operator=(const WorkDirScope&) = delete;

 private:
  QString saved_;
};

// Stops the clock the text files print at `now`.
class TextClockScope {
 public:
  explicit TextClockScope(const QDateTime& now) {
    setTextFileClock([now] { return now; });
  }
  ~TextClockScope() { setTextFileClock({}); }
  TextClockScope(const TextClockScope&) = delete;
  TextClockScope& operator=(const TextClockScope&) = delete;
};

inline void WriteFile(const QString& path, const QByteArray& content) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
  ASSERT_EQ(f.write(content), content.size()) << path.toStdString();
}

inline QString WriteBlocks(const QTemporaryDir& dir, const char* name,
                           const std::vector<BlockRecord>& blocks) {
  const QString path = dir.filePath(QString::fromLatin1(name));
  WriteFile(path, QByteArray(reinterpret_cast<const char*>(blocks.data()),
                             static_cast<qsizetype>(blocks.size() * sizeof(BlockRecord))));
  return path;
}

inline QString WriteSample(const QTemporaryDir& dir, const char* name, const SampleDataOptions& options) {
  const QString path = dir.filePath(QString::fromLatin1(name));
  EXPECT_EQ(WriteSampleDataFile(path, options), 0);
  return path;
}

}  // namespace quelm::test
