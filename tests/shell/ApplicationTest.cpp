#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <csignal>
#include <cstring>
#include <stdexcept>

#include "ReaderModel.h"
#include "ScriptedPrompter.h"
#include "SimServer.h"
#include "TestEnv.h"
#include "archive/Archive.h"
#include "archive/ArchiveForm.h"
#include "archive/ArchiveText.h"
#include "archive/ControlChartView.h"
#include "base/Config.h"
#include "base/Diag.h"
#include "base/IniFile.h"
#include "base/ListNoticeForm.h"
#include "base/StringGrid.h"
#include "base/WindowOwner.h"
#include "calibration/CalibrationForm.h"
#include "evaluation/BlockFormat.h"
#include "evaluation/ContentModel.h"
#include "evaluation/DetailModel.h"
#include "evaluation/DoseChain.h"
#include "link/COMPort.h"
#include "link/OptionsForm.h"
#include "measurement/DownLoadForm.h"
#include "parameters/BptSubForm.h"
#include "parameters/DptForm.h"
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

TEST(ProgramIcon, TakesTheInstalledSizesAWindowListShowsAndIsEmptyWithoutThem) {
  const QDir data(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
  const auto file = [&](int size) {
    return data.filePath(QStringLiteral("icons/hicolor/%1x%1/apps/org.quelm.Quelm.png").arg(size));
  };
  EXPECT_TRUE(quelm::ProgramIcon().isNull()) << "not installed";
  for (int size : {16, 48, 128}) {
    ASSERT_TRUE(data.mkpath(QFileInfo(file(size)).path()));
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::darkGreen);
    ASSERT_TRUE(image.save(file(size)));
  }
  const QIcon icon = quelm::ProgramIcon();
  EXPECT_EQ(icon.availableSizes(), (QList<QSize>{QSize(16, 16), QSize(48, 48)}));
  EXPECT_EQ(icon.pixmap(48, 48).toImage().pixelColor(0, 0), QColor(Qt::darkGreen));
  for (int size : {16, 48, 128}) QFile::remove(file(size));
}

TEST_F(ApplicationTest, AnExceptionWhileCreatingTheWindowsIsShownAndTheProgramEndsWithZero) {
  std::signal(SIGXFSZ, SIG_DFL);
  const int result = quelm::RunProgram(
      app(), []() -> std::unique_ptr<quelm::WindowOwner> { throw std::runtime_error("Out of system resources"); });
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
  QStringList destroyed;
  const int result = quelm::RunProgram(app(), [&]() -> std::unique_ptr<quelm::WindowOwner> {
    std::unique_ptr<quelm::WindowOwner> w = quelm::createProgramWindows();
    w->open<TAboutForm>();
    for (QWidget* window : std::initializer_list<QWidget*>{w->built<TPgcForm>(), w->built<TIoForm>(), w->built<TAboutForm>()})
      QObject::connect(window, &QObject::destroyed, [&destroyed, name = window->objectName()] { destroyed << name; });
    throw 42;  // not even an exception class
  });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(prompter_.texts(), QStringList{QStringLiteral("Unknown exception")});
  EXPECT_EQ(destroyed, (QStringList{"AboutForm", "IoForm", "PgcForm"}));
  EXPECT_EQ(quelm::WindowOwner::current(), nullptr);
  EXPECT_EQ(quelm::BuiltWindow<TPgcForm>(), nullptr);
}

