// Program entry.
#include <fontconfig/fontconfig.h>

#include <QDir>
#include <system_error>
#include <thread>

#include "base/Config.h"
#include "base/Prompter.h"
#include "base/QtPrompter.h"
#include "base/UserLocale.h"
#include "shell/Application.h"
#include "shell/DrawnIcons.h"

int main(int argc, char** argv) {
  // Reading the font configuration (its files and caches, some milliseconds)
  // needs no display, and connecting to the display needs no fonts: so the
  // fonts are read beside the connection, and the first window's text finds
  // them read. The toolkit's own call then returns at once. A system that
  // cannot start a thread now only loses that head start: the toolkit then
  // reads the fonts itself.
  std::thread fonts;
  try {
    fonts = std::thread([] { FcInit(); });
  } catch (const std::system_error&) {
  }
  quelm::TApplication app(argc, argv);
  if (fonts.joinable()) fonts.join();
  QApplication::setStyle(quelm::makeDrawnIconStyle());
  // The desktop's menu entry and the window belong together: the entry's
  // name for the compositor (the icon follows the first window).
  QGuiApplication::setDesktopFileName(QLatin1String(quelm::kDesktopEntryName));
  quelm::setUserLocale(quelm::systemUserLocale());
  quelm::QtPrompter prompter;
  quelm::setPrompter(&prompter);
  // An installed program starts in whatever folder the desktop chose; data
  // files belong in the storage path, so that is where relative names and
  // the file dialogs start.
  for (const QString& problem : quelm::prepareProgramFiles(quelm::thisProgram(), quelm::thisUsersFolders()))
    quelm::showMessage(quelm::MessageKind::Error, QStringLiteral("Error"), problem);
  QDir::setCurrent(quelm::storagePath());
  const int result = quelm::RunProgram(app, quelm::createProgramWindows);
  quelm::setPrompter(nullptr);
  return result;
}
