// Two programs importing the same file into one archive at once, and one
// killed in the middle of its import, on SQLite and on PostgreSQL. The
// second program is tests/archive/ArchiveImportProbe.cpp; it stops inside
// its transaction at a given record, so nothing here depends on timing.
#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>

#include "ArchiveDb.h"
#include "TestEnv.h"
#include "base/ErrorCodes.h"

using namespace quelm;
using quelm::test::ArchiveDb;
using quelm::test::Backend;

namespace {

class ArchiveProcessTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    if (!db.available()) GTEST_SKIP() << "no PostgreSQL server";
    file = quelm::test::WriteSample(dir, "night.dat", {300, 5, 1900});
  }
  void start(QProcess& p, const QStringList& extra = {}) {
    p.start(QStringLiteral(QUELM_ARCHIVE_PROBE), QStringList{db.url, file} + extra);
    ASSERT_TRUE(p.waitForStarted());
  }
  static QString line(QProcess& p) {
    while (!p.canReadLine())
      if (!p.waitForReadyRead(60000)) return QString();
    return QString::fromLocal8Bit(p.readLine()).trimmed();
  }
  int stored() {
    auto archive = db.open();
    CheckReport report;
    EXPECT_EQ(archive->check(&report), kOk);
    EXPECT_TRUE(report.faults.isEmpty()) << report.faults.join(QLatin1Char('\n')).toStdString();
    return report.readouts;
  }

  ArchiveDb db{GetParam()};
  QTemporaryDir dir;
  QString file;
};

TEST_P(ArchiveProcessTest, TwoProgramsImportingOneFileAtOnceStoreEachReadOutOnce) {
  db.open();  // made before either starts: both find the same schema
  QProcess first, second;
  start(first, {QStringLiteral("--hold-after"), QStringLiteral("150")});
  ASSERT_EQ(line(first), QStringLiteral("started"));
  ASSERT_EQ(line(first), QStringLiteral("holding"));
  // The second one starts while the first holds half the file uncommitted.
  start(second);
  ASSERT_EQ(line(second), QStringLiteral("started"));
  first.write("go\n");
  ASSERT_TRUE(first.waitForFinished(60000));
  ASSERT_TRUE(second.waitForFinished(60000));
  const QStringList a = line(first).split(QLatin1Char(' ')), b = line(second).split(QLatin1Char(' '));
  EXPECT_EQ(first.exitCode(), 0) << a.join(QLatin1Char(' ')).toStdString();
  EXPECT_EQ(second.exitCode(), 0) << b.join(QLatin1Char(' ')).toStdString();
  ASSERT_EQ(a.size(), 3);
  ASSERT_EQ(b.size(), 3);
  EXPECT_EQ(a[0].toInt() + b[0].toInt(), 300) << "added";
  EXPECT_EQ(a[1].toInt() + b[1].toInt(), 300) << "already archived";
  EXPECT_EQ(a[2].toInt() + b[2].toInt(), 0);
  EXPECT_EQ(stored(), 300);
}

TEST_P(ArchiveProcessTest, AProgramKilledInTheMiddleOfAnImportLeavesTheArchiveAsItWas) {
  {
    auto archive = db.open();
    ImportResult r;
    ASSERT_EQ(archive->importRecords(MakeSampleBlocks({40, 9, 0}), QStringLiteral("earlier"), &r), kOk);
  }
  QProcess killed;
  start(killed, {QStringLiteral("--kill-after"), QStringLiteral("150")});
  ASSERT_TRUE(killed.waitForFinished(60000));
  EXPECT_EQ(killed.exitStatus(), QProcess::CrashExit);
  EXPECT_EQ(stored(), 40);

  QProcess again;
  start(again);
  ASSERT_TRUE(again.waitForFinished(60000));
  ASSERT_EQ(line(again), QStringLiteral("started"));
  EXPECT_EQ(line(again), QStringLiteral("300 0 0"));
  EXPECT_EQ(stored(), 340);
}

// A server's rows are taken in key order, and a deadlock runs again: two
// imports of one file in opposite orders, one held inside its transaction
// while the other starts, both end well.
TEST_P(ArchiveProcessTest, TwoImportsOfOneFileInOppositeOrdersBothSucceed) {
  db.open();
  QProcess first, second;
  start(first, {QStringLiteral("--hold-after"), QStringLiteral("1")});
  ASSERT_EQ(line(first), QStringLiteral("started"));
  ASSERT_EQ(line(first), QStringLiteral("holding"));
  start(second, {QStringLiteral("--reverse")});
  ASSERT_EQ(line(second), QStringLiteral("started"));
  first.write("go\n");
  ASSERT_TRUE(first.waitForFinished(60000));
  ASSERT_TRUE(second.waitForFinished(60000));
  const QStringList a = line(first).split(QLatin1Char(' ')), b = line(second).split(QLatin1Char(' '));
  ASSERT_EQ(first.exitCode(), 0) << a.join(QLatin1Char(' ')).toStdString();
  ASSERT_EQ(second.exitCode(), 0) << b.join(QLatin1Char(' ')).toStdString();
  EXPECT_EQ(a.value(0).toInt() + b.value(0).toInt(), 300);
  EXPECT_EQ(stored(), 300);
}

INSTANTIATE_TEST_SUITE_P(Databases, ArchiveProcessTest,
                         ::testing::Values(Backend::SQLite, Backend::PostgreSQL), quelm::test::backendName);

}  // namespace