TEST_F(ApplicationTest, ClosingTheMainWindowEndsTheRunAndWritesTheConfiguration) {
  QFile level(quelm::configFilePath());  // at service level, every window can be opened
  ASSERT_TRUE(level.open(QIODevice::WriteOnly));
  level.write("[Safety restrictions]\r\nProfessional=1403726958\r\n");
  level.close();
  QStringList created, destroyed;
  const int result = quelm::RunProgram(app(), [&]() -> std::unique_ptr<quelm::WindowOwner> {
    std::unique_ptr<quelm::WindowOwner> w = quelm::createProgramWindows();
    quelm::WindowOwner& windows = *w;
    const auto note = [&](QWidget* window) {
      if (!window || created.contains(QString::fromLatin1(window->metaObject()->className()))) return;
      created << QString::fromLatin1(window->metaObject()->className());
      QObject::connect(window, &QObject::destroyed, [&destroyed, name = created.last()] { destroyed << name; });
    };
    // Only the main window and the log window, which owns the link, are built at start.
    note(windows.built<TPgcForm>());
    note(windows.built<TIoForm>());
    EXPECT_EQ(windows.built<TOptionsForm>(), nullptr);
    EXPECT_EQ(windows.built<TArchiveForm>(), nullptr) << "the archive opens when its window is first opened";
    TPgcForm* main = windows.built<TPgcForm>();
    TIoForm* io = windows.built<TIoForm>();
    // The saved port (COM1 by default) reached the port component at start,
    // before the options window was ever built; the About window shows it.
    EXPECT_EQ(io->Link.COMPortDrv.PortNumber(), pnCOM1);
    EXPECT_TRUE(main->ComPort1->isEnabled());
    main->ComPort1->trigger();
    note(windows.built<TOptionsForm>());
    io->Link.COMPortDrv.SetPortNumber(pnCOM5);
    main->HelpAboutItem->trigger();
    note(windows.built<TAboutForm>());
    if (TAboutForm* about = windows.built<TAboutForm>()) {
      about->FormPaint();
      EXPECT_EQ(about->COMPortDatLabel->text(), QStringLiteral("COM5"));
    } else {
      ADD_FAILURE() << "the About window was not built";
    }
    EXPECT_EQ(prompter_.modalWindows,
              (QStringList{QStringLiteral("OptionsForm"), QStringLiteral("AboutForm")}));
    main->Softwareupdate1->trigger();
    note(windows.built<TSwUpdate>());
    main->Service1->trigger();
    note(windows.built<TSrvForm>());
    EXPECT_TRUE(windows.built<TSwUpdate>()->isVisible());
    EXPECT_TRUE(windows.built<TSrvForm>()->isVisible());
    main->DosimeterparameterTable1->trigger();
    note(windows.built<TBptSubForm>());
    EXPECT_TRUE(windows.built<TBptSubForm>()->isVisible()) << "the dosimeter parameter window, not modal";
    main->ReaderParameterTable1->trigger();
    note(windows.built<TDptForm>());
    EXPECT_TRUE(windows.built<TDptForm>()->isVisible()) << "the reader parameter window, not modal";
    // A second time the same window comes to the front; none is built twice.
    windows.built<TDptForm>()->hide();
    main->ReaderParameterTable1->trigger();
    EXPECT_TRUE(windows.built<TDptForm>()->isVisible());
    main->PortNumber = 5;
    // "Download" shows the download window; closing it gives the main window back.
    EXPECT_TRUE(main->Download1->isEnabled());
    main->Download1->trigger();
    note(windows.built<TDownLoadForm>());
    TDownLoadForm* download = windows.built<TDownLoadForm>();
    EXPECT_TRUE(download && download->isVisible());
    // "File" > "Dose archive" and the download window's button show the archive.
    EXPECT_TRUE(main->DoseArchive1->isEnabled());
    main->DoseArchive1->trigger();
    note(windows.built<TArchiveForm>());
    TArchiveForm* archive = windows.built<TArchiveForm>();
    EXPECT_TRUE(archive && archive->isVisible());
    archive->hide();
    download->ArchiveButton->click();
    EXPECT_TRUE(archive->isVisible());
    const auto* controls = archive->findChild<quelm::ControlChartPanel*>();
    EXPECT_TRUE(controls && controls->isVisible()) << "the control chart in the archive window";
    // The chart reads the archive the window has opened (a new one here), and
    // at the window's size the totals keep the height they need.
    if (controls) {
      EXPECT_EQ(controls->StatusLabel->text().left(12), QStringLiteral("No control b"));
    }
    QApplication::processEvents();
    EXPECT_GE(archive->TotalsGroupBox->height(), archive->TotalsGroupBox->sizeHint().height());
    // "Tools" > "Calibration" shows the calibration window.
    EXPECT_TRUE(main->Calibration1->isEnabled());
    main->Calibration1->trigger();
    note(windows.built<TCalibrationForm>());
    EXPECT_TRUE(windows.built<TCalibrationForm>()->isVisible()) << "the calibration window, not modal";
    main->setEnabled(false);
    download->close();
    EXPECT_TRUE(main->isEnabled());
    QTimer::singleShot(0, [main, io] {
      EXPECT_TRUE(main->isVisible());
      EXPECT_FALSE(io->isVisible());
      io->show();  // an open log window does not keep the program alive
      main->close();
    });
    return w;
  });
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(prompter_.messages.empty());
  const QStringList all = {"TPgcForm", "TIoForm",     "TOptionsForm",  "TAboutForm",   "TSwUpdate",       "TSrvForm",
                           "TBptSubForm", "TDptForm", "TDownLoadForm", "TArchiveForm", "TCalibrationForm"};
  EXPECT_EQ(created, all);
  QStringList reversed(all.rbegin(), all.rend());
  EXPECT_EQ(destroyed, reversed);
  QFile ini(quelm::configFilePath());
  ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
  EXPECT_TRUE(ini.readAll().contains("\r\nPortNumber=5\r\n"));
}

