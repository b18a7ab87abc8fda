// The record an officer signs, on SQLite and on a PostgreSQL server: the
// review list and its resolutions, doses entered by hand, sign-offs and
// what changes after them, and the change log that nobody can rewrite.
#include <gtest/gtest.h>

#include <unistd.h>

#include <QCryptographicHash>
#include <QRegularExpression>
#include <cmath>
#include <functional>
#include <cstring>

#include "ArchiveDb.h"
#include "archive/Archive.h"
#include "archive/ArchiveReport.h"
#include "archive/ArchiveText.h"
#include "evaluation/BlockFormat.h"
#include "base/ErrorCodes.h"
#include "evaluation/DoseChain.h"

using namespace quelm;
using quelm::test::ArchiveDb;
using quelm::test::Backend;
using quelm::test::Readout;
using quelm::test::at;

namespace {

const ReportPeriod q1 = *ParseReportPeriod(QStringLiteral("2026Q1"));

// Anna wears A1001 in the first quarter; it is read on 3 April.
class ArchiveRecordTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    if (!db.available()) GTEST_SKIP() << "no PostgreSQL server";
    archive = db.open();
    ASSERT_TRUE(archive);
    ASSERT_EQ(archive->addPerson({QStringLiteral("S-1"), QStringLiteral("Anna Berg")}), kOk);
    ASSERT_EQ(archive->assign(QStringLiteral("A1001"), QStringLiteral("S-1"), at("2026-01-01"), at("2026-03-31", true)),
              kOk);
  }
  qint64 import(BlockRecord r) {
    ImportResult result;
    EXPECT_EQ(archive->importRecords(std::vector<BlockRecord>{r}, QStringLiteral("COM1"), &result), kOk);
    std::vector<ReadoutRow> rows;
    HistoryQuery q;
    q.dosimeter = IdentifierText(r.BulbID);
    archive->history(q, &rows);
    for (const ReadoutRow& row : rows)
      if (row.blockNumber == uint16_t{r.BlockNumber}) return row.id;
    return 0;
  }
  static BlockRecord reading(int block, float dose, uint8_t flags = 0, const char* dosimeter = "A1001") {
    BlockRecord r = Readout(dosimeter, "2026-04-03 09:00", block);
    r.DateTime[4] = static_cast<uint8_t>(block);  // a minute each
    r.MeasuredDose = dose;
    r.ErrorCodes = flags;
    return r;
  }
  double quarter() {
    std::vector<PersonTotals> t;
    EXPECT_EQ(archive->totals(QStringLiteral("S-1"), q1.to, &t), kOk);
    return t.empty() ? -1 : t[0].quarterToDate;
  }
  int logRows() {
    std::vector<LogEntry> log;
    EXPECT_EQ(archive->changeLog({}, &log), kOk);
    return static_cast<int>(log.size());
  }
  // Wearer i of the first quarter, with a dosimeter of their own (five
  // characters, as a record holds it), read on 3 April when it came back
  // or at `read`.
  static QString wearer(size_t i) { return QStringLiteral("S-1%1").arg(i); }
  static QString dosimeter(size_t i) { return QStringLiteral("A1%1").arg(20 + i, 3, 10, QLatin1Char('0')); }
  void addFirstQuarterWearer(size_t i, const std::optional<QDateTime>& end,
                             const char* read = "2026-04-03 09:00") {
    ASSERT_EQ(archive->addPerson({wearer(i), QStringLiteral("Wearer %1").arg(i)}), kOk);
    ASSERT_EQ(archive->assign(dosimeter(i), wearer(i), at("2026-01-01"), end), kOk);
    ASSERT_TRUE(import(Readout(dosimeter(i).toLatin1().constData(), read, 10 + static_cast<int>(i))));
  }
  void signFirstQuarter() {
    SignoffBasis basis;
    ASSERT_EQ(archive->signoffBasis(q1, &basis), kOk);
    Signoff s;
    ASSERT_EQ(archive->storeSignoff(q1, QStringLiteral("Dr Roe"), true, {{QString(), QByteArray("%PDF")}},
                                    basis, &s),
              kOk);
  }
  // The last change, `what` of wearer i's period from `from`, is marked as
  // after the first quarter's sign-off, and the wearer's report of that
  // quarter is corrected and says why, exactly when `corrects`.
  void expectCorrection(size_t i, const QString& what, const char* from, const char* printed, bool corrects) {
    std::vector<LogEntry> log;
    ASSERT_EQ(archive->changeLog({}, &log), kOk);
    const QString marked = what + QStringLiteral(", after sign-off of 2026Q1");
    EXPECT_EQ(log.back().what.toStdString(), (corrects ? marked : what).toStdString());
    ReportDocument report;
    ASSERT_EQ(BuildPersonReport(*archive, wearer(i), q1, {}, at(printed), &report), kOk);
    EXPECT_EQ(report.title.toStdString(), corrects ? "Corrected report" : "Dose report");
    const QString heading = report.heading.join(QLatin1Char('\n'));
    const QStringList explained = {
        QStringLiteral("Changed since: Wearer %1 (%2): dose in the period").arg(i).arg(wearer(i)),
        QStringLiteral(": %1, period %2 from %3").arg(marked, dosimeter(i), QLatin1String(from))};
    for (const QString& text : explained)
      EXPECT_EQ(heading.contains(text), corrects) << heading.toStdString();
  }
  void expectNoFaults() {
    CheckReport report;
    ASSERT_EQ(archive->check(&report), kOk);
    EXPECT_TRUE(report.faults.isEmpty()) << report.faults.join(QLatin1Char('\n')).toStdString();
  }

  ArchiveDb db{GetParam()};
  std::unique_ptr<DoseArchive> archive;
};

