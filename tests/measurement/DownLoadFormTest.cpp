// The download window against the simulated reader on a pseudo-terminal:
// the operator's path through it, Abort and closing mid-way, the question
// window, and the same files as the command line writes.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

#include "CliDriver.h"
#include "Golden.h"
#include "ReaderModel.h"
#include "ScriptedPrompter.h"
#include "SimServer.h"
#include "TestEnv.h"
#include "base/Diag.h"
#include "base/IniFile.h"
#include "link/FrameLink.h"
#include "measurement/AppendForm.h"
#include "measurement/DownLoadForm.h"
#include "measurement/TextList.h"
#include "sample-data/SampleData.h"

using namespace quelm;
using quelm::test::ScriptedPrompter;

using quelm::test::ReadFile;

namespace {

// A simulated reader served on this thread, and a link to it installed as
// the program's command channel.
struct Reader {
  explicit Reader(const std::vector<BlockRecord>& blocks) {
    model.LoadBlocks(blocks);
    EXPECT_EQ(server.Open(), 0);
    IniFile ini(dir.filePath("quelm.INI"));
    ini.WriteString("Serial port settings", "COM1", server.SlavePath());
    EXPECT_TRUE(ini.UpdateFile());
    link.COMPortDrv.IniFileName = dir.filePath("quelm.INI");
    link.COMPortDrv.SetPortNumber(pnCOM1);
    SetCommandChannel(&link.Channel());
  }
  ~Reader() { SetCommandChannel(nullptr); }
  QTemporaryDir dir;
  sim::TReaderModel model;
  sim::TReaderSimServer server{model};
  TFrameLink link;
};

class DownLoadFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    form.Question = &question;
  }
  void chooseType(int type) { emit form.DownLoadTypeComboBox->activated(type); }
  void typeStorage(const QString& name) {
    form.DownLoadFileNameEdit->clear();
    QTest::keyClicks(form.DownLoadFileNameEdit, name);
    emit form.DownLoadFileNameEdit->editingFinished();
  }

  test::DiagScope quiet;
  QTemporaryDir dir;
  test::WorkDirScope workDir{dir};
  test::TextClockScope clock{QDateTime(QDate(2024, 2, 3), QTime(4, 5, 6))};
  ScriptedPrompter prompter;
  TAppendForm question;
  TDownLoadForm form;
};

TEST_F(DownLoadFormTest, UnsavedWrappedBlocksAreDownloadedAndTheCommandLineWritesTheSameFiles) {
  const std::vector<BlockRecord> blocks = MakeSampleBlocks({14, 2, 2040});
  {
    Reader reader(blocks);
    EXPECT_FALSE(form.StartButton->isEnabled());
    chooseType(kDownloadUnsaved);
    EXPECT_EQ(form.DownLoadFromEdit->value(), 2040);
    EXPECT_EQ(form.DownLoadToEdit->value(), 5);
    // Up-down boxes over 0..32767 that do not wrap.
    for (QSpinBox* b : {form.DownLoadFromEdit, form.DownLoadToEdit})
      EXPECT_TRUE(b->minimum() == 0 && b->maximum() == 32767 && !b->wrapping());
    EXPECT_FALSE(form.BlockIDXGroupBox->isEnabled());
    typeStorage("run");
    EXPECT_EQ(form.DownLoadFileNameEdit->text(), "run.dat");
    EXPECT_EQ(form.HeaderFileNameLabel->text(), "run.lst");
    EXPECT_EQ(form.DetailedTextFileNameLabel->text(), "run.txt");
    int gaugeMax = -1;
    const auto paint = form.Job.onChanged;
    form.Job.onChanged = [&] {
      paint();
      if (form.Job.State().running && !form.ActualBlockIDXDatLabel->text().isEmpty())
        gaugeMax = form.DownLoadCGauge->maximum();
    };
    QTest::mouseClick(form.StartButton, Qt::LeftButton);
    form.Job.onChanged = paint;
    EXPECT_EQ(prompter.texts(), QStringList{"Process completed"});
    EXPECT_EQ(gaugeMax, 13);
    EXPECT_EQ(reader.model.FirstUnsaved(), -1) << "acknowledged up to 5";
    // Back to the start: nothing selected, only the choices usable.
    EXPECT_EQ(form.DownLoadTypeComboBox->currentIndex(), 0);
    EXPECT_FALSE(form.StartButton->isEnabled() || form.AbortButton->isEnabled());
    EXPECT_TRUE(form.DownLoadTypeComboBox->isEnabled() && form.ReaderRadioButton->isChecked());
  }
  EXPECT_EQ(ReadFile("run.dat").size(), 14 * 512);

  QDir().mkpath(dir.filePath("cli"));
  QDir::setCurrent(dir.filePath("cli"));
  Reader reader(blocks);
  const test::CliRun run =
      test::runCli({"download", "--port", reader.server.SlavePath(), "--unsaved", "--out", "run"});
  ASSERT_EQ(run.code, 0) << run.err.toStdString();
  EXPECT_TRUE(run.out.contains("Downloaded 14 block(s) 2040..5 to run.dat\n")) << run.out.toStdString();
  EXPECT_TRUE(run.out.contains("Acknowledged to the reader: 5"));
  EXPECT_TRUE(run.err.startsWith("block 2040 (1/14)\n")) << run.err.toStdString();
  for (const char* name : {"run.dat", "run.lst", "run.txt"})
    EXPECT_EQ(ReadFile(name), ReadFile(dir.filePath(name))) << name;
}

