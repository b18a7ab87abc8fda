// Two programs importing the same file into one archive at once, one
// killed in the middle of its import, and writers that meet another one
// mid-way, on SQLite and on PostgreSQL. The second program is
// tests/archive/ArchiveImportProbe.cpp; it stops inside its transaction at
// a given point, so nothing here depends on timing.
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include "ArchiveDb.h"
#include "TestEnv.h"
#include "base/ErrorCodes.h"

using namespace quelm;
using quelm::test::ArchiveDb;
using quelm::test::at;
using quelm::test::Backend;
using quelm::test::Readout;

namespace {

class ArchiveProcessTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    if (!db.available()) GTEST_SKIP() << "no PostgreSQL server";
    file = quelm::test::WriteSample(dir, "night.dat", {300, 5, 1900});
  }
  void start(QProcess& p, const QStringList& extra = {}) { run(p, QStringList{file} + extra); }
  void run(QProcess& p, const QStringList& arguments) {
    p.start(QStringLiteral(QUELM_ARCHIVE_PROBE), QStringList{db.url} + arguments);
    ASSERT_TRUE(p.waitForStarted());
  }
  // The probe started with these arguments, held inside its transaction.
  void hold(QProcess& p, const QStringList& arguments) {
    run(p, arguments);
    ASSERT_EQ(line(p), QStringLiteral("started"));
    ASSERT_EQ(line(p), QStringLiteral("holding"));
  }
  // Lets the held probe go on; the line it ends with.
  static QString release(QProcess& p) {
    p.write("go\n");
    EXPECT_TRUE(p.waitForFinished(60000));
    const QString last = line(p);
    EXPECT_EQ(p.exitCode(), 0) << last.toStdString();
    return last;
  }
  // Another program's archive that gives up on a held lock at once.
  std::unique_ptr<DoseArchive> quick() {
    ArchiveOptions options;
    options.busyTimeoutMs = 100;
    return db.open(options);
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

// Ending a period and assigning the dosimeter anew while another program
// ends the same period: that one has read the periods and holds them, so
// the second end waits (and here gives up) instead of each setting an end
// on what it read, the later one overlapping the next wearer's period.
TEST_P(ArchiveProcessTest, AnEndWaitsForAnotherEndOfTheSamePeriod) {
  {
    auto archive = db.open();
    ASSERT_EQ(archive->addPerson({QStringLiteral("E1"), QStringLiteral("Eva Ek")}), kOk);
    ASSERT_EQ(archive->addPerson({QStringLiteral("E2"), QStringLiteral("Emil Ek")}), kOk);
    ASSERT_EQ(archive->assign(QStringLiteral("A0001"), QStringLiteral("E1"), at("2006-01-01"), std::nullopt),
              kOk);
  }
  QProcess held;
  hold(held, {QStringLiteral("--end"), QStringLiteral("A0001"), QStringLiteral("2006-06-30")});
  auto other = quick();
  EXPECT_EQ(other->endPeriod(QStringLiteral("A0001"), at("2006-03-31", true)), kErrArchiveBusy)
      << other->errorDetail().toStdString();
  EXPECT_EQ(release(held), QStringLiteral("0"));
  // Once the first is through, the second reads its end and moves it earlier.
  ASSERT_EQ(other->endPeriod(QStringLiteral("A0001"), at("2006-03-31", true)), kOk);
  ASSERT_EQ(other->assign(QStringLiteral("A0001"), QStringLiteral("E2"), at("2006-04-01"), std::nullopt),
            kOk);
  std::vector<LogEntry> log;
  ASSERT_EQ(other->changeLog({}, &log), kOk);
  QStringList ends;
  for (const LogEntry& e : log)
    if (e.what == QLatin1String("period ended")) ends << e.oldValue + QStringLiteral(" > ") + e.newValue;
  EXPECT_EQ(ends, (QStringList{"open > 2006-06-30 23:59", "2006-06-30 23:59 > 2006-03-31 23:59"}));
  stored();
}

// Marking a dosimeter as a control while an import of its read-outs is
// under way: the import judges the control's batches once the mark is in.
TEST_P(ArchiveProcessTest, AControlMarkedDuringAnImportOfItsReadoutsGetsItsBatches) {
  std::vector<BlockRecord> records;
  for (int i = 0; i < 300; ++i) {
    const QByteArray time = QStringLiteral("2024-08-%1 %2:00")
                                .arg(1 + i % 28, 2, 10, QLatin1Char('0'))
                                .arg(8 + i / 28, 2, 10, QLatin1Char('0'))
                                .toLatin1();
    records.push_back(Readout("C0001", time.constData(), i));
  }
  QFile out(dir.filePath(QStringLiteral("controls.dat")));
  ASSERT_TRUE(out.open(QIODevice::WriteOnly));
  out.write(reinterpret_cast<const char*>(records.data()),
            static_cast<qint64>(records.size() * sizeof(BlockRecord)));
  out.close();
  db.open();
  QProcess held;
  hold(held, {out.fileName(), QStringLiteral("--hold-after"), QStringLiteral("1")});
  auto other = quick();
  // On SQLite the import holds the whole file; on a server the mark goes in.
  const int marked = other->markControl(QStringLiteral("C0001"), 1000, std::nullopt);
  EXPECT_EQ(marked, GetParam() == Backend::SQLite ? kErrArchiveBusy : kOk)
      << other->errorDetail().toStdString();
  EXPECT_EQ(release(held), QStringLiteral("300 0 0"));
  if (marked) {
    ASSERT_EQ(other->markControl(QStringLiteral("C0001"), 1000, std::nullopt), kOk);
  }
  std::vector<ControlBatch> batches;
  ASSERT_EQ(other->controlBatches(&batches), kOk);
  EXPECT_EQ(batches.size(), 28u);
  EXPECT_EQ(stored(), 300);
}

// Two resolutions of one read-out: the second waits for the first and logs
// what the first made of it.
TEST_P(ArchiveProcessTest, AResolutionWaitsForAnotherOfTheSameReadout) {
  qint64 id = 0;
  {
    auto archive = db.open();
    BlockRecord flagged = Readout("A0017", "2024-08-10 08:00", 1);
    flagged.ErrorCodes = 1;
    ImportResult r;
    ASSERT_EQ(archive->importRecords(std::vector<BlockRecord>{flagged}, QStringLiteral("COM2"), &r), kOk);
    std::vector<ReadoutRow> items;
    ASSERT_EQ(archive->review(std::nullopt, &items), kOk);
    ASSERT_EQ(items.size(), 1u);
    id = items[0].id;
  }
  QProcess held;
  hold(held, {QStringLiteral("--exclude"), QString::number(id)});
  auto other = quick();
  EXPECT_EQ(other->resolve(id, Resolution::Accept, QStringLiteral("flag checked")), kErrArchiveBusy);
  EXPECT_EQ(release(held), QStringLiteral("0"));
  ResolveOutcome outcome;
  ASSERT_EQ(other->resolve(id, Resolution::Accept, QStringLiteral("flag checked"), std::nullopt, &outcome),
            kOk);
  EXPECT_EQ(outcome.before.resolution, Resolution::Exclude);
  std::vector<LogEntry> log;
  ASSERT_EQ(other->changeLog({}, &log), kOk);
  ASSERT_FALSE(log.empty());
  EXPECT_TRUE(log.back().oldValue.startsWith(QStringLiteral("excluded")))
      << log.back().oldValue.toStdString();
}

// A writer that meets a lock another program holds gives up after the busy
// time-out and says the archive is busy, on a server as on SQLite.
TEST_P(ArchiveProcessTest, AWriterHeldUpByAnotherOneSaysTheArchiveIsBusy) {
  auto other = quick();
  ArchiveLocation l;
  QString error;
  ASSERT_EQ(ParseArchiveLocation(db.url, &l, &error), kOk);
  const QString name = QStringLiteral("quelm-test-holder");
  {
    QSqlDatabase holder = QSqlDatabase::addDatabase(
        l.kind == ArchiveLocation::PostgreSQL ? QStringLiteral("QPSQL") : QStringLiteral("QSQLITE"), name);
    holder.setHostName(l.host);
    holder.setPort(l.port);
    holder.setUserName(l.user);
    holder.setPassword(l.password);
    holder.setDatabaseName(l.kind == ArchiveLocation::PostgreSQL ? l.database : l.path);
    ASSERT_TRUE(holder.open());
    QSqlQuery q(holder);
    const QStringList held = l.kind == ArchiveLocation::PostgreSQL
                                 ? QStringList{"BEGIN", "LOCK TABLE change_log IN EXCLUSIVE MODE"}
                                 : QStringList{"BEGIN IMMEDIATE"};
    for (const QString& sql : held) ASSERT_TRUE(q.exec(sql)) << sql.toStdString();
    const struct {
      const char* what;
      std::function<int()> write;
    } writers[] = {
        {"person add",
         [&] {
           return other->addPerson({QStringLiteral("E1"), QStringLiteral("Eva Ek")});
         }},
        {"import",
         [&] {
           ImportResult r;
           return other->importRecords(std::vector<BlockRecord>{Readout("A0017", "2024-01-10 08:00", 1)},
                                       QStringLiteral("x"), &r);
         }},
    };
    for (const auto& w : writers) {
      EXPECT_EQ(w.write(), kErrArchiveBusy) << w.what << ": " << other->errorDetail().toStdString();
    }
    q.exec(QStringLiteral("ROLLBACK"));
    holder.close();
  }
  QSqlDatabase::removeDatabase(name);
  EXPECT_EQ(other->addPerson({QStringLiteral("E1"), QStringLiteral("Eva Ek")}), kOk);
}

INSTANTIATE_TEST_SUITE_P(Databases, ArchiveProcessTest,
                         ::testing::Values(Backend::SQLite, Backend::PostgreSQL), quelm::test::backendName);

}  // namespace