TEST_P(ArchiveRecordTest, TheReviewListIsResolvedWithAReasonAndTheReadersDoseIsNeverOverwritten) {
  archive->setRecomputeTolerance(5);
  // The reader's doses agree with the program's, but for one.
  const auto agreeing = [](BlockRecord r) {
    r.MeasuredDose = static_cast<float>(*BlockDose(r));
    return r;
  };
  const BlockRecord flaggedRecord = agreeing(reading(1, 0, 0x08));
  const double f = flaggedRecord.MeasuredDose;
  BlockRecord off = reading(4, 100);
  const double chain = *BlockDose(off);
  ASSERT_GT(std::fabs(chain - 100) / std::max(chain, 100.0), 0.05);
  const qint64 flagged = import(flaggedRecord), noDose = import(reading(2, std::nanf(""))),
               stranger = import(agreeing(reading(3, 0, 0, "B2002"))), differs = import(off);
  BlockRecord other = flaggedRecord;
  other.ReaderTemp += 1;
  ImportResult r;
  ASSERT_EQ(archive->importRecords(std::vector<BlockRecord>{other}, QStringLiteral("copy"), &r), kOk);
  std::vector<ReadoutRow> items;
  ASSERT_EQ(archive->review(q1, &items), kOk);
  ASSERT_EQ(items.size(), 3u) << "the stranger was read in the second quarter";
  const std::pair<qint64, int> expected[] = {{flagged, kReviewFlags | kReviewConflict},
                                             {noDose, kReviewNoDose},
                                             {differs, kReviewTolerance}};
  for (size_t i = 0; i < items.size(); ++i) {
    EXPECT_EQ(items[i].id, expected[i].first);
    EXPECT_EQ(items[i].openReasons(), expected[i].second) << ReviewReasonText(items[i].openReasons()).toStdString();
  }
  ASSERT_EQ(archive->review(std::nullopt, &items), kOk);
  EXPECT_EQ(items.size(), 4u);
  EXPECT_EQ(items[2].id, stranger);
  EXPECT_EQ(items[2].openReasons(), kReviewUnassigned);
  EXPECT_NEAR(quarter(), f + 100, 1e-9) << "a flag never lowers a dose";

  // Each resolution and what the quarter counts after it.
  const EvaluationWindow window{20, 40, 120};
  double adopted = 0;
  ASSERT_EQ(archive->reevaluatedDose(differs, window, &adopted), kOk);
  const struct {
    qint64 id;
    Resolution action;
    std::optional<EvaluationWindow> window;
    ReadoutStatus status;
    double quarter;
  } steps[] = {
      {flagged, Resolution::Exclude, std::nullopt, ReadoutStatus::Excluded, 100},
      {flagged, Resolution::Accept, std::nullopt, ReadoutStatus::Accepted, f + 100},
      {differs, Resolution::Reevaluate, window, ReadoutStatus::Reevaluated, f + adopted},
      {noDose, Resolution::Accept, std::nullopt, ReadoutStatus::Accepted, f + adopted},
  };
  for (const auto& s : steps) {
    ResolveOutcome o;
    ASSERT_EQ(archive->resolve(s.id, s.action, QStringLiteral("looked at the curve"), s.window, &o), kOk)
        << archive->errorDetail().toStdString();
    EXPECT_NEAR(quarter(), s.quarter, 1e-6) << ResolutionText(s.action).toStdString();
    std::vector<ReadoutRow> rows;
    HistoryQuery q;
    q.personId = QStringLiteral("s-1");
    ASSERT_EQ(archive->history(q, &rows), kOk);
    const auto row = std::find_if(rows.begin(), rows.end(), [&](const ReadoutRow& x) { return x.id == s.id; });
    ASSERT_NE(row, rows.end());
    EXPECT_EQ(row->status(), s.status);
    EXPECT_EQ(row->resolutionReason, QStringLiteral("looked at the curve")) << "history shows why";
  }
  ASSERT_EQ(archive->review(q1, &items), kOk);
  EXPECT_TRUE(items.empty());
  QByteArray bytes;
  ASSERT_EQ(archive->record(differs, &bytes), kOk);
  EXPECT_EQ(DecodeReadout(bytes).measuredDose, 100.0) << "the reader's dose is kept";

  // What cannot be taken changes nothing.
  const int before = logRows();
  EXPECT_EQ(archive->resolve(flagged, Resolution::Accept, QStringLiteral("  ")), kErrArchiveInput);
  EXPECT_EQ(archive->resolve(flagged, Resolution::Reevaluate, QStringLiteral("x"), EvaluationWindow{90, 20, 1}),
            kErrArchiveInput);
  EXPECT_EQ(archive->resolve(999999, Resolution::Accept, QStringLiteral("x")), kErrArchiveInput);
  EXPECT_EQ(logRows(), before);

  // A lost dosimeter: a dose entered by hand counts on the quarter's last minute.
  ASSERT_EQ(archive->addNotionalDose(QStringLiteral("S-1"), q1, 250, QStringLiteral("dosimeter lost")), kOk);
  EXPECT_NEAR(quarter(), f + adopted + 250, 1e-6);
  EXPECT_EQ(archive->addNotionalDose(QStringLiteral("S-1"), q1, -5, QStringLiteral("x")), kErrArchiveInput);
  EXPECT_EQ(archive->addNotionalDose(QStringLiteral("S-9"), q1, 5, QStringLiteral("x")), kErrArchiveNoPerson);
  expectNoFaults();
}

