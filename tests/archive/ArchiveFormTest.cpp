// The dose archive window offscreen, on SQLite and on a PostgreSQL server:
// what its lists and totals show against the core's figures, assigning
// through its dialog, the reports as PDF files and on a printer (read back
// with pdftotext), the keyboard's way to a read-out, and the options
// window's database setting.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include "ArchiveDb.h"
#include "PdfText.h"
#include "ScriptedPrompter.h"
#include "TestEnv.h"
#include "archive/ArchiveForm.h"
#include "archive/ArchiveText.h"
#include "base/ErrorCodes.h"
#include "base/IniFile.h"
#include "evaluation/DoseChain.h"

using namespace quelm;
using quelm::test::ArchiveDb;
using quelm::test::Backend;
using quelm::test::Readout;

namespace {

QDateTime at(const char* text) { return *ParseArchiveTime(QLatin1String(text), false); }

class ArchiveFormTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    if (!db.available()) GTEST_SKIP() << "no PostgreSQL server";
    auto archive = db.open();
    ASSERT_TRUE(archive);
    ASSERT_EQ(archive->assign("A0017", "Alice", at("2024-01-01 00:00"), std::nullopt), kOk);
    ASSERT_EQ(archive->assign("B0002", "Bob", at("2024-01-01 00:00"), std::nullopt), kOk);
    // Alice: a long quarter, one read-out a day; Bob: two.
    for (int day = 0; day < 80; ++day)
      records.push_back(
          Readout("A0017", QDate(2024, 7, 1).addDays(day).toString("yyyy-MM-dd 08:00").toLatin1(), day));
    records.push_back(Readout("B0002", "2024-07-02 08:00", 100));
    records.push_back(Readout("B0002", "2024-08-02 08:00", 101));
    ImportResult r;
    ASSERT_EQ(archive->importRecords(records, QStringLiteral("COM1"), &r), kOk);
    ArchiveSettings settings;
    settings.database = db.url;
    settings.notificationLevel = float{records[5].MeasuredDose};
    form = std::make_unique<TArchiveForm>(settings);
    form->Model.clock = [] { return at("2024-09-30 12:00"); };
    form->show();
  }
  void chooseAlice() {
    form->SearchEdit->setText(QStringLiteral("ali"));
    ASSERT_EQ(form->EntryListBox->count(), 1);
    form->EntryListBox->setCurrentRow(0);
  }
  // Saves the chosen report and returns its text.
  QString savedReport(int kind, const QString& period, int* pages) {
    const QString path = dir.filePath(QStringLiteral("report%1.pdf").arg(kind));
    form->ReportComboBox->setCurrentIndex(kind);
    form->PeriodComboBox->setEditText(period);
    prompter.fileAnswers.push_back(path);
    form->SaveButton->click();
    *pages = quelm::test::PdfPages(path);
    return quelm::test::PdfText(path);
  }

  ArchiveDb db{GetParam()};
  QTemporaryDir dir;
  quelm::test::ConfigScope config{dir};
  quelm::test::ScriptedPrompter prompter;
  std::vector<BlockRecord> records;
  std::unique_ptr<TArchiveForm> form;
};

TEST_P(ArchiveFormTest, ListsAndTotalsShowTheCoresFiguresWithHighDosesStandingOut) {
  EXPECT_EQ(form->DatabaseDatLabel->text(), form->Model.Location());
  EXPECT_EQ(form->EntryListBox->count(), 4);
  chooseAlice();
  EXPECT_EQ(form->PeriodGrid->rowCount(), 1);
  ASSERT_EQ(form->ReadoutGrid->rowCount(), 80);

  auto archive = db.open(ArchiveOptions{true});
  std::vector<PersonTotals> t;
  ASSERT_EQ(archive->totals(QStringLiteral("P0001"), at("2024-09-30 12:00"), &t), kOk);
  EXPECT_EQ(form->QuarterDatLabel->text(), DoseText(t[0].quarterToDate));
  EXPECT_EQ(form->YearDatLabel->text(), DoseText(t[0].yearToDate));
  EXPECT_EQ(form->LifetimeDatLabel->text(), DoseText(t[0].lifetime));
  EXPECT_EQ(form->ShareDatLabel->text(), ShareText(AnnualLimitShare(t[0].yearToDate, 20000)));
  EXPECT_EQ(form->LimitDatLabel->text(), DoseText(20000));

  for (int r = 0; r < form->ReadoutGrid->rowCount(); ++r) {
    QTableWidgetItem* dose = form->ReadoutGrid->item(r, kColDose);
    EXPECT_TRUE(dose->text().endsWith(QStringLiteral("Sv")));
    EXPECT_TRUE(dose->textAlignment() & Qt::AlignRight);
    EXPECT_EQ(dose->font().bold(), form->Model.RowHigh(r)) << r;
  }
  // Narrowed to August.
  form->FromEdit->setText(QStringLiteral("01.08.2024"));
  form->ToEdit->setText(QStringLiteral("31.08.2024"));
  form->FilterButton->click();
  EXPECT_EQ(form->ReadoutGrid->rowCount(), 31);
  form->FromEdit->setText(QStringLiteral("August"));
  form->FilterButton->click();
  EXPECT_EQ(prompter.messages.size(), 1u) << "a text that is no date is refused";
  EXPECT_EQ(form->ReadoutGrid->rowCount(), 31);
}