// Import, download, the parameter tables' reads and writes and the service
// commands would only fail while the update speaks the loader's protocol;
// the port's options would set its open line up anew.
TEST_F(ApplicationTest, WhileTheSoftwareUpdateHoldsTheLineTheReaderCommandsAreGreyed) {
  QFile level(quelm::configFilePath());
  ASSERT_TRUE(level.open(QIODevice::WriteOnly));
  level.write("[Safety restrictions]\r\nProfessional=1403726958\r\n");
  level.close();
  std::unique_ptr<quelm::WindowOwner> owner = quelm::createProgramWindows();
  TIoForm& io = *owner->built<TIoForm>();
  // The windows opened before the update; the service window is first
  // opened while it runs and starts greyed.
  QList<QWidget*> w = {owner->built<TPgcForm>(), owner->open<TBptSubForm>(), owner->open<TDptForm>(),
                       owner->open<TDownLoadForm>()};
  const auto find = [&](const char* name) -> QObject* {
    for (QWidget* window : w) {
      if (window->objectName() == QLatin1String(name)) return window;
      if (QObject* o = window->findChild<QObject*>(QLatin1String(name))) return o;
    }
    return nullptr;
  };
  const auto enabled = [](QObject* o) {
    if (auto* a = qobject_cast<QAction*>(o)) return a->isEnabled();
    return static_cast<QWidget*>(o)->isEnabled();
  };
  const auto commandsOf = [&](const QStringList& names) {
    QList<QObject*> objects;
    for (const QString& name : names)
      for (QWidget* window : w)
        for (QObject* o : window->findChildren<QObject*>(name)) objects << o;
    return objects;
  };
  // The dosimeter window's Read, Write and List, then the reader window's.
  const QStringList commands = {"RSSpeedButton", "FromQuelm1",     "DownLoadTypeComboBox",
                                "ReadCOMButton", "WriteCOMButton", "ListLUTButton",
                                "ComPort1"};
  QList<QObject*> objects = commandsOf(commands);
  ASSERT_GE(objects.size(), commands.size() + 2);
  QList<bool> before;
  for (QObject* o : objects) before << enabled(o);

  ASSERT_TRUE(io.Link.BeginLoaderSession());
  w << owner->open<TSrvForm>();
  const QList<QObject*> service = commandsOf({"HVButton", "ReadLogButton", "ReadingRTCButton", "EnableSettingButton"});
  ASSERT_EQ(service.size(), 4);
  for (QObject* o : objects + service) EXPECT_FALSE(enabled(o)) << o->objectName().toStdString();
  EXPECT_TRUE(find("SrvCancelButton") && enabled(find("SrvCancelButton"))) << "Exit ends the update's wait";
  io.Link.EndLoaderSession();
  for (int i = 0; i < objects.size(); ++i)
    EXPECT_EQ(enabled(objects[i]), before[i]) << objects[i]->objectName().toStdString();
  // A job that holds the line between its commands (a download) greys the
  // port's options and the software update's start (also in an update
  // window first built then): its other windows stay usable.
  io.Link.HoldLine();
  w << owner->open<TSwUpdate>();
  for (const char* name : {"ComPort1", "ProgramDownloadButton"}) EXPECT_FALSE(enabled(find(name))) << name;
  EXPECT_TRUE(enabled(find("RSSpeedButton")));
  io.Link.ReleaseLine();
  for (const char* name : {"ComPort1", "ProgramDownloadButton"}) EXPECT_TRUE(enabled(find(name))) << name;
}

