// The calibration window over its job, and the certificate as a reader of
// the PDF sees it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSemaphore>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>

#include "ArchiveDb.h"
#include "CalibrationBatch.h"
#include "PdfText.h"
#include "ScriptedPrompter.h"
#include "TestEnv.h"
#include "base/Config.h"
#include "base/ErrorCodes.h"
#include "base/UserLocale.h"
#include "calibration/CalibrationForm.h"
#include "calibration/CertificatePainter.h"
#include "calibration/ReadoutSource.h"

using namespace quelm;
using namespace quelm::test;

namespace {

class CalibrationWindowTest : public ::testing::Test {
 protected:
  CalibrationWindowTest() {
    // Nine alike, one 30 % more sensitive, one flagged; a reference dosimeter.
    std::vector<BlockRecord> blocks =
        CalibrationBlocks({1.0, 1.01, 0.99, 1.0, 1.005, 0.995, 1.0, 1.002, 0.998, 1.3, 1.0});
    blocks[10].ErrorCodes = 0x04;
    BlockRecord reference = CalibrationBlock(12, 1.0);
    std::memcpy(reference.BulbID, "SENS1", 5);
    blocks.push_back(reference);
    WriteBlocks(dir, "batch.dat", blocks);
  }
  QString path(const char* name) const { return dir.filePath(QLatin1String(name)); }
  void prepare(CalibrationJob& job) {
    job.whoIsCalibrating = [] { return QStringLiteral("tester"); };
    job.now = [] { return QDateTime(QDate(2026, 3, 5), QTime(14, 3)); };
  }