TEST_P(ArchiveFormTest, AssigningGoesThroughTheDialogAndAnOverlapIsRefusedWithAMessage) {
  chooseAlice();
  const struct {
    const char *dosimeter, *from;
    size_t messages;
    int periods;
  } cases[] = {{"B0002", "01.08.2024", 1, 1}, {"C0005", "31.02.2024", 1, 1}, {"C0005", "01.08.2024", 0, 2}};
  for (const auto& c : cases) {
    prompter.clear();
    prompter.modalHandlers[QStringLiteral("WearPeriodForm")] = [&](QObject& w) {
      auto& f = static_cast<TWearPeriodForm&>(w);
      EXPECT_EQ(f.PersonComboBox->currentText(), QStringLiteral("P0001 Alice"));
      f.DosimeterEdit->setText(QLatin1String(c.dosimeter));
      f.FromEdit->setText(QLatin1String(c.from));
      return int{mrOk};
    };
    ASSERT_TRUE(form->AssignButton->isEnabled());
    form->AssignButton->click();
    ASSERT_EQ(prompter.messages.size(), c.messages) << c.dosimeter;
    if (c.messages) {
      EXPECT_TRUE(prompter.messages[0].text.contains(QStringLiteral("Wear period overlaps")) ||
                  prompter.messages[0].text.contains(QStringLiteral("is no date")))
          << prompter.messages[0].text.toStdString();
    }
    EXPECT_EQ(form->PeriodGrid->rowCount(), c.periods) << c.dosimeter;
  }
}

TEST_P(ArchiveFormTest, ReportsAreSavedAsPdfWithRealTextTotalsMarksAndRepeatedHeaders) {
  chooseAlice();
  int pages = 0;
  const QString text = savedReport(0, QStringLiteral("2024Q3"), &pages);
  ReportDocument d;
  QString detail;
  ASSERT_EQ(form->Model.BuildReport(false, QStringLiteral("2024Q3"), &d, &detail), kOk);
  EXPECT_EQ(pages, static_cast<int>(PaginateReport(d).size()));
  EXPECT_GE(pages, 2) << "80 read-outs do not fit one page";
  EXPECT_EQ(text.count(QStringLiteral("Read-out time")), pages) << "the column header on every page";
  for (const QString& expected :
       {QStringLiteral("Dose report"), QStringLiteral("Person: Alice (P0001)"), QStringLiteral("Period: 2024Q3"),
        QStringLiteral("01.07.2024 08:00"), QStringLiteral("18.09.2024 08:00"),
        QStringLiteral("Printed 30.09.2024 12:00"), QStringLiteral("Page %1 of %1").arg(pages),
        d.figures[0].second, d.figures[3].second, QStringLiteral("* at or above the notification level")})
    EXPECT_TRUE(text.contains(expected)) << expected.toStdString();

  const QString summary = savedReport(1, QStringLiteral("2024Q3"), &pages);
  EXPECT_EQ(pages, 1);
  EXPECT_TRUE(summary.contains(QStringLiteral("Service summary")));
  EXPECT_LT(summary.indexOf(QStringLiteral("Alice")), summary.indexOf(QStringLiteral("Bob")))
      << "the higher dose first";

  // The printer gets the very same pages.
  const QString printed = dir.filePath(QStringLiteral("printed.pdf"));
  prompter.modalHandlers[QStringLiteral("ReportPrintDialog")] = [&](QObject& w) {
    QPrinter* printer = static_cast<QPrintDialog&>(w).printer();
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(printed);
    return int{mrOk};
  };
  form->ReportComboBox->setCurrentIndex(0);
  form->PrintButton->click();
  EXPECT_EQ(quelm::test::PdfPages(printed), static_cast<int>(PaginateReport(d).size()));
  EXPECT_TRUE(quelm::test::PdfText(printed).contains(QStringLiteral("Person: Alice")));
  EXPECT_TRUE(prompter.messages.empty()) << prompter.texts().join('\n').toStdString();
}

