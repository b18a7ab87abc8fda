#pragma once
// Compares a whole output with its golden file in tests/data, byte for byte.
// A golden file that cannot be opened fails the test: a missing file must
// never pass as "nothing to compare".

#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>
#include <QString>

namespace quelm::test {

// A file's whole content; empty when it does not exist or does not open.
inline QByteArray ReadFile(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline void ExpectMatchesGolden(const QByteArray& actual, const char* name) {
  QFile golden(QStringLiteral(QUELM_TEST_DATA_DIR "/") + QString::fromLatin1(name));
  ASSERT_TRUE(golden.open(QIODevice::ReadOnly)) << "golden file " << name << " does not open";
  const QByteArray expected = golden.readAll();
  EXPECT_EQ(actual, expected) << "output differs from " << name << "; it was:\n" << actual.toStdString();
}

}  // namespace quelm::test