  QTemporaryDir dir;
  ScriptedPrompter prompter;
};

// The factor history's axis: a tenth beyond the factors, never below 0.
TEST(FactorHistoryAxis, PadsTheFactorsAndStaysAtOrAboveZero) {
  const struct {
    double low, high, axisLow, axisHigh;
  } cases[] = {{4870, 5535, 4803.5, 5601.5}, {42.3, 5535, 0, 6084.27}, {5000, 5000, 4900, 5100}};
  for (const auto& c : cases) {
    const auto [low, high] = FactorHistoryWidget::Axis(c.low, c.high);
    EXPECT_NEAR(low, c.axisLow, 1e-6) << c.low;
    EXPECT_NEAR(high, c.axisHigh, 1e-6) << c.high;
  }
}

TEST_F(CalibrationWindowTest, PaintsTheBatchAndAnOutlierTickedIsKept) {
  TCalibrationForm f;
  prepare(f.Job);
  EXPECT_EQ(f.windowTitle(), "Calibration");
  for (QPushButton* b : {f.LookupButton, f.DptButton, f.CsvButton, f.PdfButton, f.AbortButton})
    EXPECT_FALSE(b->isEnabled()) << b->objectName().toStdString();

  prompter.fileAnswers.push_back(path("batch.dat"));
  f.FilesButton->click();
  EXPECT_EQ(f.SourceLabel->text(), "12 read-outs from data files batch.dat");
  f.DoseEdit->setText("abc");
  f.DoseEditExit();
  EXPECT_EQ(prompter.texts(), QStringList{"\"abc\" is no dose in uSv above 0"});
  EXPECT_EQ(f.BatchGrid->item(0, f.BatchGrid->columnCount() - 1)->text(), "awaiting the delivered dose");
  f.DoseEdit->setText("1000");
  f.DoseEditExit();
  EXPECT_TRUE(f.CsvButton->isEnabled());
  EXPECT_FALSE(f.LookupButton->isEnabled()) << "below the service level";
  // A dose emptied or typed wrong is no dose: nothing is written with the one before.
  for (const char* typed : {"", "abc", "1000"}) {
    prompter.clear();
    f.DoseEdit->setText(QLatin1String(typed));
    f.DoseEditExit();
    EXPECT_EQ(f.CsvButton->isEnabled(), QByteArray(typed) == "1000") << typed;
    EXPECT_EQ(prompter.texts().size(), QByteArray(typed) == "abc" ? 1 : 0) << typed;
  }
  // Doses per dosimeter from a file, then the same single dose typed again:
  // it is taken anew.
  {
    QFile doses(path("doses.csv"));
    ASSERT_TRUE(doses.open(QIODevice::WriteOnly));
    for (const CalibrationRow& r : f.Job.Run().rows)
      if (r.dosimeter != "SENS1") doses.write(r.dosimeter.toLatin1() + ",900\n");
  }
  prompter.fileAnswers.push_back(path("doses.csv"));
  f.DoseFileButton->click();
  ASSERT_FALSE(f.Job.Run().dose.all.has_value()) << prompter.texts().join(QLatin1Char('\n')).toStdString();
  EXPECT_EQ(f.DoseEdit->text(), QString());
  f.DoseEdit->setText("1000");
  f.DoseEditExit();
  ASSERT_TRUE(f.Job.Run().dose.all.has_value());
  EXPECT_EQ(*f.Job.Run().dose.all, 1000);

  ASSERT_EQ(f.BatchGrid->rowCount(), 12);
  EXPECT_EQ(f.BatchGrid->horizontalHeaderItem(1)->text(), "Dosimeter");
  const auto use = [&f](int row) { return f.BatchGrid->item(row, 0); };
  EXPECT_EQ(use(0)->checkState(), Qt::Checked);
  EXPECT_FALSE(use(0)->flags() & Qt::ItemIsUserCheckable) << "only an outlier's box changes";
  EXPECT_EQ(use(9)->checkState(), Qt::Unchecked);
  EXPECT_TRUE(use(9)->flags() & Qt::ItemIsUserCheckable);
  EXPECT_FALSE(use(11)->data(Qt::CheckStateRole).isValid()) << "no factor, no box";
  EXPECT_TRUE(f.FiguresLabel->text().startsWith("Type A: 11 factors, 9 in the mean"))
      << f.FiguresLabel->text().toStdString();
  // The scale spans the batch; the far outlier is counted beyond it.
  int bars = 0, left = 0;
  for (size_t i = 0; i < f.Histogram->data.used.size(); ++i) {
    bars += f.Histogram->data.used[i];
    left += f.Histogram->data.left[i];
  }
  EXPECT_EQ(bars, 9);
  EXPECT_EQ(left, 1) << "the flagged one, within the batch";
  EXPECT_EQ(f.Histogram->data.above, 1);

  use(9)->setCheckState(Qt::Checked);
  EXPECT_TRUE(f.Job.Run().rows[9].kept);
  EXPECT_TRUE(f.FiguresLabel->text().startsWith("Type A: 11 factors, 10 in the mean"));

  prompter.fileAnswers.push_back(path("batch.csv"));
  f.CsvButton->click();
  EXPECT_TRUE(QFile::exists(path("batch.csv")));
  EXPECT_TRUE(f.StatusLabel->toolTip().startsWith("Batch table written to " + path("batch.csv")));
  EXPECT_EQ(f.StatusLabel->text(), "Kept in the dose archive as calibration run 1")
      << "the configuration names no archive: the default file";
  prompter.fileAnswers.push_back(std::nullopt);
  f.PdfButton->click();
  EXPECT_TRUE(prompter.messages.empty()) << "a cancelled dialog says nothing";
}

// A source as slow as a server that answers late: its read-outs come only
// once the window's thread has handled a queued event, which looks at the
// window while the source is being read.
class HeldSource final : public ReadoutSource {
 public:
  HeldSource(std::vector<CalibrationReadout> readouts, std::function<void()> meanwhile)
      : readouts_(std::move(readouts)), meanwhile_(std::move(meanwhile)) {}
  QString Description() const override { return QStringLiteral("held read-outs"); }
  int Fetch(std::vector<CalibrationReadout>* readouts, QString*) override {
    QMetaObject::invokeMethod(
        qApp,
        [this] {
          meanwhile_();
          go_.release();
        },
        Qt::QueuedConnection);
    go_.acquire();
    *readouts = readouts_;
    return 0;
  }

