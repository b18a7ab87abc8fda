#include "shell/Application.h"

#include <QApplication>
#include <QBoxLayout>
#include <QIcon>
#include <QPushButton>
#include <QStandardPaths>
#include <QTabWidget>
#include <QWidget>
#include <cstring>

#include "archive/ArchiveForm.h"
#include "archive/ArchiveText.h"
#include "archive/ControlChartView.h"
#include "archive/DownloadArchiver.h"
#include "base/Config.h"
#include "base/Diag.h"
#include "base/ErrorCodes.h"
#include "base/ListNoticeForm.h"
#include "base/Process.h"
#include "base/Prompter.h"
#include "base/ServiceLevel.h"
#include "base/WindowOwner.h"
#include "calibration/CalibrationForm.h"
#include "evaluation/BlockFormat.h"
#include "evaluation/ContentModel.h"
#include "evaluation/DetailModel.h"
#include "evaluation/DoseChain.h"
#include "link/OptionsForm.h"
#include "link/RSDebugForm.h"
#include "measurement/AppendForm.h"
#include "measurement/DownLoadForm.h"
#include "parameters/BptSubForm.h"
#include "parameters/DptForm.h"
#include "parameters/LookupForms.h"
#include "service/SrvForm.h"
#include "service/SwUpdate.h"
#include "shell/AboutForm.h"
#include "shell/IoForm.h"
#include "shell/PgcForm.h"