TEST_P(ArchiveFormTest, EnterOnAReadOutShowsItsRecordAndImportsShowTheirCounts) {
  std::vector<QByteArray> shown;
  form->ShowRecord = [&](const QByteArray& r) { shown.push_back(r); };
  chooseAlice();
  form->ReadoutGrid->setFocus();
  form->ReadoutGrid->setCurrentCell(3, 0);
  QTest::keyClick(form->ReadoutGrid, Qt::Key_Return);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0], QByteArray(reinterpret_cast<const char*>(&records[3]), 512));

  const QString file = dir.filePath(QStringLiteral("more.dat"));
  ASSERT_EQ(WriteSampleDataFile(file, {300, 9, 0}), 0);
  prompter.fileAnswers.push_back(file + QStringLiteral("\n") + file);
  form->ImportButton->click();
  EXPECT_FALSE(form->ImportButton->isEnabled()) << "one import at a time";
  QEventLoop loop;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (!form->Model.ImportProgress().running) loop.quit();
  });
  poll.start(20);
  QTimer::singleShot(120000, &loop, &QEventLoop::quit);
  loop.exec();
  EXPECT_EQ(form->ImportResultMemo->toPlainText(),
            file + QStringLiteral(": 300 added, 0 already archived, 0 conflicting, 0 refused\n") + file +
                QStringLiteral(": 0 added, 300 already archived, 0 conflicting, 0 refused"));
  EXPECT_EQ(form->ImportGauge->value(), 600);
  EXPECT_TRUE(form->ImportButton->isEnabled());
}

TEST_P(ArchiveFormTest, EveryBarOfTheChartLeadsToItsReadOutInTimeOrder) {
  std::vector<QByteArray> shown;
  form->ShowRecord = [&](const QByteArray& r) {
    if (shown.empty() || shown.back() != r) shown.push_back(r);
  };
  chooseAlice();
  form->Model.SortBy(kColDose, true);  // the list's order is not the chart's
  QWidget* chart = form->DoseChart;
  ASSERT_GT(chart->width(), 400);
  for (int x = 0; x < chart->width(); ++x)
    QTest::mouseClick(chart, Qt::LeftButton, {}, QPoint(x, chart->height() / 2));
  ASSERT_EQ(shown.size(), 80u) << "each bar can be hit, none twice";
  for (size_t i = 0; i < shown.size(); ++i)
    EXPECT_EQ(shown[i], QByteArray(reinterpret_cast<const char*>(&records[i]), 512)) << i;
}

INSTANTIATE_TEST_SUITE_P(Databases, ArchiveFormTest, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         quelm::test::backendName);

TEST(ArchiveOptions, TheDatabaseIsShownAndOnlyAnAddressIsTakenOver) {
  QTemporaryDir dir;
  quelm::test::ConfigScope config(dir);
  quelm::test::ScriptedPrompter prompter;
  TArchiveOptionsGroupBox group;
  EXPECT_EQ(group.InUseDatLabel->text(), DefaultArchivePath());
  std::vector<ArchiveSettings> changes;
  group.Changed = [&](const ArchiveSettings& s) { changes.push_back(s); };
  const QString other = dir.filePath(QStringLiteral("other.sqlite"));
  const struct {
    QString text;
    bool accepted;
    size_t changes;
  } cases[] = {{QStringLiteral("mysql://db/x"), false, 0},
               {QStringLiteral("postgresql://"), false, 0},
               {other, true, 1},
               {other, true, 1},  // unchanged: nothing to take over
               {QStringLiteral("postgresql://ops@db.example:5433/dose"), true, 2}};
  for (const auto& c : cases) {
    prompter.clear();
    group.DatabaseEdit->setText(c.text);
    EXPECT_EQ(group.Accept(), c.accepted) << c.text.toStdString();
    EXPECT_EQ(prompter.messages.size(), c.accepted ? 0u : 1u);
    EXPECT_EQ(changes.size(), c.changes);
  }
  EXPECT_EQ(ReadArchiveSettings(configFilePath()).database,
            QStringLiteral("postgresql://ops@db.example:5433/dose"));
  EXPECT_EQ(group.InUseDatLabel->text(), QStringLiteral("postgresql://ops@db.example:5433/dose"));
  group.DatabaseEdit->setText(QStringLiteral("typed, then cancelled"));
  group.Load();
  EXPECT_EQ(group.DatabaseEdit->text(), QStringLiteral("postgresql://ops@db.example:5433/dose"));

  // A configuration file that cannot be read is never overwritten, and the
  // operator is told so rather than left with an Ok that did nothing.
  ASSERT_TRUE(QFile::remove(configFilePath()));
  ASSERT_TRUE(QDir().mkdir(configFilePath()));
  prompter.clear();
  group.DatabaseEdit->setText(other);
  EXPECT_FALSE(group.Accept());
  EXPECT_EQ(prompter.texts(), QStringList{"Unable to write to " + configFilePath()});
  EXPECT_EQ(changes.size(), 2u);
}

}  // namespace