// While a download lets clicks through between its blocks, the other
// windows' reader commands are greyed as during the update (a click would
// only be refused); the download's own Abort stays usable. The short holds
// of its selection (exchanges that let nothing through) grey nothing.
TEST_F(ApplicationTest, WhileADownloadLetsClicksThroughTheOtherWindowsGreyTheirReaderCommands) {
  quelm::IniFile ini(quelm::configFilePath());
  ini.WriteInteger(QStringLiteral("Dose archive"), QStringLiteral("ArchiveDownloads"), 0);
  ASSERT_TRUE(ini.UpdateFile());
  quelm::sim::TReaderModel model;
  model.LoadBlocks(MakeSampleBlocks({6, 3, 0}));
  quelm::sim::TReaderSimServer server(model);
  ASSERT_EQ(server.Open(), 0);
  std::unique_ptr<quelm::WindowOwner> owner = quelm::createProgramWindows();
  TFrameLink& link = owner->built<TIoForm>()->Link;
  link.COMPortDrv.DeviceOverride = server.SlavePath();
  link.COMPortDrv.SetPortNumber(pnCOM1);
  TDownLoadForm& download = *owner->open<TDownLoadForm>();
  auto* main = owner->built<TPgcForm>();
  auto* service = owner->open<TSrvForm>();
  const QList<QObject*> others = {main->RSSpeedButton, main->FromQuelm1, service->HVButton,
                                  owner->open<TDptForm>()->findChild<QObject*>("ReadCOMButton")};
  const auto enabled = [](QObject* o) {
    if (auto* a = qobject_cast<QAction*>(o)) return a->isEnabled();
    return static_cast<QWidget*>(o)->isEnabled();
  };
  const auto othersEnabled = [&] {
    QList<bool> states;
    for (QObject* o : others) states << enabled(o);
    return states;
  };
  const QList<bool> allEnabled(others.size(), true);
  ASSERT_EQ(othersEnabled(), allEnabled);

  int skimmed = 0;
  model.OnRequest = [&](const std::vector<uint8_t>&) {
    ++skimmed;
    EXPECT_EQ(othersEnabled(), allEnabled) << "during the selection's exchanges";
  };
  emit download.DownLoadTypeComboBox->activated(quelm::kDownloadUnsaved);
  model.OnRequest = nullptr;
  ASSERT_GT(skimmed, 0);
  EXPECT_EQ(othersEnabled(), allEnabled);
  download.DownLoadFileNameEdit->setText(dir_.filePath("run.dat"));
  const bool abortBefore = download.AbortButton->isEnabled();

  const auto paint = download.Job.onChanged;
  int seen = 0;
  download.Job.onChanged = [&] {
    paint();
    if (!download.Job.State().running || download.Job.State().gaugeProgress != 3) return;
    // Handled among the events the download lets through before block 3.
    QMetaObject::invokeMethod(
        &download,
        [&] {
          ++seen;
          EXPECT_EQ(othersEnabled(), QList<bool>(others.size(), false));
          EXPECT_TRUE(download.AbortButton->isEnabled());
        },
        Qt::QueuedConnection);
  };
  download.StartButtonClick();
  download.Job.onChanged = paint;
  EXPECT_EQ(prompter_.texts(), QStringList{"Process completed"});
  EXPECT_EQ(seen, 1);
  EXPECT_EQ(othersEnabled(), allEnabled);
  EXPECT_EQ(download.AbortButton->isEnabled(), abortBefore);
}