TEST_P(ArchiveRecordTest, EveryChangeWritesOneLogRowAndAFailedOneNone) {
  const QString list = QStringLiteral("person_id,name,dosimeter,from,to\nS-2,Ben Ode,B2001,2026-01-01,\n");
  std::vector<WearerListRow> rows;
  QString error;
  ASSERT_TRUE(ParseWearerList(list.toUtf8(), &rows, &error));
  WearerListResult wl;
  const struct {
    const char* what;
    std::function<int()> change;
    int rows;  // log rows it adds
  } changes[] = {
      {"import", [&] { return import(reading(1, 10)) ? int{kOk} : -1; }, 1},
      {"the same import again", [&] { return import(reading(1, 10)) ? int{kOk} : -1; }, 0},
      {"person renamed", [&] { return archive->renamePerson(QStringLiteral("S-1"), QStringLiteral("Anna B.")); }, 1},
      {"overlap refused",
       [&] { return archive->assign(QStringLiteral("A1001"), QStringLiteral("S-1"), at("2026-02-01"), std::nullopt); }, 0},
      {"period assigned with a new person",
       [&] { return archive->assign(QStringLiteral("C3001"), QStringLiteral("Carl"), at("2026-01-01"), std::nullopt); }, 2},
      {"period ended", [&] { return archive->endPeriod(QStringLiteral("C3001"), at("2026-03-31", true)); }, 1},
      {"wearer list", [&] { return archive->importWearerList(rows, &wl, QStringLiteral("w.csv")); }, 2},
      {"resolved", [&] { return archive->resolve(1, Resolution::Exclude, QStringLiteral("broken")); }, 1},
      {"notional", [&] { return archive->addNotionalDose(QStringLiteral("S-2"), q1, 1, QStringLiteral("lost")); }, 1},
  };
  int rowsSoFar = logRows();
  for (const auto& c : changes) {
    const int rc = c.change();
    EXPECT_EQ(rc == kOk, c.rows > 0 || QLatin1String(c.what) == QLatin1String("the same import again")) << c.what;
    EXPECT_EQ(logRows() - rowsSoFar, c.rows) << c.what;
    rowsSoFar = logRows();
  }
  std::vector<LogEntry> log;
  ASSERT_EQ(archive->changeLog({}, &log), kOk);
  EXPECT_EQ(log.back().what, QStringLiteral("notional dose"));
  EXPECT_EQ(log.back().reason, QStringLiteral("lost"));
  EXPECT_FALSE(log.back().who.isEmpty());
  EXPECT_FALSE(log.back().host.isEmpty());
  EXPECT_EQ(log.back().role.isEmpty(), GetParam() == Backend::SQLite) << "a server also names the database role";
  const auto renamed = std::find_if(log.begin(), log.end(), [](const LogEntry& e) { return e.what == "person renamed"; });
  ASSERT_NE(renamed, log.end());
  EXPECT_EQ(std::make_pair(renamed->oldValue, renamed->newValue),
            std::make_pair(QStringLiteral("Anna Berg"), QStringLiteral("Anna B.")));
  LogQuery anna;
  anna.personId = QStringLiteral("S-1");
  ASSERT_EQ(archive->changeLog(anna, &log), kOk);
  EXPECT_EQ(log.size(), 5u) << "added, assigned, the import of her read-out, renamed, resolved";
  expectNoFaults();
}

// The log is read a page at a time however long it is: read in pages of
// any size, or stopped after any row, it is the log read at once, and a
// list read page by page ends where its count said.
TEST_P(ArchiveRecordTest, TheLogReadInPagesOfAnySizeIsTheWholeLogInItsOrder) {
  import(reading(1, 10));
  for (int i = 2; i <= 4; ++i) {
    ASSERT_EQ(archive->addPerson({QStringLiteral("S-%1").arg(i), QStringLiteral("Other %1").arg(i)}), kOk);
    ASSERT_EQ(archive->renamePerson(QStringLiteral("S-1"), QStringLiteral("Anna %1").arg(i)), kOk);
  }
  const QDateTime now = QDateTime::currentDateTimeUtc();
  const auto ids = [](const std::vector<LogEntry>& rows) {
    std::vector<qint64> out;
    for (const LogEntry& e : rows) out.push_back(e.id);
    return out;
  };
  std::vector<LogEntry> whole;
  ASSERT_EQ(archive->changeLog({}, &whole), kOk);
  ASSERT_EQ(whole.size(), 9u);
  LogQuery anna, today, before;
  anna.personId = QStringLiteral("S-1");
  today.from = now.addDays(-1);
  before.to = now.addDays(-2);
  const struct {
    const char* what;
    LogQuery query;
    size_t rows;
  } queries[] = {
      {"all", {}, 9}, {"Anna's", anna, 6}, {"from yesterday", today, 9}, {"to the day before", before, 0}};
  const int pageRows = changeLogPageRows();
  for (const auto& q : queries) {
    setChangeLogPageRows(1000);
    std::vector<LogEntry> atOnce;
    ASSERT_EQ(archive->changeLog(q.query, &atOnce), kOk) << q.what;
    EXPECT_EQ(atOnce.size(), q.rows) << q.what;
    for (const int page : {1, 2, 3, 7}) {
      setChangeLogPageRows(page);
      std::vector<LogEntry> paged;
      ASSERT_EQ(archive->changeLog(q.query, &paged), kOk) << q.what << " in pages of " << page;
      EXPECT_EQ(ids(paged), ids(atOnce)) << q.what << " in pages of " << page;
      for (size_t stop = 1; stop <= atOnce.size(); ++stop) {
        std::vector<LogEntry> first;
        ASSERT_EQ(archive->changeLog(q.query,
                                     [&](const LogEntry& e) {
                                       first.push_back(e);
                                       return first.size() < stop;
                                     }),
                  kOk);
        const std::vector<qint64> all = ids(atOnce);
        EXPECT_EQ(ids(first), std::vector<qint64>(all.begin(), all.begin() + long(stop)))
            << q.what << " stopped after " << stop << " in pages of " << page;
      }
    }
  }
  setChangeLogPageRows(pageRows);
  EXPECT_EQ(whole.back().what, QStringLiteral("person renamed"));
}

