#include "shell/Application.h"

#include "shell/AboutForm.h"
#include "shell/Diag.h"
#include "shell/IoForm.h"
#include "shell/PgcForm.h"
#include "shell/Prompter.h"

namespace quelm {

ProgramWindows createProgramWindows() {
  ProgramWindows w;
  w.emplace_back(std::make_unique<TPgcForm>());
  w.emplace_back(std::make_unique<TIoForm>());
  // TBptSubForm and TDptForm (parameter windows) are created here.
  w.emplace_back(std::make_unique<TAboutForm>());
  // Then, in this order: TRSDebugForm, TOptionsForm (it hands PortNumber and
  // BaudRate of the main window to the port of TIoForm, so both must exist),
  // TDownLoadForm, TSrvForm, TLUTListForm, TTypeForm, TTSnForm, TSNForm,
  // TSearchForm, TAppendForm, TNavForm, TSwUpdate, TErrMaskForm.
  return w;
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