TEST_F(ApplicationTest, TheBuildMaskIsAddedToTheFlagWord) {
  DiagFlags = 0x02;
  quelm::RunProgram(app(), [] { return std::unique_ptr<quelm::WindowOwner>{}; });
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

// Hundreds of new high doses after a download leave a list that fits the
// screen and sorts, and lead to the archive.
TEST_F(ApplicationTest, NewHighDosesOfAWindowDownloadAreListedInANoticeThatFitsTheScreen) {
  quelm::test::WorkDirScope workDir(dir_);
  const std::vector<BlockRecord> blocks = MakeSampleBlocks({1500, 4, 0});
  quelm::test::WriteBlocks(dir_, "src.dat", blocks);
  // The notice names the reader's doses of record; the level takes in a third.
  std::vector<double> doses;
  for (const BlockRecord& b : blocks) doses.push_back(float{b.MeasuredDose});
  std::sort(doses.begin(), doses.end());
  const double level = doses[doses.size() * 2 / 3];
  const int high =
      static_cast<int>(std::count_if(doses.begin(), doses.end(), [&](double d) { return d >= level; }));
  ASSERT_GT(high, 200);
  const QString db = dir_.filePath(QStringLiteral("a.sqlite"));
  quelm::IniFile ini(quelm::configFilePath());
  ini.WriteString(QStringLiteral("Dose archive"), QStringLiteral("Database"), db);
  ini.WriteString(QStringLiteral("Dose archive"), QStringLiteral("NotificationLevel"),
                  QString::number(level, 'g', 17));
  ASSERT_TRUE(ini.UpdateFile());
  TDownLoadForm form;
  quelm::ConnectDownloadArchive(form);
  TArchiveForm archive(quelm::ReadArchiveSettings(quelm::configFilePath()));
  quelm::WindowOwner windows;
  windows.lend(archive);
  int notices = 0;
  QString shownBlock;
  prompter_.modalHandlers[QStringLiteral("ListNoticeForm")] = [&](QObject& w) {
    ++notices;
    auto& n = static_cast<TListNoticeForm&>(w);
    EXPECT_EQ(n.windowTitle(), QStringLiteral("High dose: %1 read-outs").arg(high));
    EXPECT_TRUE(n.TextLabel->text().contains(quelm::DoseText(level)));
    QAbstractItemModel* list = n.ListView->model();
    EXPECT_EQ(list->rowCount(), high);
    // Within two thirds of the screen, Close in sight; the list scrolls.
    const QSize screen = QApplication::primaryScreen()->availableGeometry().size();
    EXPECT_LE(n.width(), screen.width() * 2 / 3 + 1);
    EXPECT_LE(n.height(), screen.height() * 2 / 3 + 1);
    n.show();
    QApplication::processEvents();
    EXPECT_TRUE(n.rect().contains(n.CloseButton->geometry()));
    EXPECT_TRUE(n.ListView->verticalScrollBar()->isVisible());
    // Highest dose first by a click on the title.
    n.ListView->sortByColumn(2, Qt::DescendingOrder);
    EXPECT_EQ(list->index(0, 2).data().toString(), quelm::DoseText(doses.back()));
    EXPECT_FALSE(n.ActionButton->isHidden()) << "the archive window exists";
    n.ListView->setCurrentIndex(list->index(0, 0));
    shownBlock = list->index(0, 4).data().toString();
    n.ActionButton->click();
    n.hide();
    return n.result();
  };
  for (int round = 0; round < 2; ++round) {
    form.FileRadioButton->click();
    form.Job.SkimSource(QStringLiteral("src.dat"));
    form.DownLoadFileNameEdit->setText(QStringLiteral("out%1").arg(round));
    form.StartButtonClick();
    // The second time nothing is new: no notice.
    EXPECT_EQ(notices, 1) << round;
    EXPECT_EQ(prompter_.texts(), QStringList{"Process completed"});
    prompter_.clear();
  }
  // "Show in archive": the dosimeter and its read-out in the archive window.
  EXPECT_TRUE(archive.isVisible());
  ASSERT_TRUE(archive.Model.Chosen());
  EXPECT_EQ(archive.Model.Chosen()->kind, quelm::ArchiveEntry::Dosimeter);
  ASSERT_GE(archive.Model.SelectedRow(), 0);
  const quelm::ReadoutRow& row = archive.Model.Rows()[static_cast<size_t>(archive.Model.SelectedRow())];
  EXPECT_EQ(QString::number(row.blockNumber), shownBlock);
  EXPECT_EQ(row.doseUsv, doses.back());
}

TEST_F(ApplicationTest, AnArchivedReadOutOpensInTheMainWindowsDetailView) {
  TPgcForm main;
  TArchiveForm archive(quelm::ArchiveSettings{});
  quelm::ConnectArchiveWindow(main, archive);
  // A data file listed, its newest block selected.
  const QString file = quelm::test::WriteBlocks(dir_, "list.dat", MakeSampleBlocks({5, 2, 0}));
  ASSERT_EQ(main.Content().ImportFile(file), 0);
  ASSERT_GE(main.BlockStringGrid->selectedRow(), 1);
  const QString fileSource = main.SourceDatLabel->text();
  const BlockRecord record = MakeSampleBlocks({3, 8, 40})[1];
  archive.ShowRecord(QByteArray(reinterpret_cast<const char*>(&record), sizeof record), 0);
  ASSERT_TRUE(main.Detail().BlockShown());
  // Where it came from, and no row of the file pretends to be it.
  EXPECT_EQ(main.SourceDatLabel->text(),
            QStringLiteral("Dose archive: reader %1, block 41").arg(quelm::DecodeReadout(record).deviceId));
  EXPECT_EQ(main.Content().SelectedRow(), 0);
  EXPECT_EQ(main.BlockStringGrid->selectedRow(), -1);
  EXPECT_EQ(std::memcmp(&main.Detail().ShownRecord(), &record, sizeof record), 0);
  EXPECT_EQ(main.BlockNumberDatLabel->text(), QStringLiteral("41"));
  EXPECT_EQ(main.PageControl->currentWidget(), main.ChartTabSheet);
  EXPECT_TRUE(main.Chart->isEnabled()) << "the chart commands work on it";
  // A row of the file chosen again: the file is the source again.
  EXPECT_TRUE(main.Content().Select(2).moved);
  EXPECT_EQ(main.SourceDatLabel->text(), fileSource);
  EXPECT_TRUE(prompter_.messages.empty());
}

TEST_F(ApplicationTest, TheChartAdoptsItsWindowAsTheArchivedReadOutsDoseOfRecord) {
  const std::vector<BlockRecord> blocks = MakeSampleBlocks({3, 8, 40});
  quelm::ArchiveSettings settings;
  settings.database = dir_.filePath(QStringLiteral("archive.sqlite"));
  quelm::IniFile ini(quelm::configFilePath());
  ini.WriteString(QStringLiteral("Dose archive"), QStringLiteral("Database"), settings.database);
  ASSERT_TRUE(ini.UpdateFile());
  {
    quelm::ArchiveLocation l;
    QString error, detail;
    int code = 0;
    ASSERT_EQ(quelm::ParseArchiveLocation(settings.database, &l, &error), 0);
    auto a = quelm::DoseArchive::open(l, {}, &code, &detail);
    ASSERT_TRUE(a) << detail.toStdString();
    quelm::ImportResult r;
    ASSERT_EQ(a->importRecords(blocks, QStringLiteral("COM1"), &r), 0);
    ASSERT_EQ(r.added, 3);
  }
  // The program's windows: the chart's command builds the archive window
  // when it is first needed; here it is opened first.
  std::unique_ptr<quelm::WindowOwner> windows = quelm::createProgramWindows();
  TPgcForm& main = *windows->built<TPgcForm>();
  TArchiveForm& archive = *windows->open<TArchiveForm>();
  ASSERT_EQ(archive.Model.Open(), 0);
  EXPECT_EQ(main.ChartAdoptDoseItem->text(), QStringLiteral("Adopt as dose of record…"));
  EXPECT_FALSE(main.ChartAdoptDoseItem->isEnabled()) << "nothing shown";
  // An archived read-out shown in the main window: which one it is travels with it.
  const quelm::ReadoutFields f = quelm::DecodeReadout(blocks[1]);
  ASSERT_EQ(archive.Model.ShowInArchive(f.dosimeter, f.deviceId, f.blockNumber), 0);
  ASSERT_GE(archive.Model.SelectedRow(), 0);
  const qint64 id = archive.Model.Rows()[static_cast<size_t>(archive.Model.SelectedRow())].id;
  ASSERT_EQ(archive.Model.ShowReadout(), 0);
  EXPECT_EQ(main.Detail().ShownBlockKey(), id);
  EXPECT_TRUE(main.ChartAdoptDoseItem->isEnabled());
  // The operator raises the factor by 10 % on the chart, then adopts it.
  ASSERT_EQ(main.ChartItemClick(quelm::ChartAction::NFIncrease10), 0);
  const double shownDose = main.Detail().Evaluation().dose.measDose;
  const EvalMembers m = main.Detail().Members();
  int calls = 0;
  prompter_.modalHandlers[QStringLiteral("ResolutionForm")] = [&](QObject& w) {
    auto& form = static_cast<TResolutionForm&>(w);
    ++calls;
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Adopt as dose of record"));
    EXPECT_TRUE(form.StartEdit->isReadOnly()) << "the chart's window, changed on the chart";
    EXPECT_EQ(form.StartEdit->text(), QString::number(m.evalStart));
    EXPECT_EQ(form.LengthEdit->text(), QString::number(m.evalLength));
    EXPECT_EQ(form.NewDoseDatLabel->text(),
              QStringLiteral("New dose of record: %1 (the reader's dose stays stored)")
                  .arg(quelm::DoseText(shownDose)));
    form.ReasonEdit->setText(QStringLiteral("window and factor checked on the chart"));
    return int{quelm::mrOk};
  };
  main.ChartAdoptDoseItem->trigger();
  EXPECT_EQ(calls, 1);
  // The archive window shows it with its new dose of record and status.
  EXPECT_TRUE(archive.isVisible());
  ASSERT_GE(archive.Model.SelectedRow(), 0);
  const quelm::ReadoutRow& row = archive.Model.Rows()[static_cast<size_t>(archive.Model.SelectedRow())];
  EXPECT_EQ(row.id, id);
  EXPECT_EQ(row.doseUsv, shownDose) << "the dose the chart shows";
  EXPECT_EQ(
      archive.ReadoutView->model()->index(archive.Model.SelectedRow(), quelm::kColStatus).data().toString(),
      QStringLiteral("re-evaluated"));
  // A block of a file shown: nothing to adopt it into.
  const QString file = quelm::test::WriteBlocks(dir_, "list.dat", MakeSampleBlocks({5, 2, 0}));
  ASSERT_EQ(main.Content().ImportFile(file), 0);
  EXPECT_FALSE(main.ChartAdoptDoseItem->isEnabled());
  EXPECT_TRUE(prompter_.messages.empty()) << prompter_.texts().join('\n').toStdString();
}

}  // namespace