TEST_P(ArchiveRecordTest, TheLogCannotBeRewrittenAndARowAlteredBehindTheProgramsBackIsFound) {
  import(reading(1, 10));
  ASSERT_EQ(archive->renamePerson(QStringLiteral("S-1"), QStringLiteral("Anna B.")), kOk);
  archive.reset();
  for (const char* sql : {"UPDATE change_log SET new_value = 'x'", "DELETE FROM change_log"}) {
    ::testing::ScopedTrace trace(__FILE__, __LINE__, sql);
    EXPECT_FALSE(db.raw(QString::fromLatin1(sql), false));
  }
  if (GetParam() == Backend::PostgreSQL) {
    EXPECT_FALSE(db.raw(QStringLiteral("TRUNCATE change_log"), false));
  }
  // A superuser drops the triggers and alters the second row.
  const QStringList drop = GetParam() == Backend::SQLite
                               ? QStringList{"DROP TRIGGER change_log_no_update"}
                               : QStringList{"DROP TRIGGER change_log_never_changed ON change_log"};
  for (const QString& sql : drop + QStringList{"UPDATE change_log SET new_value = 'Mallory' WHERE id = 2"})
    ASSERT_TRUE(db.raw(sql)) << sql.toStdString();
  archive = db.open();
  CheckReport report;
  ASSERT_EQ(archive->check(&report), kOk);
  ASSERT_EQ(report.faults.size(), 2) << report.faults.join(QLatin1Char('\n')).toStdString();
  EXPECT_TRUE(report.faults[0].startsWith(QStringLiteral("change log row 2 "))) << report.faults[0].toStdString();
  EXPECT_TRUE(report.faults[1].contains(QStringLiteral("triggers")));
}

// A sign-off's figures are what a later report is held against: like its
// documents they are never changed, and a document swapped by a superuser
// who removed the guards is found by its hash.
TEST_P(ArchiveRecordTest, ASignoffCannotBeRewrittenAndADocumentSwappedBehindTheProgramsBackIsFound) {
  import(reading(1, 10));
  SignoffBasis basis;
  Signoff s;
  ASSERT_EQ(archive->signoffBasis(q1, &basis), kOk);
  // More reports than the check reads at a time, so that a swapped one on
  // either side of a page's end is found too.
  std::vector<SignoffDocument> documents = {{QString(), QByteArray("%PDF summary")},
                                            {QStringLiteral("S-1"), QByteArray("%PDF anna")}};
  for (int i = 2; i <= 120; ++i)
    documents.push_back({QStringLiteral("P-%1").arg(i, 3, 10, QLatin1Char('0')),
                         QByteArray("%PDF ") + QByteArray::number(i)});
  ASSERT_EQ(archive->storeSignoff(q1, QStringLiteral("Dr Roe"), true, documents, basis, &s), kOk);
  archive.reset();
  const bool sqlite = GetParam() == Backend::SQLite;
  QStringList refused = {"UPDATE signoff_figures SET period_dose = 0", "DELETE FROM signoff_figures",
                         "UPDATE signoff_documents SET sha256 = ''", "DELETE FROM signoffs"};
  if (!sqlite) refused += {"TRUNCATE signoffs", "TRUNCATE signoff_documents", "TRUNCATE signoff_figures"};
  for (const QString& sql : refused) EXPECT_FALSE(db.raw(sql, false)) << sql.toStdString();

  const QString forged = sqlite ? QStringLiteral("X'%1'") : QStringLiteral("'\\x%1'::bytea");
  const QStringList drop =
      sqlite ? QStringList{"DROP TRIGGER signoff_documents_no_update"}
             : QStringList{"DROP TRIGGER signoff_documents_never_changed ON signoff_documents"};
  for (const QString& sql :
       drop + QStringList{
                  QStringLiteral("UPDATE signoff_documents SET pdf = %1 WHERE person_id IN ('S-1', 'P-050',"
                                 " 'P-051', 'P-120')")
                      .arg(forged.arg(QString::fromLatin1(QByteArray("%PDF eve").toHex()))),
                  QStringLiteral("UPDATE signoff_documents SET pdf = %1, sha256 = '00' WHERE person_id = ''")
                      .arg(forged.arg(QString::fromLatin1(QByteArray("%PDF other").toHex())))})
    ASSERT_TRUE(db.raw(sql)) << sql.toStdString();
  archive = db.open();
  CheckReport report;
  ASSERT_EQ(archive->check(&report), kOk);
  EXPECT_EQ(
      report.faults,
      QStringList(
          {QStringLiteral("the triggers that keep the change log and the sign-offs from being rewritten "
                          "are missing or switched off"),
           QStringLiteral("the sign-off of 2026Q1: its summary is not the one signed (SHA-256 %1)")
               .arg(s.sha256),
           QStringLiteral("the sign-off of 2026Q1: the report of S-1 differs from its SHA-256"),
           QStringLiteral("the sign-off of 2026Q1: the report of P-050 differs from its SHA-256"),
           QStringLiteral("the sign-off of 2026Q1: the report of P-051 differs from its SHA-256"),
           QStringLiteral("the sign-off of 2026Q1: the report of P-120 differs from its SHA-256")}))
      << report.faults.join(QLatin1Char('\n')).toStdString();
  // Each person's document is the one stored for that person, as it now is.
  for (const auto& [person, bytes] : std::vector<std::pair<QString, QByteArray>>{{QString(), "%PDF other"},
                                                                                 {"P-002", "%PDF 2"},
                                                                                 {"P-051", "%PDF eve"},
                                                                                 {"P-052", "%PDF 52"},
                                                                                 {"P-120", "%PDF eve"},
                                                                                 {"P-121", ""}}) {
    QByteArray pdf;
    EXPECT_EQ(archive->signedDocument(s.id, person, &pdf), bytes.isEmpty() ? kErrArchiveInput : kOk);
    EXPECT_EQ(pdf, bytes) << person.toStdString();
  }
}

