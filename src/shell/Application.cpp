#include "shell/Application.h"

#include <QBoxLayout>
#include <QPushButton>
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
// A window's reader commands follow the line: off while the software update
// holds it. The connection ends with the window.
template <typename Window>
void followReaderLine(TFrameLink& link, Window* window) {
  QObject::connect(&link, &TFrameLink::LoaderSessionChanged, window,
                   [window](bool running) { window->SetReaderAvailable(!running); });
}

// The menu's windows that are not modal come to the front when asked for.
void showNonModal(QWidget& w) {
  w.show();
  w.raise();
  w.activateWindow();
}
}  // namespace

ProgramWindows createProgramWindows() {
  ProgramWindows w;
  auto* main = new TPgcForm();
  w.emplace_back(main);
  auto* io = new TIoForm();
  w.emplace_back(io);
  // Which configuration file was not used, and why: the main window's box
  // ("INI/CFG file access error") names neither.
  if (const QString problem = ConfigFileProblem(configFilePath()); !problem.isEmpty())
    io->AppendLine(problem);
  // The window cannot reach the evaluation's date conversion itself.
  auto* bpt = new TBptSubForm(FormatReadOutTime);
  w.emplace_back(bpt);
  OpenFromMenu(main->DosimeterparameterTable1, *bpt, Opening::NonModal);
  auto* dpt = new TDptForm([main] { return main->MaxPostHeating; });
  w.emplace_back(dpt);
  OpenFromMenu(main->ReaderParameterTable1, *dpt, Opening::NonModal);
  auto* about = new TAboutForm();
  w.emplace_back(about);
  OpenFromMenu(main->HelpAboutItem, *about, Opening::Modal);
  w.emplace_back(std::make_unique<TRSDebugForm>());
  // Creating the options window hands the saved port and baud rate of the
  // main window to the port of the log window, so both exist before it.
  auto* options = new TOptionsForm(io->Link.COMPortDrv, SavedPortChoiceOf(*main));
  w.emplace_back(options);
  OpenFromMenu(main->ComPort1, *options, Opening::Modal);
  // Through the program-wide pointer: the provider outlives the log window
  // when the windows are taken down after a failed start-up.
  setPortNumberProvider([] { return IoForm ? static_cast<int>(IoForm->Link.COMPortDrv.PortNumber()) : 0; });
  auto* download = new TDownLoadForm();
  w.emplace_back(download);
  OpenFromMenu(main->Download1, *download, Opening::NonModal);
  ConnectDownloadClose(*main, *download);
  ConnectDownloadArchive(*download);
  auto* service = new TSrvForm(&io->Link);
  w.emplace_back(service);
  OpenFromMenu(main->Service1, *service, Opening::NonModal);
  w.emplace_back(std::make_unique<TLUTListForm>());
  w.emplace_back(std::make_unique<TTypeForm>());
  w.emplace_back(std::make_unique<TTSnForm>());
  w.emplace_back(std::make_unique<TSNForm>());
  // The search window and the navigation key list belong to the main window;
  // making them now keeps the start-up order and the first search quick.
  main->SearchForm();
  w.emplace_back(std::make_unique<TAppendForm>());
  main->NavForm();
  auto* swUpdate = new TSwUpdate(io->Link);
  w.emplace_back(swUpdate);
  OpenFromMenu(main->Softwareupdate1, *swUpdate, Opening::NonModal);
  w.emplace_back(std::make_unique<TErrMaskForm>());
  auto* archive = new TArchiveForm(ReadArchiveSettings(configFilePath()));
  w.emplace_back(archive);
  OpenFromMenu(main->DoseArchive1, *archive, Opening::NonModal);
  ConnectArchiveWindow(*main, *archive, *download, *options);
  auto* calibration = new TCalibrationForm();
  w.emplace_back(calibration);
  OpenFromMenu(main->Calibration1, *calibration, Opening::NonModal);
  // While the software update holds the line, every command that would talk
  // to the reader is greyed; the windows stay usable otherwise.
  followReaderLine(io->Link, main);
  followReaderLine(io->Link, bpt);
  followReaderLine(io->Link, dpt);
  followReaderLine(io->Link, download);
  followReaderLine(io->Link, service);
  followReaderLine(io->Link, calibration);
  return w;
}

TSavedPortChoice SavedPortChoiceOf(TPgcForm& main) {
  TPgcForm* m = &main;
  return TSavedPortChoice{[m] { return static_cast<int>(m->PortNumber); }, [m](int v) { m->PortNumber = v; },
                          [m] { return static_cast<int>(m->BaudRate); },
                          [m](int v) { m->BaudRate = static_cast<uint32_t>(v); }};
}

void OpenFromMenu(QAction* item, QWidget& window, Opening how) {
  item->setEnabled(item->isVisible());
  QObject::connect(item, &QAction::triggered, &window, [&window, how] {
    if (how == Opening::Modal)
      prompter().runModal(window);
    else
      showNonModal(window);
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
            : QStringLiteral("COM%1").arg(IoForm ? int(IoForm->Link.COMPortDrv.PortNumber()) : 0);
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
    if (ArchiveForm) notice.action = QStringLiteral("&Show in archive");
    const std::optional<int> row = showListNotice(notice);
    if (row && ArchiveForm) {
      const ReadoutFields& f = o.result.highDoses[static_cast<size_t>(*row)];
      ArchiveForm->ShowInArchive(f.dosimeter, f.deviceId, f.blockNumber);
    }
  };
}

void ConnectArchiveWindow(TPgcForm& main, TArchiveForm& archive, TDownLoadForm& download,
                          TOptionsForm& options) {
  download.OpenArchive = [&archive] { showNonModal(archive); };
  download.ArchiveButton->show();
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
  TArchiveForm* adopting = &archive;
  main.AdoptDoseOfRecord = [adopting](qint64 readoutId, const BlockRecord& record, const ::EvalMembers& m) {
    adopting->AdoptDose(readoutId, QByteArray(reinterpret_cast<const char*>(&record), sizeof record),
                        EvaluationWindow{m.evalStart, m.evalLength, m.normFact});
  };
  main.UpdateMenuItems();
  auto* group = new TArchiveOptionsGroupBox;
  TArchiveForm* a = &archive;
  group->Open = [a](const ArchiveSettings& settings) { return a->UseSettings(settings); };
  options.AddSection({group, [group] { return group->Accept(); }, [group] { group->Load(); }});
  AddControlChart(archive);
}

void AddControlChart(TArchiveForm& archive) {
  TArchiveForm* a = &archive;
  auto* panel = new ControlChartPanel([a] { return a->Model.Settings(); });
  panel->setMaximumHeight(230);
  if (auto* column = qobject_cast<QBoxLayout*>(archive.layout())) column->insertWidget(2, panel);
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
  ProgramWindows windows;
  try {
    windows = factory();
    if (!windows.empty() && windows.front()) {
      windows.front()->show();
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
    while (!windows.empty()) windows.pop_back();
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
