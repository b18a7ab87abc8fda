// The dosimeter parameter window, its error-mask editor, the look-up list
// and the entry dialogs, offscreen, against the simulated reader.
#include <gtest/gtest.h>

#include <QButtonGroup>
#include <QCheckBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <cstring>
#include <memory>

#include "ParamReaderRig.h"
#include "ReaderParams.h"
#include "ScriptedPrompter.h"
#include "TestEnv.h"
#include "base/IniFile.h"
#include "base/ServiceLevel.h"
#include "base/WindowOwner.h"
#include "evaluation/BlockFormat.h"
#include "parameters/BptSubForm.h"
#include "parameters/LookupForms.h"

using namespace quelm;
using namespace quelm::test;

namespace {

class BptSubFormTest : public ::testing::Test {
 protected:
  // The windows take the service level when they are made.
  void make(bool professional) {
    setServiceLevel(professional);
    form = std::make_unique<TBptSubForm>(FormatReadOutTime);
    list = std::make_unique<TLUTListForm>();
    windows.lend(*form);
    windows.lend(*list);
  }
  // Answers the type and serial dialog with these texts.
  void answerTypeAndSerial(const char* type, const char* serial) {
    prompter.modalHandlers["TSnForm"] = [type, serial](QObject& w) {
      auto& d = static_cast<TTSnForm&>(w);
      d.KTYPEEdit->setText(type);
      d.KSNEdit->setText(serial);
      d.OkButton->click();
      return d.result();
    };
  }
  void readLookUp(const char* type, const char* serial) {
    form->KeyDataSourceClick(int(TableSource::LookUp));
    answerTypeAndSerial(type, serial);
    form->ReadCOMButton->click();
  }
  QString path(const char* name) const { return dir.filePath(QLatin1String(name)); }

