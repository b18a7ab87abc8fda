// The service window and the software update window against the simulated
// reader, their dialogs answered by a script.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "ScriptedPrompter.h"
#include "SimReader.h"
#include "service/SrvForm.h"
#include "service/SwUpdate.h"

using namespace quelm;
using namespace quelm::test;

namespace {

QStringList listed(const QListWidget* list) {
  QStringList lines;
  for (int i = 0; i < list->count(); ++i) lines << list->item(i)->text();
  return lines;
}

class ServiceWindowsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(reader.ok); }

  ScriptedPrompter prompter;
  SimReader reader;
  TSrvForm form{&reader.link};
  sim::ServiceState& state = reader.model.Service();
};

TEST_F(ServiceWindowsTest, SettingValuesSendsTheClampedValueOrNothingForAnEntryThatIsNoNumber) {
  struct Case {
    QLineEdit* edit;
    QPushButton* button;
    const char* text;
    Bytes payload;  // empty: nothing sent, the conversion error shown
  };
  const Case cases[] = {
      {form.HVEdit, form.HVButton, "700", {0x2E, 0x42, 0x02, 0x26, 0x23}},
      {form.HVEdit, form.HVButton, "-5", {0x2E, 0x42, 0x00, 0x00, 0x23}},
      {form.HCEdit, form.HCButton, "4000", {0x2E, 0x43, 0x03, 0xE8, 0x23}},
      {form.HCEdit, form.HCButton, "-1", {0x2E, 0x43, 0x00, 0x00, 0x23}},
      {form.HVEdit, form.HVButton, "abc", {}},
      {form.HCEdit, form.HCButton, "", {}},
  };
  for (const Case& c : cases) {
    prompter.clear();
    reader.model.Requests.clear();
    c.edit->setText(QString::fromLatin1(c.text));
    c.button->click();
    EXPECT_EQ(reader.lastPayload(), c.payload) << c.text;
    EXPECT_EQ(prompter.texts().size(), c.payload.empty() ? 1 : 0) << c.text;
  }
  EXPECT_EQ(form.HVEdit->maxLength(), 4);
  EXPECT_EQ(prompter.texts(), QStringList{"'' is not a valid integer value"});
  EXPECT_EQ(prompter.messages.front().kind, MessageKind::Error);
  EXPECT_EQ(state.highVoltage, 0);
  EXPECT_EQ(state.heatingCurrent, 0);
}

TEST_F(ServiceWindowsTest, ControlBitsComeFromTheBoxesAndTheSensitivity) {
  EXPECT_EQ(form.SensitivityComboBox->currentText(), "High");
  form.SensitivityComboBox->setCurrentText("Low");
  form.CtrlBitsButton->click();
  EXPECT_EQ(state.controlByte, 0x13);
  for (QCheckBox* b :
       {form.HeatingCheckBox, form.CalLightCheckBox, form.HVCheckBox, form.BulbSenseLEDCheckBox})
    b->setChecked(true);
  form.SensitivityComboBox->setCurrentText("High");
  form.CtrlBitsButton->click();
  EXPECT_EQ(state.controlByte, 0x8C);
}

TEST_F(ServiceWindowsTest, ReadingsFillTheirFieldsAndAFailedOneIsSilentAndKeepsThem) {
  form.ReadingADCButton->click();
  form.ReadingRTCButton->click();
  EXPECT_EQ(form.ADINEdit->text(), "1234");
  EXPECT_EQ(form.ADBATEdit->text(), "22.71");
  EXPECT_EQ(form.ReadingRTCEdit->text(), "06.12.17 14:05");
  state.adcInput = 7;
  state.clock[4] = 6;
  reader.rejectNext(2);
  form.ReadingADCButton->click();
  form.ReadingRTCButton->click();
  EXPECT_EQ(form.ADINEdit->text(), "1234");
  EXPECT_EQ(form.ReadingRTCEdit->text(), "06.12.17 14:05");
  EXPECT_TRUE(prompter.messages.empty());
}

TEST_F(ServiceWindowsTest, TheErrorLogAndTheAutomaticSettingAlwaysTellOfAFailure) {
  form.ReadLogButton->click();
  EXPECT_EQ(listed(form.ErrorLogListBox).size(), 3);
  form.DeleteLogButton->click();
  EXPECT_EQ(state.logDeletes, 1);
  EXPECT_EQ(form.ErrorLogListBox->count(), 0);
  form.ReadLogButton->click();
  EXPECT_EQ(listed(form.ErrorLogListBox), QStringList{"No Error"});
  form.DisableSettingButton->click();
  EXPECT_EQ(state.automaticSetting, 1);
  form.EnableSettingButton->click();
  EXPECT_EQ(state.automaticSetting, 0);
  EXPECT_TRUE(prompter.messages.empty());

  reader.rejectNext(4);
  form.DeleteLogButton->click();  // the list is cleared all the same
  EXPECT_EQ(form.ErrorLogListBox->count(), 0);
  form.ReadLogButton->click();
  EXPECT_EQ(form.ErrorLogListBox->count(), 0);
  form.EnableSettingButton->click();
  form.DisableSettingButton->click();
  EXPECT_EQ(prompter.texts(), QStringList(4, "ERR_SENDCOMCMD"));
  EXPECT_EQ(state.logDeletes, 1);
}