TEST_P(ArchiveRecordTest, ASignedPeriodKeepsItsDocumentsAndALaterChangeMakesTheNextReportACorrection) {
  import(reading(1, 406.68f));
  import(reading(2, std::nanf("")));
  const std::vector<SignoffDocument> docs = {{QString(), QByteArray("%PDF summary")},
                                             {QStringLiteral("S-1"), QByteArray("%PDF anna")}};
  Signoff s;
  SignoffBasis basis;
  ASSERT_EQ(archive->signoffBasis(q1, &basis), kOk);
  EXPECT_EQ(archive->storeSignoff(q1, QStringLiteral("Dr Roe"), false, docs, basis, &s), kErrArchiveOpenItems);
  EXPECT_TRUE(archive->errorDetail().contains(QStringLiteral("1 read-outs of 2026Q1 await review")));
  ASSERT_EQ(archive->storeSignoff(q1, QStringLiteral("Dr Roe"), true, docs, basis, &s), kOk);
  EXPECT_EQ(s.openItems, 1);
  EXPECT_EQ(s.sha256, QString::fromLatin1(QCryptographicHash::hash("%PDF summary", QCryptographicHash::Sha256).toHex()));
  QByteArray pdf;
  ASSERT_EQ(archive->signedDocument(QStringLiteral("2026Q1"), QStringLiteral("s-1"), &pdf), kOk);
  EXPECT_EQ(pdf, QByteArray("%PDF anna"));
  ASSERT_EQ(archive->signedDocument(QStringLiteral("2026Q1"), QString(), &pdf), kOk);
  EXPECT_EQ(pdf, QByteArray("%PDF summary"));
  std::vector<Signoff> list;
  ASSERT_EQ(archive->signoffs(&list), kOk);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].signedBy, QStringLiteral("Dr Roe"));

  ReportDocument report;
  ArchiveSettings settings;
  ASSERT_EQ(BuildSummaryReport(*archive, q1, settings, at("2026-04-10"), &report), kOk);
  EXPECT_EQ(report.title, QStringLiteral("Service summary")) << "nothing changed since";
  EXPECT_TRUE(report.heading.contains(QStringLiteral("1 read-outs of this period await review")));

  // The dosimeter was Ben's from 1 April: the read-out moves to him, and
  // Anna's signed quarter changes. Stored, marked, and said.
  ASSERT_EQ(archive->addPerson({QStringLiteral("S-2"), QStringLiteral("Ben Ode")}), kOk);
  ASSERT_EQ(archive->assign(QStringLiteral("A1001"), QStringLiteral("S-2"), at("2026-04-01"), std::nullopt), kOk);
  std::vector<LogEntry> since;
  ASSERT_EQ(archive->changesSince(s, QString(), &since), kOk);
  ASSERT_EQ(since.size(), 1u) << "adding Ben touches no signed figure";
  EXPECT_EQ(since[0].what, QStringLiteral("period assigned, after sign-off of 2026Q1"));
  ASSERT_EQ(BuildPersonReport(*archive, QStringLiteral("S-1"), q1, settings, at("2026-04-10"), &report), kOk);
  EXPECT_EQ(report.title, QStringLiteral("Corrected report"));
  const QString heading = report.heading.join(QLatin1Char('\n'));
  EXPECT_TRUE(heading.contains(QStringLiteral("Corrects the report signed on "))) << heading.toStdString();
  EXPECT_TRUE(heading.contains(QStringLiteral(" by Dr Roe")));
  EXPECT_TRUE(heading.contains(s.sha256));
  EXPECT_TRUE(heading.contains(QStringLiteral("Anna Berg (S-1): dose in the period ") + DoseText(406.68f) +
                               QStringLiteral(" -> ") + DoseText(0.0)))
      << heading.toStdString();
  EXPECT_TRUE(heading.contains(QStringLiteral("period assigned, after sign-off of 2026Q1, period A1001 from 2026-04-01")));
  expectNoFaults();
}

// A person's report counts that person's open read-outs and nobody
// else's, the summary all of them, nobody's too; a read-out without a time
// is open for each person who wore its dosimeter in the period. A run of
// reports given the period's record once says the same.
TEST_P(ArchiveRecordTest, APersonsReportCountsOnlyThatPersonsOpenReadOutsAndTheSummaryAll) {
  const struct {
    const char *id, *name, *dosimeter, *from, *to;
  } wearers[] = {{"S-2", "Ben Ode", "B2002", "2026-01-01", "2026-03-31"},
                 {"S-3", "Cara Lind", "D4004", "2026-01-01", "2026-02-15"},
                 {"S-4", "Dan Falk", "D4004", "2026-02-16", "2026-03-31"},
                 {"S-5", "Eve Marr", "E5005", "2026-01-01", "2026-03-31"}};
  for (const auto& w : wearers) {
    ASSERT_EQ(archive->addPerson({QLatin1String(w.id), QLatin1String(w.name)}), kOk);
    ASSERT_EQ(archive->assign(QLatin1String(w.dosimeter), QLatin1String(w.id), at(w.from), at(w.to, true)),
              kOk);
  }
  BlockRecord timeless = reading(7, 5.0f, 0, "D4004");
  std::memset(timeless.DateTime, 0, 5);
  for (const BlockRecord& r :
       {reading(1, std::nanf("")), reading(2, 5.0f, 0x08, "B2002"), reading(3, std::nanf(""), 0, "B2002"),
        reading(4, 5.0f, 0, "E5005"), Readout("Z9999", "2026-02-10 09:00", 6), timeless}) {
    ImportResult result;
    ASSERT_EQ(archive->importRecords(std::vector<BlockRecord>{r}, QStringLiteral("COM1"), &result), kOk);
    ASSERT_EQ(result.added, 1);
  }
  PeriodRecord record;
  ASSERT_EQ(ReadPeriodRecord(*archive, q1, &record), kOk);
  const struct {
    const char* person;
    int open;
  } reports[] = {{"", 5}, {"S-1", 1}, {"s-2", 2}, {"S-3", 1}, {"S-4", 1}, {"S-5", 0}};
  for (const auto& c : reports)
    for (const PeriodRecord* given : std::initializer_list<const PeriodRecord*>{nullptr, &record}) {
      const QString person = QLatin1String(c.person);
      ReportDocument report;
      ASSERT_EQ(person.isEmpty()
                    ? BuildSummaryReport(*archive, q1, {}, at("2026-04-10"), &report, given)
                    : BuildPersonReport(*archive, person, q1, {}, at("2026-04-10"), &report, given),
                kOk);
      const QString expected =
          c.open ? QStringLiteral("%1 read-outs of this period await review").arg(c.open) : QString();
      EXPECT_EQ(report.heading.filter(QStringLiteral("await review")).join(QLatin1Char('|')).toStdString(),
                expected.toStdString())
          << c.person << (given ? " given the record" : "");
    }
}