 private:
  std::vector<CalibrationReadout> readouts_;
  std::function<void()> meanwhile_;
  QSemaphore go_;
};

TEST_F(CalibrationWindowTest, ReadOutsAreReadBesideTheWindowAndAppliedWhenTheyArrive) {
  TCalibrationForm f;
  prepare(f.Job);
  std::vector<CalibrationReadout> batch;
  {
    DataFileReadouts files({path("batch.dat")});
    QString context;
    ASSERT_EQ(files.Fetch(&batch, &context), 0);
  }
  struct Seen {
    bool called = false, filesButton = true, archiveButton = true, busyPointer = false;
    size_t rows = 99;
    QString status;
  };
  const struct {
    size_t count;
    size_t rowsAfter;
    QString message;
  } cases[] = {
      {batch.size(), batch.size(), {}},
      {static_cast<size_t>(kMaxCalibrationReadouts) + 1, batch.size(),
       QStringLiteral("held read-outs hold %1 read-outs; a calibration run takes at most %2. Choose fewer "
                      "dosimeters or a shorter span.")
           .arg(kMaxCalibrationReadouts + 1)
           .arg(kMaxCalibrationReadouts)},
  };
  size_t rowsBefore = 0;
  for (const auto& c : cases) {
    prompter.clear();
    std::vector<CalibrationReadout> readouts;
    while (readouts.size() < c.count) readouts.push_back(batch[readouts.size() % batch.size()]);
    Seen seen;
    HeldSource source(readouts, [&] {
      seen = {true,
              f.FilesButton->isEnabled(),
              f.ArchiveButton->isEnabled(),
              QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor,
              f.Job.Run().rows.size(),
              f.StatusLabel->text()};
    });
    const CalibrationOutcome o = f.Job.Load(source);
    ASSERT_TRUE(seen.called) << c.count;
    EXPECT_FALSE(seen.filesButton || seen.archiveButton) << "no second load meanwhile";
    EXPECT_TRUE(seen.busyPointer);
    EXPECT_EQ(seen.rows, rowsBefore) << "the run as it was until the read-outs arrive";
    EXPECT_EQ(seen.status, "Reading the read-outs...");
    EXPECT_EQ(f.Job.Run().rows.size(), c.rowsAfter);
    EXPECT_EQ(f.BatchGrid->rowCount(), static_cast<int>(c.rowsAfter));
    EXPECT_TRUE(f.FilesButton->isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(ShowCalibrationOutcome(o), QString());
    EXPECT_EQ(prompter.texts(), c.message.isEmpty() ? QStringList() : QStringList{c.message});
    rowsBefore = f.Job.Run().rows.size();
  }
}

// The outlier limit is typed as the dose is: the user's separator, and a
// text that is no limit refused with a word while the limit in force stays.
TEST_F(CalibrationWindowTest, TheOutlierLimitTakesTheUsersSeparatorOrIsRefused) {
  const UserLocale saved = userLocale();
  UserLocale comma = saved;
  comma.decimalSeparator = QLatin1Char(',');
  setUserLocale(comma);
  {
    TCalibrationForm f;
    prepare(f.Job);
    f.show();
    f.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
    EXPECT_EQ(f.OutlierEdit->text(), "3");
    const char* refusal =
        "The outlier limit must be a number of standard deviations above 0 such as 2.5, not \"%1\"";
    const struct {
      const char* typed;
      double limit;
      const char* shown;
      bool refused;
    } cases[] = {{"2,5", 2.5, "2,5", false}, {"2.5", 2.5, "2,5", true}, {"1e1", 10, "10", false},
                 {"25", 25, "25", false},    {"0", 25, "25", true},     {"2,5 SD", 25, "25", true}};
    for (const auto& c : cases) {
      prompter.clear();
      f.OutlierEdit->setFocus();
      f.OutlierEdit->selectAll();
      QTest::keyClicks(f.OutlierEdit, QLatin1String(c.typed));
      QTest::keyClick(f.OutlierEdit, Qt::Key_Tab);
      EXPECT_EQ(f.Job.Run().outlierSd, c.limit) << c.typed;
      EXPECT_EQ(f.OutlierEdit->text(), c.shown) << c.typed;
      EXPECT_EQ(prompter.texts(), c.refused
                                      ? QStringList{QString::fromLatin1(refusal).arg(QLatin1String(c.typed))}
                                      : QStringList())
          << c.typed;
    }
  }
  setUserLocale(saved);
}

TEST_F(CalibrationWindowTest, TheDoseArchiveGivesTheReadoutsKeepsTheRunAndShowsAFactorHistory) {
  ArchiveDb db{Backend::SQLite};
  {
    int code = 0;
    QString detail;
    ArchiveLocation location;
    ASSERT_EQ(ParseArchiveLocation(db.url, &location, &detail), 0);
    const auto archive = DoseArchive::open(location, {}, &code, &detail);
    ImportResult result;
    ASSERT_EQ(archive->importFile(path("batch.dat"), &result), 0);
  }
  WriteFile(path("quelm.INI"), "[Dose archive]\nDatabase=" + db.url.toUtf8() + "\n");
  setConfigFilePath(path("quelm.INI"));
  TCalibrationForm f;
  prepare(f.Job);
  EXPECT_FALSE(f.KeepButton->isEnabled());
  f.ArchiveDosimetersEdit->setText("A0001-B0001");
  f.ArchiveButton->click();
  EXPECT_EQ(
      prompter.texts(),
      QStringList{"Read-outs from the dose archive: \"A0001-B0001\": a range stays within one type letter"});
  f.ArchiveDosimetersEdit->setText("A0001-A0011");
  f.ArchiveFromEdit->setText("2026-03-02");
  f.ArchiveToEdit->setText("2026-03-02");
  f.ArchiveButton->click();
  EXPECT_EQ(f.SourceLabel->text(),
            "11 read-outs from dose archive archive.sqlite: A0001 to A0011 (11 dosimeters) "
            "read 2026-03-02 00:00 to 2026-03-02 23:59");
  f.DoseEdit->setText("1000");
  f.DoseEditExit();
  ASSERT_TRUE(f.KeepButton->isEnabled());
  f.KeepButton->click();
  EXPECT_EQ(f.StatusLabel->text(), "Kept in the dose archive as calibration run 1");

  f.BatchGrid->setCurrentCell(2, 1);
  EXPECT_EQ(f.HistoryEdit->text(), "A0003");
  f.HistoryButton->click();
  ASSERT_EQ(f.FactorHistory->data.size(), 2u) << "its read-out and its calibration";
  EXPECT_EQ(f.FactorHistory->data[0].factor, 5000.0) << "in force at the read-out";
  EXPECT_EQ(f.FactorHistory->data[1].factor, f.Job.Run().rows[2].factor);
  setConfigFilePath(QString());
}

TEST_F(CalibrationWindowTest, TheCertificateSaysTheRunTheFiguresAndEveryReadoutOnOnePage) {
  CalibrationJob job;
  prepare(job);
  job.writePdf = WriteCertificatePdf;
  DataFileReadouts source({path("batch.dat")});
  job.Load(source);
  // A0002, 1 % more sensitive, got 1 % more dose.
  WriteFile(path("doses.csv"),
            "dosimeter,dose_usv\nA0001,1000\nA0002,1010\nA0003,1000\nA0004,1000\n"
            "A0005,1000\nA0006,1000\nA0007,1000\nA0008,1000\nA0009,1000\nA0010,1000\n");
  job.LoadDoseFile(path("doses.csv"));
  job.SetNote("Cs-137 source 12, irradiated 2026-03-04 by J. Doe");
  ASSERT_EQ(job.WriteCertificate(path("c.pdf")).kind, CalibrationOutcome::kDone);
  EXPECT_EQ(PdfPages(path("c.pdf")), 1);
  const QString text = PdfText(path("c.pdf"));
  for (const char* expected :
       {"Calibration certificate", "computed 05.03.2026 14:03 by tester", "12 from data files batch.dat",
        "per dosimeter from doses.csv (1000.00 to 1010.00 µSv)",
        "Cs-137 source 12, irradiated 2026-03-04 by J. Doe", "10 solved, 9 in the mean, 2 refused",
        "Type A: 10 factors, 9 in the mean; mean ", "A0001", "A0010", "SENS1", "outlier (", "SD), left out",
        "refused: no delivered dose", "Calibrated by tester on 05.03.2026 14:03 with Quelm"})
    EXPECT_TRUE(text.contains(QString::fromUtf8(expected))) << expected << "\n" << text.toStdString();

  // A batch larger than the page: the read-outs out of the mean first, and
  // a line for the rest.
  std::vector<double> many(300);
  for (size_t i = 0; i < many.size(); ++i) many[i] = 1 + 0.004 * std::sin(static_cast<double>(i));
  many[7] = 1.5;
  WriteBlocks(dir, "many.dat", CalibrationBlocks(many));
  DataFileReadouts large({path("many.dat")});
  job.Load(large);
  job.SetDose(1000);
  ASSERT_EQ(job.WriteCertificate(path("large.pdf")).kind, CalibrationOutcome::kDone);
  EXPECT_EQ(PdfPages(path("large.pdf")), 1);
  const QString largeText = PdfText(path("large.pdf"));
  EXPECT_TRUE(largeText.contains("A0008")) << "the outlier is listed" << largeText.toStdString();
  EXPECT_TRUE(
      largeText.contains(QRegularExpression("and \\d+ more read-outs: every row is in the batch table")))
      << largeText.toStdString();
}

// A run line or a note of thousands of characters: the page is made, the
// text wraps in full as far as the page allows, and beyond that it ends in
// a mark that it goes on, above a table that keeps its rows.
TEST(Certificate, ALongRunLineOrNoteWrapsAndTheRestIsMarked) {
  QTemporaryDir dir;
  QStringList files, words;
  for (int i = 1; i <= 40; ++i)
    files << QStringLiteral("/srv/dosimetry/2026-03-04/reader-%1/batch-%2.dat")
                 .arg(i % 3)
                 .arg(i, 4, 10, QChar('0'));
  for (int i = 0; i < 170; ++i) words << QStringLiteral("irradiated%1").arg(i);
  const QString readouts = QStringLiteral("400 from data files ") + files.join(QStringLiteral(", "));
  const QString note = words.join(QLatin1Char(' '));
  ASSERT_GE(readouts.size(), 2000);
  ASSERT_GE(note.size(), 2000);
  const QString huge = QString(note + QLatin1Char(' ')).repeated(20);
  const struct {
    QString readouts, note;
    bool whole;
  } cases[] = {{readouts, QStringLiteral("none"), true},
               {QStringLiteral("1 from a"), note, true},
               {QStringLiteral("1 from a"), huge, false}};
  for (const auto& c : cases) {
    CertificateContent content;
    content.title = QStringLiteral("Calibration certificate");
    content.run = {{QStringLiteral("Run"), QStringLiteral("computed by tester")},
                   {QStringLiteral("Read-outs"), c.readouts},
                   {QStringLiteral("Note"), c.note}};
    content.batches = {QStringLiteral("Type A: 400 factors")};
    content.columns = {{QStringLiteral("Dosimeter"), false, true}, {QStringLiteral("Factor"), true, true}};
    for (int i = 1; i <= 400; ++i) {
      content.rows.push_back({QStringLiteral("A%1").arg(i, 4, 10, QChar('0')), QStringLiteral("5000")});
      content.marked.push_back(i == 7);
    }
    content.signature = QStringLiteral("Calibrated by tester");
    const QString pdf = dir.filePath(QStringLiteral("long.pdf"));
    ASSERT_EQ(WriteCertificatePdf(content, pdf), kOk);
    EXPECT_EQ(PdfPages(pdf), 1);
    if (qEnvironmentVariableIsSet("SHOW_PDF"))
      QFile::copy(pdf, QStringLiteral("/tmp/certificate-%1.pdf").arg(&c - cases));
    const QString text = PdfText(pdf);
    QString joined = text;
    joined.remove(QRegularExpression(QStringLiteral("\\s")));
    for (const QString& value : {c.readouts, c.note}) {
      QString expected = value;
      expected.remove(QRegularExpression(QStringLiteral("\\s")));
      if (c.whole || value.size() < 100) {
        EXPECT_TRUE(joined.contains(expected)) << value.left(40).toStdString() << "\n" << text.toStdString();
      } else {
        EXPECT_TRUE(joined.contains(expected.left(1000))) << text.toStdString();
        EXPECT_TRUE(text.contains(QChar(0x2026))) << "marked where it goes on";
      }
    }
    for (const char* expected :
         {"A0007", "more read-outs: every row is in the batch table", "Calibrated by tester"})
      EXPECT_TRUE(text.contains(QLatin1String(expected))) << expected;
  }
}

}  // namespace