TEST_F(ServiceWindowsTest, EnterMovesOnAndExitHidesTheWindowAtItsPlace) {
  form.show();
  QApplication::setActiveWindow(&form);
  form.HVEdit->setFocus();
  form.HVEdit->setText("700");
  QTest::keyClick(form.HVEdit, Qt::Key_Return);
  EXPECT_EQ(QApplication::focusWidget(), form.HVButton);
  EXPECT_TRUE(reader.model.Requests.empty()) << "Enter sends nothing";
  form.move(400, 300);
  reader.link.LoaderWaiting = 1;
  form.SrvCancelButton->click();
  EXPECT_EQ(reader.link.LoaderWaiting, 0u);
  EXPECT_EQ(form.pos(), QPoint(TSrvForm::kLeft, TSrvForm::kTop));
  EXPECT_FALSE(form.isVisible());
}

class SwUpdateTest : public ServiceWindowsTest {
 protected:
  QString program(int size) {
    const QString path = dir.filePath(QStringLiteral("p.bin"));
    EXPECT_TRUE(writeFile(path, programBytes(size)));
    prompter.fileAnswers.push_back(path);
    return path;
  }
  QTemporaryDir dir;
  TSwUpdate window{reader.link};
};

TEST_F(SwUpdateTest, ADownloadShowsItsProgressAndEndsReady) {
  EXPECT_EQ(window.size(), QSize(250, 147));
  EXPECT_EQ(window.DownloadProgressBar->maximum(), 100);
  program(3000);
  int highest = 0;
  window.Update().onProgress = [&, show = window.Update().onProgress](int position, int maximum) {
    highest = std::max(highest, position);
    show(position, maximum);
  };
  reader.switchOnWhenAwaited();
  window.ProgramDownloadButton->click();
  EXPECT_EQ(window.DownloadLabel->text(), "Download ready");
  EXPECT_EQ(highest, 3);
  EXPECT_EQ(window.DownloadProgressBar->value(), 0);
  EXPECT_EQ(window.DownloadProgressBar->maximum(), 64);
  EXPECT_TRUE(prompter.messages.empty());
  ASSERT_EQ(prompter.fileRequests.size(), 1u);
  EXPECT_EQ(prompter.fileRequests[0].filter, "Quelm program files (*.BIN);;All files (*)");
  EXPECT_TRUE(window.ProgramDownloadButton->isEnabled());
}

TEST_F(SwUpdateTest, APortThatWillNotCloseIsReportedAfterTheUpdateIsDone) {
  reader.link.COMPortDrv.SetDevice(std::make_unique<FailingCloseDevice>());
  program(1500);
  reader.switchOnWhenAwaited();
  window.ProgramDownloadButton->click();
  ASSERT_FALSE(prompter.texts().isEmpty());
  EXPECT_EQ(prompter.texts().back(), "COM port disconnection error");
  EXPECT_EQ(prompter.texts().count("COM port disconnection error"), 1);
  EXPECT_EQ(window.DownloadLabel->text(), "Download ready");
}

TEST_F(SwUpdateTest, AbortOrTheServiceWindowsExitDuringTheSwitchOnWaitIsReported) {
  struct Case {
    QPushButton* button;
    const char* message;
    bool hidden;
  };
  const Case cases[] = {
      {window.DownloadAbortButton, "User abort", true},
      {form.SrvCancelButton, "Communication interrupted", false},
  };
  for (const Case& c : cases) {
    prompter.clear();
    window.show();
    program(3000);
    reader.duringLoaderWait([] { return true; }, [&] { c.button->click(); });
    window.ProgramDownloadButton->click();
    EXPECT_EQ(prompter.texts(), QStringList{c.message});
    EXPECT_EQ(window.DownloadLabel->text(), "");
    EXPECT_EQ(window.isHidden(), c.hidden);
  }
  EXPECT_TRUE(reader.loader().requests.empty());
}

// Told that a job holds the line, the window greys its start; an update
// that is started all the same is refused aloud, never silently.
TEST_F(SwUpdateTest, WhileAJobHoldsTheLineTheStartIsGreyedAndAnUpdateStartedAnywayIsRefusedAloud) {
  LineHold hold(&reader.link.Channel());
  reader.duringLoaderWait([] { return true; }, [&] { window.DownloadAbortButton->click(); });
  program(3000);
  window.ProgramDownloadButton->click();
  EXPECT_EQ(prompter.texts(),
            QStringList{"The line to the reader is in use (download or software update running?)"});
  EXPECT_EQ(window.DownloadLabel->text(), "");
  EXPECT_TRUE(reader.loader().requests.empty());
  for (const bool inUse : {true, false}) {
    window.SetLineInUse(inUse);
    EXPECT_EQ(window.ProgramDownloadButton->isEnabled(), !inUse);
  }
}

TEST_F(SwUpdateTest, AFileTooLargeIsRefusedWithAClearMessageAndACancelledChoiceDoesNothing) {
  program(100000);
  window.ProgramDownloadButton->click();
  EXPECT_EQ(prompter.texts(), QStringList{"Program file too large (more than 64 blocks of 1024 bytes)"});
  prompter.clear();
  window.DownloadLabel->setText("kept");
  window.ProgramDownloadButton->click();  // no file answer: the dialog is cancelled
  EXPECT_EQ(window.DownloadLabel->text(), "kept");
  EXPECT_TRUE(prompter.messages.empty());
  EXPECT_EQ(reader.link.LoaderWaiting, 0u);
}

}  // namespace