// After the second quarter is signed, each change corrects the reports
// whose signed figures it moves, and no other: Anna's first-quarter
// read-out counts in her signed year-to-date, Ben's read-out is his alone.
// Each quarter's dosimeters are read when they come back.
TEST_P(ArchiveRecordTest, ALaterChangeCorrectsTheReportsWhoseSignedFiguresItMovesAndNoOthers) {
  const ReportPeriod q2 = *ParseReportPeriod(QStringLiteral("2026Q2"));
  ASSERT_EQ(archive->addPerson({QStringLiteral("S-2"), QStringLiteral("Ben Ode")}), kOk);
  for (const auto& [dosimeter, person] : {std::pair{"A1002", "S-1"}, std::pair{"B2002", "S-2"}})
    ASSERT_EQ(archive->assign(QLatin1String(dosimeter), QLatin1String(person), at("2026-04-01"),
                              at("2026-06-30", true)),
              kOk);
  const auto readout = [&](const char* dosimeter, const char* time, int block, float dose) {
    BlockRecord r = Readout(dosimeter, time, block);
    r.MeasuredDose = dose;
    return import(r);
  };
  const qint64 annasFirst = readout("A1001", "2026-04-02 09:00", 1, 100);
  readout("A1002", "2026-07-02 09:00", 2, 300);
  const qint64 bens = readout("B2002", "2026-07-03 09:00", 3, 400);
  ASSERT_TRUE(annasFirst && bens);
  SignoffBasis basis;
  ASSERT_EQ(archive->signoffBasis(q2, &basis), kOk);
  Signoff s;
  ASSERT_EQ(archive->storeSignoff(q2, QStringLiteral("Dr Roe"), true, {{QString(), QByteArray("%PDF")}}, basis, &s),
            kOk);

  const QString annasYear = QStringLiteral("Anna Berg (S-1): year-to-date ") + DoseText(400.0) +
                            QStringLiteral(" -> ") + DoseText(300.0);
  struct Report {
    const char* person;  // empty: the summary
    const char* title;
    QStringList says, saysNot;
  };
  struct Step {
    std::function<int()> change;
    std::vector<Report> reports;
  };
  const Step steps[] = {
      {[&] { return archive->resolve(annasFirst, Resolution::Exclude, QStringLiteral("Anna's badge in the source")); },
       {{"", "Corrected report", {annasYear, QStringLiteral("Anna's badge in the source")}, {}},
        {"S-1", "Corrected report", {annasYear, QStringLiteral("Anna's badge in the source")}, {}},
        {"S-2", "Dose report", {}, {QStringLiteral("Change of"), QStringLiteral("Anna")}}}},
      {[&] { return archive->resolve(bens, Resolution::Exclude, QStringLiteral("Ben's badge dropped")); },
       {{"", "Corrected report", {annasYear, QStringLiteral("Ben's badge dropped")}, {}},
        {"S-1", "Corrected report", {annasYear}, {QStringLiteral("Ben")}},
        {"S-2", "Corrected report", {QStringLiteral("Ben's badge dropped")}, {QStringLiteral("Anna")}}}},
  };
  for (size_t i = 0; i < std::size(steps); ++i) {
    ASSERT_EQ(steps[i].change(), kOk) << archive->errorDetail().toStdString();
    for (const Report& r : steps[i].reports) {
      SCOPED_TRACE(testing::Message() << "after change " << i + 1 << ", report of '" << r.person << "'");
      ReportDocument report;
      const QString person = QString::fromLatin1(r.person);
      ASSERT_EQ(person.isEmpty() ? BuildSummaryReport(*archive, q2, {}, at("2026-07-10"), &report)
                                 : BuildPersonReport(*archive, person, q2, {}, at("2026-07-10"), &report),
                kOk);
      EXPECT_EQ(report.title.toStdString(), r.title);
      const QString heading = report.heading.join(QLatin1Char('\n'));
      for (const QString& text : r.says) EXPECT_TRUE(heading.contains(text)) << heading.toStdString();
      for (const QString& text : r.saysNot) EXPECT_FALSE(heading.contains(text)) << heading.toStdString();
    }
  }
}

