// The main window's block export and printout.
#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPrintDialog>
#include <QPrinter>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QToolButton>
#include <memory>

#include "Golden.h"
#include "ScriptedPrompter.h"
#include "TestEnv.h"
#include "evaluation/BlockExport.h"
#include "evaluation/PrintOut.h"
#include "measurement/TextList.h"
#include "sample-data/SampleData.h"
#include "shell/PgcForm.h"

using quelm::test::ScriptedPrompter;

using quelm::test::ReadFile;

namespace {

// A printer whose page is 8 x 11 inches at 600 dpi: 4800 x 6600 pixels.
void useTestPage(QPrinter& printer, const QString& pdf) {
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(pdf);
  printer.setResolution(600);
  printer.setFullPage(true);
  printer.setPageSize(QPageSize(QSizeF(8, 11), QPageSize::Inch));
  printer.setPageMargins(QMarginsF(0, 0, 0, 0));
}

int pdfPages(const QByteArray& pdf) {
  return static_cast<int>(pdf.count("/Type /Page\n") + pdf.count("/Type /Page\r") +
                          pdf.count("/Type /Page/") + pdf.count("/Type /Page "));
}

class PgcFormOutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    form = std::make_unique<TPgcForm>();
    prompter.clear();
  }
  void showBlock(const BlockRecord& r) {
    form->DataBlock->Record = r;
    form->DataBlock->State = (form->DataBlock->State | Loaded) & ~uint32_t{EvalEdited};
    ASSERT_EQ(form->DataRefresh(), 0);
  }

  quelm::test::DiagScope quiet;
  QTemporaryDir dir;
  quelm::test::WorkDirScope workDir{dir};
  quelm::test::ConfigScope config{dir};
  quelm::test::TextClockScope clock{QDateTime(QDate(2024, 1, 2), QTime(3, 4, 5))};
  ScriptedPrompter prompter;
  std::unique_ptr<TPgcForm> form;
};

TEST_F(PgcFormOutputTest, ExportProposesTheBlocksNameAndWritesTheShownBlock) {
  std::vector<BlockRecord> blocks = MakeSampleBlocks({2, 4, 0});
  showBlock(blocks[1]);
  ASSERT_TRUE(form->FileSaveTextSpeedButton->isEnabled());
  prompter.fileAnswers = {dir.filePath("out.txt"), dir.filePath("out.txt")};
  form->FileSaveTextSpeedButton->click();
  // The list operations may clear the data object; the shown block is exported.
  std::memset(&form->DataBlock->Record, 0, sizeof(BlockRecord));
  form->DataBlocktoTextFile1->trigger();
  ASSERT_EQ(prompter.fileRequests.size(), 2u);
  EXPECT_EQ(prompter.fileRequests[0].fileName, "Quelm1.txt");
  EXPECT_EQ(prompter.fileRequests[0].filter, "Quelm glowdata files (*.TXT)");
  EXPECT_TRUE(prompter.messages.empty());
  ASSERT_EQ(quelm::ExportBlockText(blocks[1], dir.filePath("expected.txt")), 0);
  QByteArray text = ReadFile(dir.filePath("out.txt"));
  EXPECT_EQ(text.replace(dir.filePath("out.txt").toLatin1(), "NAME"),
            ReadFile(dir.filePath("expected.txt")).replace(dir.filePath("expected.txt").toLatin1(), "NAME"));
  EXPECT_TRUE(text.contains("LIST OF MEASUREMENT\r\n"));

  // Cancelled: nothing said, nothing written; a folder that is not there: the open error.
  showBlock(blocks[0]);
  prompter.clear();
  prompter.fileAnswers = {std::nullopt, dir.filePath("no/such/x.txt")};
  form->FileSaveTextSpeedButton->click();
  EXPECT_EQ(prompter.fileRequests.at(0).fileName, "Quelm0.txt");
  EXPECT_TRUE(prompter.messages.empty());
  form->FileSaveTextSpeedButton->click();
  EXPECT_EQ(prompter.texts(), QStringList{"File open error"});
}

TEST_F(PgcFormOutputTest, PrintFitsTheWindowOnOnePageAndKeepsItsImage) {
  // The arithmetic of a 771 x 652 window on a 4800 x 6600 page at 600 dpi.
  EXPECT_EQ(quelm::FitPrintRect({4800, 6600}, {771, 652}, 600), QRect(400, 400, 4200, 3551));
  // A tall window limits the height; 1200 dpi doubles the margins; no room, no rectangle.
  EXPECT_EQ(quelm::FitPrintRect({4800, 6600}, {300, 3000}, 600), QRect(400, 400, 600, 6000));
  EXPECT_EQ(quelm::FitPrintRect({9600, 13200}, {771, 652}, 1200), QRect(800, 800, 8400, 7103));
  EXPECT_TRUE(quelm::FitPrintRect({500, 6600}, {771, 652}, 600).isEmpty());
  EXPECT_TRUE(quelm::FitPrintRect({4800, 6600}, {0, 652}, 600).isEmpty());

  const QString pdf = dir.filePath("page.pdf");
  prompter.modalHandlers["PrintDialog1"] = [&](QObject& window) {
    auto& dialog = static_cast<QPrintDialog&>(window);
    EXPECT_EQ(dialog.maxPage(), 1);
    useTestPage(*dialog.printer(), pdf);
    return int{quelm::mrOk};
  };
  form->resize(771, 652);
  form->Print1->trigger();
  const QByteArray printed = ReadFile(pdf);
  EXPECT_EQ(pdfPages(printed), 1);
  EXPECT_TRUE(printed.contains("/Width 771") && printed.contains("/Height 652")) << "the window's own image";
  const QImage kept(dir.filePath("Test.bmp"));
  EXPECT_EQ(kept.size(), QSize(771, 652));

  // The tool button prints the same way; a cancelled dialog prints nothing.
  QFile::remove(pdf);
  prompter.modalHandlers.clear();
  form->PrintSpeedButton->click();
  EXPECT_EQ(prompter.modalWindows, (QStringList{"PrintDialog1", "PrintDialog1"}));
  EXPECT_FALSE(QFile::exists(pdf));

  QPrinter printer(QPrinter::HighResolution);
  useTestPage(printer, pdf);
  EXPECT_EQ(quelm::PrintWindowImage(*form, printer), QRect(400, 400, 4200, 3551));

  // The dialog offers a PDF file; a print that cannot start says so.
  const QString nowhere = dir.filePath("missing/page.pdf");
  prompter.modalHandlers["PrintDialog1"] = [&](QObject& window) {
    auto& dialog = static_cast<QPrintDialog&>(window);
    EXPECT_TRUE(dialog.testOption(QAbstractPrintDialog::PrintToFile));
    useTestPage(*dialog.printer(), nowhere);
    return int{quelm::mrOk};
  };
  prompter.clear();
  form->Print1->trigger();
  EXPECT_EQ(prompter.texts(), QStringList{"The print could not be written to " + nowhere});
}

}  // namespace