namespace quelm {

namespace {
// A window's reader commands follow the line: off while it is taken from the
// windows (the software update, or a job that lets clicks through between
// its commands, such as a download), also when the window is first built
// then. The connection ends with the window.
template <typename Window>
void followReaderLine(TFrameLink& link, Window* w) {
  if (link.LineTakenFromOthers()) w->SetReaderAvailable(false);
  QObject::connect(&link, &TFrameLink::LineTakenFromOthersChanged, w,
                   [w](bool taken) { w->SetReaderAvailable(!taken); });
}
template <typename Window>
std::unique_ptr<Window> followReaderLine(TFrameLink& link, std::unique_ptr<Window> window) {
  followReaderLine(link, window.get());
  return window;
}

// What must wait while any job (a download between its blocks, the
// software update) holds the line follows the link's LineInUse(): told at
// once when it is built while one holds it, then at each change, until the
// receiver ends.
void followLineInUse(TFrameLink& link, QObject* receiver, const std::function<void(bool)>& tell) {
  if (link.LineInUse()) tell(true);
  QObject::connect(&link, &TFrameLink::LineInUseChanged, receiver, tell);
}

// The menu's windows that are not modal come to the front when asked for.
void showNonModal(QWidget& w) {
  w.show();
  w.raise();
  w.activateWindow();
}

// The windows the main window's menu opens, each with how it is built.
void provideMenuWindows(WindowOwner& owner, TPgcForm& main, TIoForm& io) {
  WindowOwner* o = &owner;
  TPgcForm* m = &main;
  TFrameLink* link = &io.Link;
  // The window cannot reach the evaluation's date conversion itself.
  owner.provide<TBptSubForm>(
      [link] { return followReaderLine(*link, std::make_unique<TBptSubForm>(FormatReadOutTime)); });
  OpenFromMenu(main.DosimeterparameterTable1, [o] { return o->open<TBptSubForm>(); }, Opening::NonModal);
  owner.provide<TDptForm>(
      [link, m] { return followReaderLine(*link, std::make_unique<TDptForm>([m] { return m->MaxPostHeating; })); });
  OpenFromMenu(main.ReaderParameterTable1, [o] { return o->open<TDptForm>(); }, Opening::NonModal);
  OpenFromMenu(main.HelpAboutItem, [o] { return o->open<TAboutForm>(); }, Opening::Modal);
  owner.provide<TOptionsForm>([o, m, link] {
    auto options = std::make_unique<TOptionsForm>(link->COMPortDrv, SavedPortChoiceOf(*m));
    AddArchiveOptions(*o, *options);
    return options;
  });
  OpenFromMenu(main.ComPort1, [o] { return o->open<TOptionsForm>(); }, Opening::Modal);
  // Its OK sets the line up anew and empties its queues: on the line a
  // download or the update holds open, that would cut a block mid-way or
  // change the speed under it.
  followLineInUse(*link, main.ComPort1, [item = main.ComPort1](bool inUse) { item->setEnabled(!inUse); });
  owner.provide<TDownLoadForm>([o, m, link] {
    auto download = followReaderLine(*link, std::make_unique<TDownLoadForm>());
    ConnectDownloadClose(*m, *download);
    ConnectDownloadArchive(*download);
    download->OpenArchive = [o] {
      if (auto* archive = o->open<TArchiveForm>()) showNonModal(*archive);
    };
    download->ArchiveButton->show();
    return download;
  });
  OpenFromMenu(main.Download1, [o] { return o->open<TDownLoadForm>(); }, Opening::NonModal);
  owner.provide<TSrvForm>([link] { return followReaderLine(*link, std::make_unique<TSrvForm>(link)); });
  OpenFromMenu(main.Service1, [o] { return o->open<TSrvForm>(); }, Opening::NonModal);
  // The update would close the port a download holds and reprogram the
  // reader under it: its start waits for the line.
  owner.provide<TSwUpdate>([link] {
    auto update = std::make_unique<TSwUpdate>(*link);
    TSwUpdate* w = update.get();
    followLineInUse(*link, w, [w](bool inUse) { w->SetLineInUse(inUse); });
    return update;
  });
  OpenFromMenu(main.Softwareupdate1, [o] { return o->open<TSwUpdate>(); }, Opening::NonModal);
  owner.provide<TArchiveForm>([m] {
    auto archive = std::make_unique<TArchiveForm>(ReadArchiveSettings(configFilePath()));
    ConnectArchiveWindow(*m, *archive);
    return archive;
  });
  OpenFromMenu(main.DoseArchive1, [o] { return o->open<TArchiveForm>(); }, Opening::NonModal);
  owner.provide<TCalibrationForm>([link] { return followReaderLine(*link, std::make_unique<TCalibrationForm>()); });
  OpenFromMenu(main.Calibration1, [o] { return o->open<TCalibrationForm>(); }, Opening::NonModal);
  // The chart's "Adopt as dose of record…" goes to the archive window,
  // built then if it was not before.
  main.AdoptDoseOfRecord = [o](qint64 readoutId, const BlockRecord& record, const ::EvalMembers& e) {
    if (auto* archive = o->open<TArchiveForm>())
      archive->AdoptDose(readoutId, QByteArray(reinterpret_cast<const char*>(&record), sizeof record),
                         EvaluationWindow{e.evalStart, e.evalLength, e.normFact});
  };
  main.UpdateMenuItems();
}
}  // namespace

std::unique_ptr<WindowOwner> createProgramWindows() {
  auto owner = std::make_unique<WindowOwner>();
  // The main window and the log window, which owns the link, exist from the
  // start; every other window is built when it is first opened.
  auto* main = owner->open<TPgcForm>();
  auto* io = owner->open<TIoForm>();
  // Which configuration file was not used, and why: the main window's box
  // ("INI/CFG file access error") names neither.
  for (const QString& problem : ConfigurationProblems(configFilePath())) io->AppendLine(problem);
  // The saved port and baud rate reach the port now, not when the options
  // window is first built.
  HandSavedPortChoice(io->Link.COMPortDrv, SavedPortChoiceOf(*main));
  // Through the owner: the provider outlives the log window when the windows
  // are taken down after a failed start-up.
  setPortNumberProvider([] {
    const TIoForm* log = BuiltWindow<TIoForm>();
    return log ? static_cast<int>(log->Link.COMPortDrv.PortNumber()) : 0;
  });
  provideMenuWindows(*owner, *main, *io);
  // The desktop's menu entry and the window share the icon, which the first
  // frame can do without.
  owner->afterFirstPaint([] { QApplication::setWindowIcon(ProgramIcon()); });
  // While the line is taken from the windows, every command that would talk
  // to the reader is greyed; the windows stay usable otherwise.
  followReaderLine(io->Link, main);
  return owner;
}

QIcon ProgramIcon() {
  // Straight from the files: a look-up through the icon theme would parse
  // the theme's whole index, more memory than the main window's widgets.
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64}) {
    const QString path = QStandardPaths::locate(
        QStandardPaths::GenericDataLocation,
        QStringLiteral("icons/hicolor/%1x%1/apps/%2.png").arg(size).arg(QLatin1String(kDesktopEntryName)));
    if (!path.isEmpty()) icon.addFile(path, QSize(size, size));
  }
  return icon;
}

TSavedPortChoice SavedPortChoiceOf(TPgcForm& main) {
  TPgcForm* m = &main;
  return TSavedPortChoice{[m] { return static_cast<int>(m->PortNumber); }, [m](int v) { m->PortNumber = v; },
                          [m] { return static_cast<int>(m->BaudRate); },
                          [m](int v) { m->BaudRate = static_cast<uint32_t>(v); }};
}

void OpenFromMenu(QAction* item, std::function<QWidget*()> window, Opening how) {
  item->setEnabled(item->isVisible());
  QObject::connect(item, &QAction::triggered, item, [window = std::move(window), how] {
    QWidget* w = window();
    if (!w) return;
    if (how == Opening::Modal)
      prompter().runModal(*w);
    else
      showNonModal(*w);
  });
}

void ConnectDownloadClose(TPgcForm& main, TDownLoadForm& download) {
  TPgcForm* m = &main;
  download.OnClosed = [m] {
    m->setEnabled(true);
    m->show();
  };
}

