#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <csignal>
#include <cstring>
#include <stdexcept>

#include "ScriptedPrompter.h"
#include "TestEnv.h"
#include "archive/Archive.h"
#include "archive/ArchiveForm.h"
#include "archive/ArchiveText.h"
#include "archive/ControlChartView.h"
#include "base/Config.h"
#include "base/Diag.h"
#include "base/IniFile.h"
#include "evaluation/BlockFormat.h"
#include "evaluation/DetailModel.h"
#include "evaluation/DoseChain.h"
#include "link/COMPort.h"
#include "link/OptionsForm.h"
#include "measurement/DownLoadForm.h"
#include "sample-data/SampleData.h"
#include "service/SrvForm.h"
#include "service/SwUpdate.h"
#include "shell/AboutForm.h"
#include "shell/Application.h"
#include "shell/IoForm.h"
#include "shell/PgcForm.h"

using quelm::test::ScriptedPrompter;

namespace {

class ApplicationTest : public ::testing::Test {
 protected:
  QApplication& app() { return *static_cast<QApplication*>(QCoreApplication::instance()); }

  quelm::test::DiagScope keepFlags_{DiagFlags};
  ScriptedPrompter prompter_;
  QTemporaryDir dir_;
  quelm::test::ConfigScope config_{dir_};
};

TEST_F(ApplicationTest, AnExceptionWhileCreatingTheWindowsIsShownAndTheProgramEndsWithZero) {
  std::signal(SIGXFSZ, SIG_DFL);
  const int result = quelm::RunProgram(
      app(), []() -> quelm::ProgramWindows { throw std::runtime_error("Out of system resources"); });
  EXPECT_EQ(result, 0);
  ASSERT_EQ(prompter_.messages.size(), 1u);
  EXPECT_EQ(prompter_.messages[0].kind, quelm::MessageKind::Error);
  EXPECT_EQ(prompter_.messages[0].text, QStringLiteral("Out of system resources"));
  EXPECT_EQ(prompter_.messages[0].title, QStringLiteral("Quelm"));
  EXPECT_EQ(QApplication::applicationName(), QStringLiteral("Quelm"));
  // A write beyond a file-size limit fails and is reported; it does not end
  // the program.
  EXPECT_EQ(std::signal(SIGXFSZ, SIG_DFL), SIG_IGN);
}

TEST_F(ApplicationTest, WindowsMadeBeforeAFailureAreTakenDownAndNothingElseIsThrown) {
  const int result = quelm::RunProgram(app(), []() -> quelm::ProgramWindows {
    quelm::ProgramWindows w = quelm::createProgramWindows();
    throw 42;  // not even an exception class
  });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(prompter_.texts(), QStringList{QStringLiteral("Unknown exception")});
  EXPECT_EQ(PgcForm, nullptr);
  EXPECT_EQ(IoForm, nullptr);
  EXPECT_EQ(AboutForm, nullptr);
}

TEST_F(ApplicationTest, ClosingTheMainWindowEndsTheRunAndWritesTheConfiguration) {
  QFile level(quelm::configFilePath());  // at service level, every window can be opened
  ASSERT_TRUE(level.open(QIODevice::WriteOnly));
  level.write("[Safety restrictions]\r\nProfessional=1403726958\r\n");
  level.close();
  QStringList created, destroyed;
  const int result = quelm::RunProgram(app(), [&] {
    quelm::ProgramWindows w = quelm::createProgramWindows();
    for (const auto& window : w) {
      created << QString::fromLatin1(window->metaObject()->className());
      QObject::connect(window.get(), &QObject::destroyed,
                       [&destroyed, name = created.last()] { destroyed << name; });
    }
    // Creating the options window handed the saved port (COM1 by default)
    // to the port component, whose number the About window shows.
    EXPECT_EQ(IoForm->Link.COMPortDrv.PortNumber(), pnCOM1);
    IoForm->Link.COMPortDrv.SetPortNumber(pnCOM5);
    AboutForm->FormPaint();
    EXPECT_EQ(AboutForm->COMPortDatLabel->text(), QStringLiteral("COM5"));
    EXPECT_TRUE(PgcForm->ComPort1->isEnabled());
    PgcForm->ComPort1->trigger();
    PgcForm->HelpAboutItem->trigger();
    EXPECT_EQ(prompter_.modalWindows,
              (QStringList{QStringLiteral("OptionsForm"), QStringLiteral("AboutForm")}));
    PgcForm->Softwareupdate1->trigger();
    PgcForm->Service1->trigger();
    EXPECT_TRUE(SwUpdate->isVisible());
    EXPECT_TRUE(SrvForm->isVisible());
    PgcForm->DosimeterparameterTable1->trigger();
    EXPECT_TRUE(w[2]->isVisible()) << "the dosimeter parameter window, not modal";
    PgcForm->ReaderParameterTable1->trigger();
    EXPECT_TRUE(w[3]->isVisible()) << "the reader parameter window, not modal";
    PgcForm->PortNumber = 5;
    // "Download" shows the download window; closing it gives the main window back.
    EXPECT_TRUE(PgcForm->Download1->isEnabled());
    PgcForm->Download1->trigger();
    EXPECT_TRUE(DownLoadForm && DownLoadForm->isVisible());
    // "File" > "Dose archive" and the download window's button show the archive.
    EXPECT_TRUE(PgcForm->DoseArchive1->isEnabled());
    PgcForm->DoseArchive1->trigger();
    EXPECT_TRUE(ArchiveForm && ArchiveForm->isVisible());
    ArchiveForm->hide();
    DownLoadForm->ArchiveButton->click();
    EXPECT_TRUE(ArchiveForm->isVisible());
    const auto* controls = ArchiveForm->findChild<quelm::ControlChartPanel*>();
    EXPECT_TRUE(controls && controls->isVisible()) << "the control chart in the archive window";
    // "Tools" > "Calibration" shows the calibration window.
    EXPECT_TRUE(PgcForm->Calibration1->isEnabled());
    PgcForm->Calibration1->trigger();
    EXPECT_TRUE(w.back()->isVisible()) << "the calibration window, not modal";
    PgcForm->setEnabled(false);
    if (DownLoadForm) DownLoadForm->close();
    EXPECT_TRUE(PgcForm->isEnabled());
    QTimer::singleShot(0, [] {
      EXPECT_TRUE(PgcForm->isVisible());
      EXPECT_FALSE(IoForm->isVisible());
      IoForm->show();  // an open log window does not keep the program alive
      PgcForm->close();
    });
    return w;
  });
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(prompter_.messages.empty());
  const QStringList order = {"TPgcForm",     "TIoForm",      "TBptSubForm",   "TDptForm",    "TAboutForm",
                             "TRSDebugForm", "TOptionsForm", "TDownLoadForm", "TSrvForm",    "TLUTListForm",
                             "TTypeForm",    "TTSnForm",     "TSNForm",       "TAppendForm", "TSwUpdate",
                             "TErrMaskForm", "TArchiveForm"};
  const QStringList all = order + QStringList{"TCalibrationForm"};
  EXPECT_EQ(created, all);
  QStringList reversed(all.rbegin(), all.rend());
  EXPECT_EQ(destroyed, reversed);
  QFile ini(quelm::configFilePath());
  ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
  EXPECT_TRUE(ini.readAll().contains("\r\nPortNumber=5\r\n"));
}

// Import, download, the parameter tables' reads and writes and the service
// commands would only fail while the update speaks the loader's protocol.
TEST_F(ApplicationTest, WhileTheSoftwareUpdateHoldsTheLineTheReaderCommandsAreGreyed) {
  QFile level(quelm::configFilePath());
  ASSERT_TRUE(level.open(QIODevice::WriteOnly));
  level.write("[Safety restrictions]\r\nProfessional=1403726958\r\n");
  level.close();
  quelm::ProgramWindows w = quelm::createProgramWindows();
  const auto find = [&](const char* name) -> QObject* {
    for (const auto& window : w) {
      if (window->objectName() == QLatin1String(name)) return window.get();
      if (QObject* o = window->findChild<QObject*>(QLatin1String(name))) return o;
    }
    return nullptr;
  };
  const QStringList commands = {
      "RSSpeedButton", "FromQuelm1", "DownLoadTypeComboBox", "ReadCOMButton",    "WriteCOMButton",
      "ListLUTButton", "HVButton",   "ReadLogButton",        "ReadingRTCButton", "EnableSettingButton"};
  QList<QObject*> objects;
  // The dosimeter window's Read, Write and List, then the reader window's.
  for (const QString& name : commands)
    for (const auto& window : w)
      for (QObject* o : window->findChildren<QObject*>(name)) objects << o;
  ASSERT_GE(objects.size(), commands.size() + 2);
  const auto enabled = [](QObject* o) {
    if (auto* a = qobject_cast<QAction*>(o)) return a->isEnabled();
    return static_cast<QWidget*>(o)->isEnabled();
  };
  QList<bool> before;
  for (QObject* o : objects) before << enabled(o);

  ASSERT_TRUE(IoForm->Link.BeginLoaderSession());
  for (QObject* o : objects) EXPECT_FALSE(enabled(o)) << o->objectName().toStdString();
  EXPECT_TRUE(find("SrvCancelButton") && enabled(find("SrvCancelButton"))) << "Exit ends the update's wait";
  IoForm->Link.EndLoaderSession();
  for (int i = 0; i < objects.size(); ++i)
    EXPECT_EQ(enabled(objects[i]), before[i]) << objects[i]->objectName().toStdString();
  while (!w.empty()) w.pop_back();
}

TEST_F(ApplicationTest, TheBuildMaskIsAddedToTheFlagWord) {
  DiagFlags = 0x02;
  quelm::RunProgram(app(), [] { return quelm::ProgramWindows{}; });
  EXPECT_EQ(DiagFlags, 0x02u | quelm::kBuildDiagMask);
}

TEST_F(ApplicationTest, AnExceptionFromAnEventHandlerIsShownAndDeliveryGoesOn) {
  EXPECT_FALSE(quelm::notifyGuarded([]() -> bool { throw std::bad_alloc(); }));
  ASSERT_EQ(prompter_.messages.size(), 1u);
  EXPECT_EQ(prompter_.messages[0].kind, quelm::MessageKind::Error);
  EXPECT_EQ(prompter_.messages[0].text, QString::fromLatin1(std::bad_alloc().what()));
  EXPECT_TRUE(quelm::notifyGuarded([] { return true; }));
  EXPECT_EQ(prompter_.messages.size(), 1u);
}

TEST_F(ApplicationTest, AWindowDownloadIsArchivedUnlessTheConfigurationFileSwitchesItOff) {
  quelm::test::WorkDirScope workDir(dir_);
  ASSERT_EQ(WriteSampleDataFile(QStringLiteral("src.dat"), {5, 3, 0}), 0);
  for (const bool on : {false, true}) {
    const QString db = dir_.filePath(on ? QStringLiteral("on.sqlite") : QStringLiteral("off.sqlite"));
    quelm::IniFile ini(quelm::configFilePath());
    ini.WriteString(QStringLiteral("Dose archive"), QStringLiteral("Database"), db);
    ini.WriteInteger(QStringLiteral("Dose archive"), QStringLiteral("ArchiveDownloads"), on ? 1 : 0);
    ASSERT_TRUE(ini.UpdateFile());
    TDownLoadForm form;
    quelm::ConnectDownloadArchive(form);
    form.FileRadioButton->click();
    form.Job.SkimSource(QStringLiteral("src.dat"));
    form.DownLoadFileNameEdit->setText(on ? QStringLiteral("on") : QStringLiteral("off"));
    form.StartButtonClick();
    EXPECT_EQ(prompter_.texts(), QStringList{"Process completed"});
    prompter_.clear();
    EXPECT_EQ(QFile::exists(db), on);
    if (!on) continue;
    quelm::ArchiveLocation location;
    QString error;
    ASSERT_EQ(quelm::ParseArchiveLocation(db, &location, &error), 0);
    int code = 0;
    auto archive = quelm::DoseArchive::open(location, {}, &code, &error);
    ASSERT_TRUE(archive);
    quelm::CheckReport report;
    ASSERT_EQ(archive->check(&report), 0);
    EXPECT_EQ(report.readouts, 5);
  }
}

TEST_F(ApplicationTest, NewHighDosesOfAWindowDownloadAreNamedInOneMessage) {
  quelm::test::WorkDirScope workDir(dir_);
  const std::vector<BlockRecord> blocks = MakeSampleBlocks({6, 4, 0});
  quelm::test::WriteBlocks(dir_, "src.dat", blocks);
  // The notice names the reader's doses of record.
  const double level = float{blocks[2].MeasuredDose};
  int high = 0;
  for (const BlockRecord& b : blocks) high += float{b.MeasuredDose} >= level;
  const QString db = dir_.filePath(QStringLiteral("a.sqlite"));
  {
    quelm::IniFile ini(quelm::configFilePath());
    ini.WriteString(QStringLiteral("Dose archive"), QStringLiteral("Database"), db);
    ini.WriteString(QStringLiteral("Dose archive"), QStringLiteral("NotificationLevel"),
                    QString::number(level, 'g', 17));
    ASSERT_TRUE(ini.UpdateFile());
    quelm::ArchiveLocation location;
    QString error;
    quelm::ParseArchiveLocation(db, &location, &error);
    int code = 0;
    auto archive = quelm::DoseArchive::open(location, {}, &code, &error);
    ASSERT_EQ(archive->assign(IdentifierText(blocks[2].BulbID), "Alice",
                              *quelm::ParseArchiveTime("2000-01-01", false), std::nullopt),
              0);
  }
  TDownLoadForm form;
  quelm::ConnectDownloadArchive(form);
  for (int round = 0; round < 2; ++round) {
    form.FileRadioButton->click();
    form.Job.SkimSource(QStringLiteral("src.dat"));
    form.DownLoadFileNameEdit->setText(QStringLiteral("out%1").arg(round));
    form.StartButtonClick();
    // The second time nothing is new: no notice.
    ASSERT_EQ(prompter_.messages.size(), round == 0 ? 2u : 1u) << prompter_.texts().join('\n').toStdString();
    if (round == 0) {
      const QString notice = prompter_.messages[1].text;
      EXPECT_EQ(prompter_.messages[1].title, QStringLiteral("High dose"));
      EXPECT_EQ(notice.count('\n'), high) << notice.toStdString();
      EXPECT_TRUE(notice.contains(IdentifierText(blocks[2].BulbID) + QStringLiteral(" (P0001 Alice): ")))
          << notice.toStdString();
      EXPECT_TRUE(notice.contains(quelm::DoseText(level))) << notice.toStdString();
    }
    prompter_.clear();
  }
}

TEST_F(ApplicationTest, AnArchivedReadOutOpensInTheMainWindowsDetailView) {
  TPgcForm main;
  TIoForm io;
  TDownLoadForm download;
  TOptionsForm options(io.Link.COMPortDrv, quelm::SavedPortChoiceOf(main));
  TArchiveForm archive(quelm::ArchiveSettings{});
  quelm::ConnectArchiveWindow(main, archive, download, options);
  const BlockRecord record = MakeSampleBlocks({3, 8, 40})[1];
  archive.ShowRecord(QByteArray(reinterpret_cast<const char*>(&record), sizeof record));
  ASSERT_TRUE(main.Detail().BlockShown());
  EXPECT_EQ(std::memcmp(&main.Detail().ShownRecord(), &record, sizeof record), 0);
  EXPECT_EQ(main.BlockNumberDatLabel->text(), QStringLiteral("41"));
  EXPECT_EQ(main.PageControl->currentWidget(), main.ChartTabSheet);
  EXPECT_TRUE(main.Chart->isEnabled()) << "the chart commands work on it";
  EXPECT_TRUE(prompter_.messages.empty());
}

}  // namespace