// A change that moves a figure of Anna's signed quarter is named in her
// corrected report and in her log, whoever its row was keyed to: an
// import keys nobody, a resolution whoever wore the dosimeter that day.
TEST_P(ArchiveRecordTest, EveryChangeThatMovesAPersonsSignedFiguresIsInThatPersonsReportAndLog) {
  ASSERT_EQ(archive->addPerson({QStringLiteral("S-2"), QStringLiteral("Ben Ode")}), kOk);
  ASSERT_EQ(archive->assign(QStringLiteral("A1003"), QStringLiteral("S-2"), at("2026-01-01"), std::nullopt),
            kOk);
  ASSERT_EQ(archive->assign(QStringLiteral("A1009"), QStringLiteral("S-1"), at("2025-01-01"),
                            at("2025-12-31", true)),
            kOk);
  import(reading(1, 100));
  const qint64 bens = import(Readout("A1003", "2026-02-10 09:00", 7));
  ASSERT_TRUE(bens);
  const auto importFrom = [&](const char* source, const BlockRecord& r) {
    ImportResult result;
    const int rc = archive->importRecords(std::vector<BlockRecord>{r}, QLatin1String(source), &result);
    return rc ? rc : result.added == 1 ? int{kOk} : -1;
  };
  SignoffBasis basis;
  ASSERT_EQ(archive->signoffBasis(q1, &basis), kOk);
  Signoff s;
  ASSERT_EQ(
      archive->storeSignoff(q1, QStringLiteral("Dr Roe"), true, {{QString(), QByteArray("%PDF")}}, basis, &s),
      kOk);
  BlockRecord lastYear = Readout("A1009", "2025-06-01 09:00", 9);
  lastYear.MeasuredDose = 30;
  const struct {
    const char* what;
    std::function<int()> change;
    QString named;  // in a row of the change
    QString says;   // in the report's heading
  } steps[] = {
      {"last year's read-out", [&] { return importFrom("2025.dat", lastYear); }, QStringLiteral("2025.dat"),
       QStringLiteral("Anna Berg (S-1): lifetime ") + DoseText(100.0) + QStringLiteral(" -> ") +
           DoseText(130.0)},
      {"a read-out of her dosimeter", [&] { return importFrom("late.dat", reading(2, 50)); },
       QStringLiteral("late.dat"),
       QStringLiteral("Anna Berg (S-1): dose in the period ") + DoseText(100.0) + QStringLiteral(" -> ") +
           DoseText(150.0)},
      {"resolved while Ben wore it, then hers",
       [&] {
         int rc = archive->resolve(bens, Resolution::Exclude, QStringLiteral("badge swapped"));
         if (!rc) rc = archive->endPeriod(QStringLiteral("A1003"), at("2026-01-31", true));
         return rc ? rc
                   : archive->assign(QStringLiteral("A1003"), QStringLiteral("S-1"), at("2026-02-01"),
                                     std::nullopt);
       },
       QStringLiteral("badge swapped"), QStringLiteral("read-outs 1 -> 3")},
  };
  LogQuery anna;
  anna.personId = QStringLiteral("s-1");
  std::vector<LogEntry> log, since;
  for (const auto& step : steps) {
    SCOPED_TRACE(step.what);
    ASSERT_EQ(archive->changeLog(anna, &log), kOk);
    const size_t before = log.size();
    ASSERT_EQ(step.change(), kOk) << archive->errorDetail().toStdString();
    const auto names = [&](const std::vector<LogEntry>& rows) {
      return std::any_of(rows.begin(), rows.end(), [&](const LogEntry& e) {
        return e.entity.contains(step.named) || e.reason == step.named;
      });
    };
    ASSERT_EQ(archive->changeLog(anna, &log), kOk);
    EXPECT_GT(log.size(), before);
    EXPECT_TRUE(names(log));
    ASSERT_EQ(archive->changesSince(s, QStringLiteral("S-1"), &since), kOk);
    EXPECT_TRUE(names(since));
    ReportDocument report;
    ASSERT_EQ(BuildPersonReport(*archive, QStringLiteral("S-1"), q1, {}, at("2026-04-10"), &report), kOk);
    EXPECT_EQ(report.title, QStringLiteral("Corrected report"));
    const QString heading = report.heading.join(QLatin1Char('\n'));
    EXPECT_TRUE(heading.contains(step.says)) << heading.toStdString();
    EXPECT_TRUE(heading.contains(QStringLiteral("Change of"))) << heading.toStdString();
  }
  expectNoFaults();
}

// The documents are made from the record before the sign-off is stored; a
// change or an import in between is refused, and nothing is stored.
TEST_P(ArchiveRecordTest, ASignoffIsRefusedWhenTheRecordChangedWhileItsDocumentsWereMade) {
  const qint64 first = import(reading(1, 100));
  const std::pair<const char*, std::function<int()>> changes[] = {
      {"a resolution", [&] { return archive->resolve(first, Resolution::Exclude, QStringLiteral("dropped")); }},
      {"an import",
       [&] {
         ImportResult r;
         return archive->importRecords(std::vector<BlockRecord>{reading(2, 50)}, QStringLiteral("COM1"), &r);
       }},
      {"a notional dose",
       [&] { return archive->addNotionalDose(QStringLiteral("S-1"), q1, 20, QStringLiteral("lost")); }},
  };
  const std::vector<SignoffDocument> docs = {{QString(), QByteArray("%PDF")}};
  Signoff s;
  for (const auto& [what, change] : changes) {
    SCOPED_TRACE(what);
    SignoffBasis basis;
    ASSERT_EQ(archive->signoffBasis(q1, &basis), kOk);
    ASSERT_EQ(change(), kOk) << archive->errorDetail().toStdString();
    const int rows = logRows();
    EXPECT_EQ(archive->storeSignoff(q1, QStringLiteral("Dr Roe"), true, docs, basis, &s), kErrArchiveChanged);
    EXPECT_EQ(logRows(), rows);
    std::vector<Signoff> list;
    ASSERT_EQ(archive->signoffs(&list), kOk);
    EXPECT_TRUE(list.empty());
  }
  SignoffBasis basis;
  ASSERT_EQ(archive->signoffBasis(q1, &basis), kOk);
  EXPECT_EQ(archive->storeSignoff(q1, QStringLiteral("Dr Roe"), true, docs, basis, &s), kOk);
}

// The next wearer of a dosimeter, given after a sign-off, changes a signed
// quarter only when a read-out it held changes hands: each wearer of the
// first quarter has a dosimeter of their own, read on 3 April and so
// counted on 31 March, which the next wearer takes over from 1 April (the
// read-out moves) or from 1 May (it stays).
TEST_P(ArchiveRecordTest, ANextWearerCorrectsASignedQuarterOnlyWhenAReadOutOfItChangesHands) {
  const struct {
    const char* name;
    bool byList;  // else by assign
    const char* from;
    bool corrects;
  } cases[] = {
      {"assigned after the read-out", false, "2026-05-01", false},
      {"listed after the read-out", true, "2026-05-01", false},
      {"assigned before the read-out", false, "2026-04-01", true},
      {"listed before the read-out", true, "2026-04-01", true},
  };
  ASSERT_EQ(archive->addPerson({QStringLiteral("S-2"), QStringLiteral("Ben Ode")}), kOk);
  for (size_t i = 0; i < std::size(cases); ++i) addFirstQuarterWearer(i, at("2026-03-31", true));
  signFirstQuarter();

  for (size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    SCOPED_TRACE(c.name);
    const WearPeriod next{dosimeter(i), {}, at(c.from), std::nullopt};
    if (c.byList) {
      WearerListResult result;
      ASSERT_EQ(
          archive->importWearerList({{1, {QStringLiteral("S-2"), QStringLiteral("Ben Ode")}, next}}, &result),
          kOk)
          << archive->errorDetail().toStdString();
    } else {
      ASSERT_EQ(archive->assign(next.dosimeter, QStringLiteral("S-2"), next.from, std::nullopt), kOk);
    }
    expectCorrection(i, QStringLiteral("period assigned"), "2026-04-01", "2026-05-10", c.corrects);
  }
  expectNoFaults();
}