void ConnectDownloadArchive(TDownLoadForm& download) {
  auto archiver = std::make_shared<DownloadArchiver>(download.Job);
  const DownloadJob* job = &download.Job;
  download.AfterDownload = [archiver, job](const DownloadResult& result) {
    const ArchiveSettings settings = ReadArchiveSettings(configFilePath());
    const DownloadState& s = job->State();
    const QString source =
        s.source == DownloadSource::File
            ? s.sourceName
            : QStringLiteral("COM%1").arg(currentPortNumber());
    // Switched off, what the download wrote is only let go.
    const DownloadArchiveOutcome o =
        archiver->finish(settings.archiveDownloads ? result : DownloadResult{}, settings, source);
    for (const QString& line : o.lines) LogTrace(line);
    if (o.ran && o.code) {
      LogTrace(QStringLiteral("Dose archive %1: %2").arg(o.where, o.detail));
      ReportError(o.code);
    }
    // Refused records do not make the high doses less worth telling. A
    // long list scrolls in a dialog that fits the screen.
    if (!o.ran || o.result.highDoses.empty()) return;
    ListNotice notice = HighDoseNotice(o.result.highDoses, o.highDosePersons, settings.notificationLevel);
    WindowOwner* windows = WindowOwner::current();
    const bool canShow = windows && windows->canOpen<TArchiveForm>();
    if (canShow) notice.action = QStringLiteral("&Show in archive");
    const std::optional<int> row = showListNotice(notice);
    if (row && canShow) {
      const ReadoutFields& f = o.result.highDoses[static_cast<size_t>(*row)];
      if (auto* archive = windows->open<TArchiveForm>()) archive->ShowInArchive(f.dosimeter, f.deviceId, f.blockNumber);
    }
  };
}

void ConnectArchiveWindow(TPgcForm& main, TArchiveForm& archive) {
  TPgcForm* m = &main;
  archive.ShowRecord = [m](const QByteArray& bytes, qint64 readoutId) {
    // A list operation of the main window owns its data object until it ends.
    if (m->Content().Busy() || bytes.size() != static_cast<qsizetype>(sizeof(BlockRecord))) return;
    BlockRecord record;
    std::memcpy(&record, bytes.constData(), sizeof record);
    // The main window says where the block came from; its list selects none.
    const ReadoutFields f = DecodeReadout(record);
    const QString source =
        QStringLiteral("Dose archive: reader %1, block %2").arg(f.deviceId).arg(f.blockNumber);
    if (ReportFailure(m->Content().ShowOutsideBlock(record, source)) != 0) return;
    // Which read-out it is travels with it, for "Adopt as dose of record…".
    m->Detail().SetShownBlockKey(readoutId);
    m->PageControl->setCurrentWidget(m->ChartTabSheet);
    showNonModal(*m);
  };
  AddControlChart(archive);
}

void AddArchiveOptions(WindowOwner& owner, TOptionsForm& options) {
  auto* group = new TArchiveOptionsGroupBox;
  WindowOwner* o = &owner;
  // A database chosen there is tried by the archive window (built then, if
  // it was not before), which uses it from then on.
  group->Open = [o](const ArchiveSettings& settings) {
    TArchiveForm* archive = o->open<TArchiveForm>();
    return archive ? archive->UseSettings(settings) : ArchiveOutcome{};
  };
  options.AddSection({group, [group] { return group->Accept(); }, [group] { group->Load(); }});
}

void AddControlChart(TArchiveForm& archive) {
  TArchiveForm* a = &archive;
  auto* panel = new ControlChartPanel([a] { return a->Model.Settings(); });
  panel->setMaximumHeight(200);
  archive.AddBelowPages(panel);
}

void ShowException(const std::exception& e) {
  QString text = QString::fromLocal8Bit(e.what());
  if (text.isEmpty()) text = QStringLiteral("Unknown exception");
  showMessage(MessageKind::Error, QApplication::applicationName(), text, Ok, Ok);
}

void ShowUnknownException() {
  showMessage(MessageKind::Error, QApplication::applicationName(), QStringLiteral("Unknown exception"), Ok,
              Ok);
}

bool notifyGuarded(const std::function<bool()>& deliver) {
  try {
    return deliver();
  } catch (const std::exception& e) {
    ShowException(e);
  } catch (...) {
    ShowUnknownException();
  }
  return false;
}

int RunProgram(QApplication& app, const WindowFactory& factory) {
  QApplication::setApplicationName(QStringLiteral("Quelm"));
  IgnoreFileSizeSignal();
  DiagFlags |= kBuildDiagMask;
  std::unique_ptr<WindowOwner> windows;
  try {
    windows = factory();
    if (windows && windows->first()) {
      windows->first()->show();
      app.exec();
    }
  } catch (const std::exception& e) {
    ShowException(e);
  } catch (...) {
    ShowUnknownException();
  }
  // Last made, first gone: the main window writes the configuration file
  // after every other window has been taken down.
  try {
    windows.reset();
  } catch (const std::exception& e) {
    ShowException(e);
  } catch (...) {
    ShowUnknownException();
  }
  return 0;
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  return notifyGuarded([&] { return QApplication::notify(receiver, event); });
}

}  // namespace quelm