  DiagScope diag;
  ScriptedPrompter prompter;
  ParamReaderRig rig;
  QTemporaryDir dir;
  // The windows the dosimeter window asks for, as the program's owner hands them.
  quelm::WindowOwner windows;
  TTypeForm typeForm;
  TTSnForm tsnForm;
  TSNForm snForm;
  TErrMaskForm errMask;
  std::unique_ptr<TLUTListForm> list;
  std::unique_ptr<TBptSubForm> form;
  BptSubFormTest() {
    windows.lend(typeForm);
    windows.lend(tsnForm);
    windows.lend(snForm);
    windows.lend(errMask);
  }
};

TEST_F(BptSubFormTest, StartsWithKeyNamesTheDosimeterChoiceAndWritingFixedByTheServiceLevel) {
  make(false);
  EXPECT_EQ(form->windowTitle(), "Dosimeter Parameter Table");
  QStringList texts;
  for (const QLineEdit* e : form->findChildren<QLineEdit*>()) texts << e->text();
  EXPECT_EQ(texts, QStringList({"A",    "KSN",  "EVASTART", "EVALEN", "EVANORM", "LRO",  "DTFA",
                                "DTFB", "DLFN", "DLFB",     "MDOSE",  "HEATC",   "DHFA", "DHFB",
                                "IPH",  "TANN", "EMASK",    "TS",     "TREG",    "TLIM", "HUS"}));
  EXPECT_EQ(form->KeyDataSource->checkedId(), int(TableSource::Dosimeter));
  EXPECT_EQ(form->SaveAs->checkedId(), int(TableSource::Dosimeter));
  EXPECT_FALSE(form->WarningDatLabel->isVisibleTo(form.get()));
  EXPECT_FALSE(form->ListLUTButton->isEnabled());
  EXPECT_TRUE(form->LROEdit->isEnabled() && form->LROEdit->isReadOnly());
  EXPECT_EQ(form->DLFBLabel->toolTip(), "if (dose > DLFN) dose=dose*DLFA*X^DLFB ; \"x = dose / DLFN\"");
  for (const QWidget* w :
       {static_cast<QWidget*>(form->SaveAsGroupBox), static_cast<QWidget*>(form->LookUpGroupBox),
        static_cast<QWidget*>(form->WriteCOMButton)})
    EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
  EXPECT_FALSE(list->DeleteButton->isEnabled());
  EXPECT_FALSE(list->DelAllButton->isEnabled());
  EXPECT_TRUE(form->ReadCOMButton->isEnabled() && form->ReadFileButton->isEnabled());

  make(true);
  EXPECT_TRUE(form->SaveAsGroupBox->isEnabled() && form->LookUpGroupBox->isEnabled());
  EXPECT_TRUE(form->WriteCOMButton->isEnabled());
  EXPECT_TRUE(list->DeleteButton->isEnabled());
}

TEST_F(BptSubFormTest, TheChoicesPaintTheRadioItemsAndTheLayout) {
  make(true);
  form->KeyDataSourceClick(int(TableSource::Default));
  EXPECT_EQ(form->SaveAs->checkedId(), int(TableSource::Default));
  form->SaveAsGroupBoxClick(int(TableSource::Dosimeter));
  EXPECT_EQ(form->KeyDataSource->checkedId(), int(TableSource::Default));
  EXPECT_FALSE(form->edit("HUS")->isEnabled() || form->ListLUTButton->isEnabled());
  EXPECT_TRUE(form->LROEdit->isEnabled() && form->edit("EVANORM")->isEnabled());
}

TEST_F(BptSubFormTest, ReadFetchesTheSourcesTable) {
  make(false);
  // The dosimeter in the reader: its own table over the default table of its type.
  form->ReadCOMButton->click();
  EXPECT_EQ(form->edit("KTYPE")->text() + form->edit("KSN")->text(), "A0042");
  EXPECT_EQ(form->edit("EVANORM")->text(), "1.0375");
  EXPECT_EQ(form->LROEdit->text(), "2006.01.01 00:00  ");
  EXPECT_EQ(form->edit("HEATC")->text(), "3000");
  EXPECT_EQ(form->edit("DTFA")->text(), "1.5E-06");
  EXPECT_EQ(rig.letters(), "QM");

  rig.model.Parameters().OwnTable.KTYPE = 'Z';  // no default table of that type
  form->ReadCOMButton->click();
  EXPECT_EQ(prompter.texts(), QStringList{"There isn't valid default bulb parameter table for this key."});
  EXPECT_EQ(form->edit("KTYPE")->text(), "Z");

  rig.model.Parameters().OwnPresent = false;
  form->edit("EVALEN")->setText("kept");
  form->ReadCOMButton->click();
  EXPECT_TRUE(form->WarningDatLabel->isVisibleTo(form.get()));
  EXPECT_EQ(form->edit("EVALEN")->text(), "kept");

  // A type's default table, through the type dialog.
  prompter.modalHandlers["TypeForm"] = [](QObject& w) {
    auto& d = static_cast<TTypeForm&>(w);
    d.KTYPEEdit->setText("c");
    d.OkButton->click();
    return d.result();
  };
  form->KeyDataSourceClick(int(TableSource::Default));
  form->ReadCOMButton->click();
  EXPECT_EQ(typeForm.KeyType, "C");
  EXPECT_EQ(form->edit("KTYPE")->text(), "C");
  EXPECT_EQ(form->edit("EVALEN")->text(), "42");
  EXPECT_EQ(form->LROEdit->text(), "");
  EXPECT_FALSE(form->edit("KSN")->isEnabled());

  // A look-up entry, through the type and serial dialog.
  readLookUp("a", "0417");
  EXPECT_EQ(form->edit("KTYPE")->text() + form->edit("KSN")->text(), "A0417");
  EXPECT_TRUE(form->ListLUTButton->isEnabledTo(form->LookUpGroupBox)) << "its group needs the service level";
  prompter.clear();
  readLookUp("a", "9999");
  EXPECT_EQ(prompter.texts(), QStringList{"The required key S/N has not been found!"});
  EXPECT_EQ(form->edit("KSN")->text(), "9999") << "the table keeps its content with the new serial";
}

TEST_F(BptSubFormTest, WriteAsksFirstAndTheSerialDialogGivesTheLookUpEntry) {
  make(true);
  sim::ParameterState& reader = rig.model.Parameters();
  form->ReadCOMButton->click();  // own table, source Dosimeter
  form->edit("EVALEN")->setText("55");
  prompter.answers = {No, Yes};
  form->WriteCOMButton->click();
  EXPECT_EQ(rig.letters(), "QM") << "No writes nothing";
  form->WriteCOMButton->click();
  EXPECT_EQ(prompter.messages.at(1).text, "Are you sure?");
  EXPECT_EQ(int{reader.OwnTable.EVALEN}, 55);

  const size_t entries = reader.LookupTable.size();
  for (const bool ok : {false, true}) {
    form->KeyDataSourceClick(int(TableSource::Default));
    form->SaveAsGroupBoxClick(int(TableSource::LookUp));
    prompter.modalHandlers["SNForm"] = [ok](QObject& w) {
      auto& d = static_cast<TSNForm&>(w);
      d.KSNEdit->setText("0777");
      (ok ? d.OkButton : d.CancelButton)->click();
      return d.result();
    };
    prompter.answers = {Yes};
    form->WriteCOMButton->click();
    EXPECT_EQ(reader.LookupTable.size(), entries + (ok ? 1 : 0));
    EXPECT_EQ(form->KeyDataSource->checkedId(), int(TableSource::LookUp));
  }
  ASSERT_NE(rig.lookupEntry("A0777"), nullptr);
  EXPECT_EQ(form->edit("KSN")->text(), "0777");
  EXPECT_TRUE(form->ListLUTButton->isEnabled()) << "read back in the look-up layout";
}

TEST_F(BptSubFormTest, AnExistingEntryIsOverwrittenOnlyOnOkAndAFullTableSaysSo) {
  make(true);
  readLookUp("A", "0002");
  form->SaveAsGroupBoxClick(int(TableSource::LookUp));
  form->edit("DTFB")->setText("0.5");
  rig.model.Requests.clear();
  prompter.clear();
  prompter.answers = {Yes, Cancel};
  form->WriteCOMButton->click();
  EXPECT_EQ(prompter.texts(), QStringList({"Are you sure?", "The given serial number exist. Overwrite it?"}));
  EXPECT_EQ(rig.letters(), "X") << "Cancel: nothing goes to the reader";
  EXPECT_EQ(form->edit("DTFB")->text(), "0.5");

  prompter.answers = {Yes, Ok};
  form->WriteCOMButton->click();
  EXPECT_EQ(rig.letters(), "XXEZX");
  EXPECT_EQ(float{rig.lookupEntry("A0002")->DTFB}, 0.5f);

  rig.model.Parameters().LookupCapacity = rig.model.Parameters().LookupTable.size();
  form->edit("KSN")->setText("0555");
  prompter.clear();
  prompter.answers = {Yes};
  form->WriteCOMButton->click();
  EXPECT_EQ(prompter.texts(), QStringList({"Are you sure?", "Memory is full!", "Undefined Error"}));

  // The delete was carried out, its replies are lost: the entry may be gone.
  rig.link.Timer.setInterval(20);  // time-outs of 80 ms; the late replies come after 4.5 s
  form->edit("KSN")->setText("0002");
  rig.model.Script = {0, sim::kFaultLate, sim::kFaultLate};  // ".X", then ".E" and its retry
  prompter.clear();
  prompter.answers = {Yes, Ok};
  form->WriteCOMButton->click();
  EXPECT_EQ(prompter.texts(),
            QStringList({"Are you sure?", "The given serial number exist. Overwrite it?",
                         "The reader's entry A0002 may have been deleted; the new entry was not written. The "
                         "window still holds it: write it again.",
                         "Reader not avaible (not connected?)"}));
  EXPECT_EQ(rig.lookupEntry("A0002"), nullptr);
}

TEST_F(BptSubFormTest, TheDialogsNameTheFileAndAConversionFailureIsABox) {
  make(false);
  form->KeyDataSourceClick(int(TableSource::LookUp));
  answerTypeAndSerial("B", "0010");
  form->ReadCOMButton->click();
  prompter.fileAnswers = {path("lut")};
  form->WriteFileButton->click();
  EXPECT_EQ(IniFile(path("lut.dpt")).ReadString(kLookupKeySection, "KSN", "<none>"), "0010");

  form->edit("HUS")->setText("5x");
  prompter.clear();
  prompter.fileAnswers = {path("x.dpt")};
  form->WriteFileButton->click();
  EXPECT_EQ(prompter.texts(), QStringList({"'5x' is not a valid integer value"}));
  EXPECT_EQ(prompter.messages.front().kind, MessageKind::Error);
  EXPECT_FALSE(QFile::exists(path("x.dpt")));

  QFile f(path("own.dpt"));
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("[Individual Key Parameter Table]\r\nKTYPE=D\r\nKSN=0099\r\nLRO=4294967295\r\n");
  f.close();
  form->KeyDataSourceClick(int(TableSource::Dosimeter));
  prompter.fileAnswers = {path("own.dpt")};
  form->ReadFileButton->click();
  EXPECT_EQ(form->edit("KTYPE")->text() + form->edit("KSN")->text(), "D0099");
  EXPECT_EQ(form->LROEdit->text(), "Not Available");
}

TEST_F(BptSubFormTest, TheWarningShowsForTypeThreeAndTheMaskEditorSetsBits) {
  make(true);
  form->Job.Table.Record.KTYPE = 3;
  form->DataRefresh();
  EXPECT_TRUE(form->WarningDatLabel->isVisibleTo(form.get()));
  form->Job.Table.Record.KTYPE = 2;
  form->Job.Table.Record.ERRMASK = 0x40;
  form->DataRefresh();
  EXPECT_FALSE(form->WarningDatLabel->isVisibleTo(form.get()));

  form->edit("ERRMASK")->setText("1");  // the editor reads the table, not the edit
  QTest::mouseClick(form->edit("ERRMASK"), Qt::LeftButton);
  EXPECT_TRUE(errMask.isVisible());
  QStringList ticked;
  for (const QCheckBox* b : errMask.Boxes)
    if (b->isChecked()) ticked << b->text();
  EXPECT_EQ(ticked, QStringList{"Sensor"});
  errMask.CloseButton->click();
  EXPECT_FALSE(errMask.isVisible());
  EXPECT_EQ(int{form->Job.Table.Record.ERRMASK}, 0xC0);
  EXPECT_EQ(form->edit("ERRMASK")->text(), "192");
}

TEST_F(BptSubFormTest, EnterMovesOnExceptInTheHeatingFunctionAndMaskEdits) {
  make(true);
  form->show();
  form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  form->edit("EVASTART")->setFocus();
  QTest::keyClick(form->edit("EVASTART"), Qt::Key_Return);
  EXPECT_EQ(QApplication::focusWidget(), form->edit("EVALEN"));
  form->edit("DHFA")->setFocus();
  QTest::keyClick(form->edit("DHFA"), Qt::Key_Return);
  EXPECT_FALSE(form->isVisible()) << "there Enter reaches the default button, Exit";
}

// --- The look-up list and the entry dialogs ----------------------------------------

TEST_F(BptSubFormTest, TheListReadsEachShowingOnceKeepsRawIdentifiersAndDeletesOnlyWhenAllowed) {
  make(true);
  auto& lut = rig.model.Parameters().LookupTable;
  lut.push_back(sim::ParameterState::MakeTable('C', "7"));  // "C7" and three zero bytes
  list->FormActivate();
  QStringList shown;
  for (int k = 0; k < list->LUTListBox->count(); ++k) shown << list->LUTListBox->item(k)->text();
  EXPECT_EQ(shown, QStringList({"A0001", "A0002", "A0417", "B0010", "C7"}));
  EXPECT_EQ(list->SelectedKey, "NO_SN");
  list->FormActivate();
  EXPECT_EQ(list->LUTListBox->count(), 5) << "no second reading in one showing";

  list->LUTListBox->setCurrentRow(4);
  prompter.answers = {Yes};
  list->DeleteButton->click();
  EXPECT_EQ(rig.commands().back(), Bytes({'.', 'E', 'C', '7', 0, 0, 0, '#'}));
  EXPECT_EQ(lut.size(), 4u);
  list->LUTListBox->setCurrentRow(1);
  list->OkButton->click();
  EXPECT_EQ(list->SelectedKey, "A0002");
  EXPECT_EQ(list->LUTListBox->count(), 0) << "closing empties the list";

  list->FormActivate();
  prompter.answers = {Yes};
  list->DelAllButton->click();
  EXPECT_TRUE(lut.empty());
  EXPECT_EQ(list->LUTListBox->count(), 0);
  list->CancelButton->click();

  // Picked from the window's List button, then read.
  lut.push_back(sim::ParameterState::MakeTable('B', "0123"));
  prompter.modalHandlers["LUTListForm"] = [](QObject& w) {
    auto& l = static_cast<TLUTListForm&>(w);
    l.FormActivate();
    l.LUTListBox->setCurrentRow(0);
    l.OkButton->click();
    return l.result();
  };
  form->SetLayout(TableLayout::LookUp);
  form->ListLUTButton->click();
  EXPECT_EQ(form->edit("KTYPE")->text() + form->edit("KSN")->text(), "B0123");
  EXPECT_EQ(form->edit("EVALEN")->text(), "41");
}

TEST_F(BptSubFormTest, TheEntryDialogsCloseOnlyOnValidInputAndKeepTheirResults) {
  make(false);
  typeForm.KTYPEEdit->setText("1");
  typeForm.OkButton->click();
  EXPECT_EQ(typeForm.result(), 0) << "stays open";
  typeForm.KTYPEEdit->setText("ab");
  typeForm.OkButton->click();
  EXPECT_EQ(typeForm.KeyType, "A");
  EXPECT_EQ(typeForm.result(), int(mrOk));

  snForm.KSNEdit->setText("12a4");
  snForm.OkButton->click();
  EXPECT_EQ(snForm.result(), 0);
  snForm.KSNEdit->setText("0042");
  snForm.OkButton->click();
  EXPECT_EQ(snForm.result(), int(mrOk));
  EXPECT_EQ(snForm.KeySN, "0042");

  // List fills both edits from the pick.
  prompter.modalHandlers["LUTListForm"] = [](QObject& w) {
    auto& l = static_cast<TLUTListForm&>(w);
    l.FormActivate();
    l.LUTListBox->setCurrentRow(3);
    l.OkButton->click();
    return l.result();
  };
  tsnForm.ListButton->click();
  EXPECT_EQ(tsnForm.KTYPEEdit->text() + tsnForm.KSNEdit->text(), "B0010");
  tsnForm.KSNEdit->setText("42x1");
  tsnForm.OkButton->click();
  EXPECT_EQ(tsnForm.result(), 0);
  EXPECT_EQ(tsnForm.KeySN, "42x1");
}

}  // namespace
