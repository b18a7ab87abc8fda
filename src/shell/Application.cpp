#include "shell/Application.h"

#include "link/OptionsForm.h"
#include "link/RSDebugForm.h"
#include "shell/AboutForm.h"
#include "base/Diag.h"
#include "shell/IoForm.h"
#include "shell/PgcForm.h"
#include "base/Process.h"
#include "base/Prompter.h"

namespace quelm {

ProgramWindows createProgramWindows() {
  ProgramWindows w;
  auto* main = new TPgcForm();
  w.emplace_back(main);
  auto* io = new TIoForm();
  w.emplace_back(io);
  // TBptSubForm and TDptForm (parameter windows) are created here.
  w.emplace_back(std::make_unique<TAboutForm>());
  w.emplace_back(std::make_unique<TRSDebugForm>());
  // Creating the options window hands the saved port and baud rate of the
  // main window to the port of the log window, so both exist before it.
  auto* options = new TOptionsForm(io->Link.COMPortDrv, SavedPortChoiceOf(*main));
  w.emplace_back(options);
  ConnectComPortItem(*main, *options);
  setPortNumberProvider([io] { return static_cast<int>(io->Link.COMPortDrv.PortNumber()); });
  // TDownLoadForm, TSrvForm, TLUTListForm, TTypeForm, TTSnForm and TSNForm
  // are created here.
  // The search window and the navigation key list belong to the main window;
  // making them now keeps the start-up order and the first search quick.
  main->SearchForm();
  // TAppendForm is created here.
  main->NavForm();
  // Then TSwUpdate and TErrMaskForm.
  return w;
}

TSavedPortChoice SavedPortChoiceOf(TPgcForm& main) {
  TPgcForm* m = &main;
  return TSavedPortChoice{[m] { return static_cast<int>(m->PortNumber); }, [m](int v) { m->PortNumber = v; },
                          [m] { return static_cast<int>(m->BaudRate); },
                          [m](int v) { m->BaudRate = static_cast<uint32_t>(v); }};
}

void ConnectComPortItem(TPgcForm& main, TOptionsForm& options) {
  main.ComPort1->setEnabled(true);
  QObject::connect(main.ComPort1, &QAction::triggered, &options,
                   [&options] { prompter().runModal(options); });
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