TEST_F(DownLoadFormTest, AbortAndClosingStopBeforeTheNextBlockWithOnlyAbortUsableMeanwhile) {
  for (const bool byClosing : {false, true}) {
    SCOPED_TRACE(byClosing ? "closing" : "Abort");
    prompter.clear();
    Reader reader(MakeSampleBlocks({30, 2, 0}));
    chooseType(kDownloadUnsaved);
    typeStorage(byClosing ? "closed" : "aborted");
    const auto paint = form.Job.onChanged;
    bool stopped = false;
    form.Job.onChanged = [&] {
      paint();
      if (!form.Job.State().running || form.Job.State().gaugeProgress != 3 || stopped) return;
      EXPECT_TRUE(form.AbortButton->isEnabled());
      for (QWidget* w : std::initializer_list<QWidget*>{form.StartButton, form.DownLoadTypeComboBox,
                                                        form.ReaderRadioButton, form.DownLoadFileNameEdit,
                                                        form.DownLoadBrowseButton, form.HeaderCheckBox})
        EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
      stopped = true;
      // Pressed while the window processes input before block 3.
      QTimer::singleShot(0, &form, [&] {
        if (byClosing)
          form.close();
        else
          form.AbortButton->click();
      });
    };
    form.StartButtonClick();
    form.Job.onChanged = paint;
    EXPECT_EQ(prompter.texts(), QStringList{"User aborted"});
    EXPECT_EQ(ReadFile(byClosing ? "closed.dat" : "aborted.dat").size(), 3 * 512);
    EXPECT_EQ(reader.model.FirstUnsaved(), 0) << "nothing acknowledged";
    EXPECT_EQ(form.DownLoadTypeComboBox->currentIndex(), 0);
  }
}

TEST_F(DownLoadFormTest, TheQuestionWindowDecidesAndTheListBoxesEndUnchecked) {
  Reader reader(MakeSampleBlocks({40, 2, 0}));
  for (const char* name : {"Run.dat", "Run1.dat", "Run2.dat"})
    ASSERT_EQ(WriteSampleDataFile(name, {1, 9, 0}), 0);
  QString warning;
  prompter.modalHandlers["AppendForm"] = [&](QObject& w) {
    auto& q = static_cast<TAppendForm&>(w);
    warning = q.WarningLabel->text();
    q.NewButton->click();
    return int{mrOk};
  };
  chooseType(kDownloadByNumber);
  typeStorage("Run");
  form.DownLoadFromEdit->setValue(20);
  form.DownLoadToEdit->setValue(24);
  form.StartButton->click();
  EXPECT_EQ(warning, "Run.dat file exists!");
  EXPECT_EQ(prompter.texts(), QStringList{"Process completed"});
  EXPECT_EQ(ReadFile("Run.dat").size(), 6 * 512);
  EXPECT_EQ(ReadFile("Run3.dat").size(), 5 * 512);
  EXPECT_FALSE(form.HeaderCheckBox->isChecked() || form.DetailedTextCheckBox->isChecked());
  EXPECT_FALSE(QFile::exists("Run.lst") || QFile::exists("Run.txt"));
  // The list names follow the next storage name, greyed while unchecked.
  typeStorage("Run3");
  EXPECT_EQ(form.HeaderFileNameLabel->text(), "Run3.lst");
  EXPECT_EQ(form.DetailedTextFileNameLabel->text(), "Run3.txt");
  EXPECT_FALSE(form.HeaderFileNameLabel->isEnabled() || form.DetailedTextFileNameLabel->isEnabled());
  form.HeaderCheckBox->click();
  EXPECT_TRUE(form.HeaderFileNameLabel->isEnabled());
  // Closing the question without a button cancels, whatever was answered before.
  prompter.modalHandlers.clear();
  EXPECT_EQ(question.Ask("Run.dat"), kChoiceCancel);
}

}  // namespace

namespace {

TEST_F(DownLoadFormTest, EnterMovesOnFromTheEditsAndTheArrowsStillStepTheDate) {
  form.show();
  form.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  chooseType(kDownloadByDate);
  for (QWidget* from : std::initializer_list<QWidget*>{form.DownLoadFileNameEdit, form.DownLoadYearEdit}) {
    from->setFocus();
    QTest::keyClick(from, Qt::Key_Return);
    EXPECT_NE(QApplication::focusWidget(), from) << from->objectName().toStdString();
  }
  form.DownLoadMonthEdit->setText(QStringLiteral("5"));
  QTest::keyClick(form.DownLoadMonthEdit, Qt::Key_Up);
  EXPECT_EQ(form.DownLoadMonthEdit->text(), QStringLiteral("6"));
}

}  // namespace
