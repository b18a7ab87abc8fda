// The reader parameter window, offscreen: its face, the save and load
// dialogs, the conversion message, the keyboard, and Read and Write against
// the simulated reader.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <cstring>

#include "ParamReaderRig.h"
#include "ReaderParams.h"
#include "ScriptedPrompter.h"
#include "TestEnv.h"
#include "base/IniFile.h"
#include "parameters/DptForm.h"

using namespace quelm;
using namespace quelm::test;

namespace {

constexpr uint32_t kServiceLevel = 0x200 | 0x400;

class DptFormTest : public ::testing::Test {
 protected:
  QString path(const char* name) const { return dir.filePath(QLatin1String(name)); }
  QString saved(const QString& file, const char* key) const {
    return IniFile(file).ReadString(QStringLiteral("Reader Parameter Table"), QLatin1String(key),
                                    QStringLiteral("<none>"));
  }

  DiagScope quiet;
  ScriptedPrompter prompter;
  QTemporaryDir dir;
  int32_t maxPostHeating = 50;
  TDptForm form{[this] { return maxPostHeating; }};
};

TEST_F(DptFormTest, ShowsItsRowsWithKeyNamesUntilTheFirstRefresh) {
  EXPECT_EQ(form.windowTitle(), "Reader Parameter Table");
  QStringList labels;
  for (const QLabel* l : form.findChildren<QLabel*>()) labels << l->text();
  EXPECT_EQ(labels,
            QStringList({"Reader Type [A-Z]", "Reader Serial Number", "PMT Voltage High Level [V]",
                         "PMT Voltage Medium Level [V]", "PMT Voltage Low Level  [V]",
                         "Light Calibration Low Limit [count]", "Light Calibration High Limit [count]",
                         "Background Cal. High Limit [count]", "Max. Operating Temperature [°C]",
                         "Min. Operating Temperature [°C]", "Battery Full [*0.1V]", "Battery Min. [*0.1V]",
                         "Light Calibration 20°C", "Light Calibration f(t) X", "Max. Post Heat Time [s]",
                         "Contrast Correction [%/°C]"}));
  QStringList texts;
  for (const QLineEdit* e : form.findChildren<QLineEdit*>()) texts << e->text();
  EXPECT_EQ(texts, QStringList({"RTYPE", "DID", "HVH", "HVM", "HVL", "DCALL", "DCALH", "DCBGH", "MAXT",
                                "MINT", "U100", "U0", "DCAL20", "DCALX1", "POSTH", "CONTR"}));
  form.DataRefresh();
  EXPECT_EQ(form.edit("RTYPE")->maxLength(), 1);
  EXPECT_EQ(form.edit("DID")->maxLength(), 4);
  QStringList buttons;
  for (const QAbstractButton* b : {form.ReadFileButton, form.WriteFileButton, form.ReadCOMButton,
                                   form.WriteCOMButton, form.CancelButton})
    buttons << b->text();
  EXPECT_EQ(buttons, QStringList({"&Load", "&Save", "&Read", "&Write", "Exit"}));
  EXPECT_EQ(form.FileGroupBox->title(), "File I/O");
  EXPECT_EQ(form.COMGroupBox->title(), "COM I/O");
  EXPECT_TRUE(form.CancelButton->isDefault());
}

TEST_F(DptFormTest, LoadShowsTheFileAndSaveWritesItBackUnderATrueName) {
  QFile in(path("in.rpt"));
  ASSERT_TRUE(in.open(QIODevice::WriteOnly));
  in.write("[Reader Parameter Table]\r\nHVH=800\r\nDCALX0=2.5\r\nDCALL=0.000001\r\n");
  in.close();
  prompter.fileAnswers = {path("in.rpt"), path("table"), path("TABLE.RPT")};
  form.ReadFileButton->click();
  EXPECT_EQ(form.edit("HVH")->text(), "800");
  EXPECT_EQ(form.edit("DCALL")->text(), "1E-006");
  EXPECT_EQ(form.edit("RTYPE")->text(), "0");

  form.WriteFileButton->click();
  form.WriteFileButton->click();
  ASSERT_EQ(prompter.fileRequests.size(), 3u);
  EXPECT_EQ(prompter.fileRequests[0].filter, "Reader parameter table files (*.RPT);;All files (*)");
  EXPECT_EQ(prompter.fileRequests[1].filter, "Reader parameter table files (*.RPT)");
  EXPECT_EQ(saved(path("table.rpt"), "HVH"), "800");
  // No edit shows DCALX0; saving keeps what the file held.
  EXPECT_EQ(saved(path("table.rpt"), "DCALX0"), "2.5");
  EXPECT_EQ(saved(path("table.rpt"), "DCALL"), "9.99999997475243E-7");
  EXPECT_TRUE(QFile::exists(path("TABLE.RPT")));
  EXPECT_FALSE(QFile::exists(path("TABLE.RPT.rpt")));
  EXPECT_TRUE(prompter.messages.empty());
}

TEST_F(DptFormTest, AFileThatCannotBeWrittenIsSaidOnceInAnErrorBox) {
  form.DataRefresh();
  prompter.fileAnswers = {path("gone/x.rpt")};
  form.WriteFileButton->click();
  ASSERT_EQ(prompter.texts(), QStringList{"Unable to write to " + path("gone/x.rpt")});
  EXPECT_EQ(prompter.messages[0].kind, MessageKind::Error);
  EXPECT_EQ(prompter.messages[0].title, "Error");
}

TEST_F(DptFormTest, ATextThatIsNoNumberStopsSaveBeforeTheDialog) {
  form.Job.Block.ReadFileBlock(path("none.rpt"));
  form.DataRefresh();
  form.edit("RTYPE")->setText("C");
  form.edit("HVH")->setText("2000");
  form.edit("MAXT")->setText("5x");
  form.WriteFileButton->click();
  EXPECT_EQ(prompter.texts(), QStringList{"'5x' is not a valid integer value"});
  EXPECT_EQ(prompter.messages.front().kind, MessageKind::Error);
  EXPECT_TRUE(prompter.fileRequests.empty());
  EXPECT_EQ(form.Job.Block.Record.RTYPE, 'C');
  EXPECT_EQ(int{form.Job.Block.Record.HVH}, 1000);
  EXPECT_EQ(int{form.Job.Block.Record.MAXT}, 50) << "the failing edit is not taken";
  EXPECT_EQ(form.edit("HVH")->text(), "2000") << "limited values are not written back";
}

TEST_F(DptFormTest, EnterMovesToTheNextEditExceptInTheContrastEdit) {
  form.show();
  form.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  form.edit("HVH")->setFocus();
  QTest::keyClick(form.edit("HVH"), Qt::Key_Return);
  EXPECT_EQ(QApplication::focusWidget(), form.edit("HVM"));
  EXPECT_TRUE(form.isVisible());
  form.edit("CONTR")->setFocus();
  QTest::keyClick(form.edit("CONTR"), Qt::Key_Return);
  EXPECT_FALSE(form.isVisible()) << "Enter there reaches the default button, Exit";
}

// --- Against the simulated reader -------------------------------------------

TEST_F(DptFormTest, ReadShowsTheReadersTableAndAConfirmedWriteSendsTheEdits) {
  ParamReaderRig rig;
  DiagFlags = kServiceLevel;
  form.ReadCOMButton->click();
  EXPECT_EQ(form.edit("RTYPE")->text(), "A");
  EXPECT_EQ(form.edit("DID")->text(), "0017");
  EXPECT_EQ(form.edit("HVH")->text(), "700");
  EXPECT_EQ(form.edit("DCAL20")->text(), "58272.14");
  EXPECT_EQ(form.edit("DCALX1")->text(), "-0.013362");
  ASSERT_TRUE(form.WriteCOMButton->isEnabled());

  form.edit("HVH")->setText("800");
  form.edit("POSTH")->setText("90");
  prompter.answers = {No, Yes};
  form.WriteCOMButton->click();
  EXPECT_EQ(rig.commands().size(), 1u) << "No writes nothing";
  form.WriteCOMButton->click();
  ASSERT_EQ(prompter.messages.size(), 2u);
  EXPECT_EQ(prompter.messages[1].text, "The Reader Parameter Table will be overwritten! Are you sure?");
  EXPECT_EQ(prompter.messages[1].kind, MessageKind::Confirmation);
  ASSERT_EQ(rig.commands().size(), 2u);
  EXPECT_EQ(rig.commands().back().size(), 45u);
  const DeviceParamRecord& reader = rig.model.Parameters().ReaderTable;
  EXPECT_EQ(int{reader.HVH}, 650);
  EXPECT_EQ(int{reader.POSTH}, 50);
  EXPECT_EQ(float{reader.DCAL20}, 58272.137f) << "unedited reals keep every digit";
  EXPECT_EQ(float{reader.DCALX0}, 1.267242f);
  EXPECT_EQ(int{reader.Reserved41}, 0x5A);

  form.edit("HVH")->setText("x");
  form.ReadCOMButton->click();
  EXPECT_EQ(form.edit("HVH")->text(), "800");
  EXPECT_EQ(form.edit("POSTH")->text(), "50");
}

TEST_F(DptFormTest, WithoutTheServiceLevelWriteStaysDisabled) {
  ParamReaderRig rig;
  form.show();
  form.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  EXPECT_EQ(QApplication::focusWidget(), form.ReadCOMButton);
  for (int i = 0; i < 2; ++i) {
    form.ReadCOMButton->click();
    EXPECT_FALSE(form.WriteCOMButton->isEnabled());
  }
  form.ReadFileButton->click();  // cancelled
  form.repaint();
  EXPECT_FALSE(form.WriteCOMButton->isEnabled());
  form.WriteCOMButtonClick();
  EXPECT_EQ(rig.commands().size(), 2u) << "only the two reads";
  EXPECT_TRUE(prompter.messages.empty());

  DiagFlags = kServiceLevel;
  form.repaint();
  EXPECT_TRUE(form.WriteCOMButton->isEnabled());
}

TEST_F(DptFormTest, AReaderFailureIsReportedAndTheEditsStay) {
  ParamReaderRig rig;
  rig.model.Script.push_back(sim::kFaultRefuse);
  form.ReadCOMButton->click();
  EXPECT_EQ(prompter.texts(), QStringList{"Undefined Error"});
  EXPECT_EQ(form.edit("HVH")->text(), "HVH");
}

}  // namespace