// An end given after a sign-off changes a signed quarter only when a
// read-out's dose time moves into or out of it: each wearer from 1 January
// has a dosimeter of their own, read on 3 April (or when the case says),
// which counts on the period's last minute when the period ends before it.
// An end on the quarter's last day is its last minute: a read-out up to it
// (a dosimeter read the afternoon it came back) keeps its time, one after
// it moves.
TEST_P(ArchiveRecordTest, AnEndCorrectsASignedQuarterOnlyWhenADoseTimeMovesWithIt) {
  enum By { End, Assign, List };
  const struct {
    const char* name;
    By by;
    const char* was;  // the end before the sign-off; null: open
    const char* end;  // the end given after it; null: none
    bool corrects;
    const char* read = "2026-04-03 09:00";
  } cases[] = {
      {"ended after the read-out", End, nullptr, "2026-04-30", false},
      {"ended before the read-out, which moves into the quarter", End, nullptr, "2026-03-31", true},
      {"listed end after the read-out", List, nullptr, "2026-04-30", false},
      {"listed end before the read-out", List, nullptr, "2026-03-31", true},
      {"end assigned later, the read-out before both", Assign, "2026-04-30", "2026-05-31", false},
      {"end assigned later, the read-out leaves the quarter", Assign, "2026-03-31", "2026-04-30", true},
      {"end removed, the read-out before it", Assign, "2026-04-30", nullptr, false},
      {"end removed, the read-out leaves the quarter", Assign, "2026-03-31", nullptr, true},
      {"ended on the quarter's last day, the read-out before it", End, nullptr, "2026-03-31", false,
       "2026-03-31 15:00"},
      {"ended on the quarter's last day, the read-out on its last minute", End, nullptr, "2026-03-31", false,
       "2026-03-31 23:59"},
      {"ended on the quarter's last day, the read-out on the next minute", End, nullptr, "2026-03-31", true,
       "2026-04-01 00:00"},
      {"listed end on the quarter's last day, the read-out before it", List, nullptr, "2026-03-31", false,
       "2026-03-31 15:00"},
      {"end assigned earlier, on the quarter's last day, the read-out before both", Assign, "2026-04-30",
       "2026-03-31", false, "2026-03-31 15:00"},
      {"end assigned later than the quarter's last day, the read-out before both", Assign, "2026-03-31",
       "2026-04-30", false, "2026-03-31 15:00"},
      {"end removed from the quarter's last day, the read-out before it", Assign, "2026-03-31", nullptr,
       false, "2026-03-31 15:00"},
  };
  const auto end = [](const char* text) { return text ? std::optional(at(text, true)) : std::nullopt; };
  for (size_t i = 0; i < std::size(cases); ++i) addFirstQuarterWearer(i, end(cases[i].was), cases[i].read);
  signFirstQuarter();

  for (size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    SCOPED_TRACE(c.name);
    const WearPeriod period{
        dosimeter(i), {wearer(i), QStringLiteral("Wearer %1").arg(i)}, at("2026-01-01"), end(c.end)};
    if (c.by == End) {
      ASSERT_EQ(archive->endPeriod(period.dosimeter, *period.to), kOk);
    } else if (c.by == List) {
      WearerListResult result;
      ASSERT_EQ(archive->importWearerList({{1, period.person, period}}, &result), kOk)
          << archive->errorDetail().toStdString();
      ASSERT_EQ(result.ended, 1);
    } else {
      ASSERT_EQ(archive->assign(period.dosimeter, wearer(i), period.from, period.to), kOk);
    }
    expectCorrection(i, QStringLiteral("period ended"), "2026-01-01", "2026-06-10", c.corrects);
  }
  expectNoFaults();
}

INSTANTIATE_TEST_SUITE_P(Databases, ArchiveRecordTest, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         quelm::test::backendName);

// A server role that may only read: every reading call answers, every
// writing one says the archive is read-only for it.
TEST(ArchiveRoles, AReadingRoleReadsEverythingAndWritesNothing) {
  ArchiveDb db{Backend::PostgreSQL};
  if (!db.available()) GTEST_SKIP();
  {
    auto owner = db.open();
    ASSERT_TRUE(owner);
    ASSERT_EQ(owner->addPerson({QStringLiteral("S-1"), QStringLiteral("Anna")}), kOk);
  }
  const QString role = QStringLiteral("quelm_reader_%1").arg(::getpid());
  ASSERT_TRUE(db.raw(QStringLiteral("DROP ROLE IF EXISTS %1").arg(role)));
  ASSERT_TRUE(db.raw(QStringLiteral("CREATE ROLE %1 LOGIN PASSWORD 'read' IN ROLE pg_read_all_data").arg(role)));
  QString url = db.url;
  url.replace(QRegularExpression(QStringLiteral("//[^@]*@")), QStringLiteral("//%1:read@").arg(role));
  ArchiveLocation l;
  QString error, detail;
  ASSERT_EQ(ParseArchiveLocation(url, &l, &error), kOk);
  int code = 0;
  {
    auto reader = DoseArchive::open(l, {}, &code, &detail);
    ASSERT_TRUE(reader) << detail.toStdString();
    EXPECT_FALSE(reader->canWrite());
    std::vector<Person> persons;
    EXPECT_EQ(reader->persons(&persons), kOk);
    EXPECT_EQ(persons.size(), 1u);
    std::vector<LogEntry> log;
    EXPECT_EQ(reader->changeLog({}, &log), kOk);
    EXPECT_EQ(reader->addPerson({QStringLiteral("S-2"), QStringLiteral("Ben")}), kErrArchiveReadOnly);
    ImportResult r;
    EXPECT_EQ(reader->importRecords(std::vector<BlockRecord>{Readout("A0001", "2026-01-02 08:00", 1)},
                                    QStringLiteral("x"), &r),
              kErrArchiveReadOnly);
  }
  db.raw(QStringLiteral("DROP ROLE %1").arg(role));
}

}  // namespace
