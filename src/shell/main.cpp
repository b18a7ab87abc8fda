// Program entry.
#include <QDir>

#include "base/Config.h"
#include "base/Prompter.h"
#include "base/QtPrompter.h"
#include "base/UserLocale.h"
#include "shell/Application.h"

int main(int argc, char** argv) {
  quelm::TApplication app(argc, argv);
  quelm::setUserLocale(quelm::systemUserLocale());
  quelm::QtPrompter prompter;
  quelm::setPrompter(&prompter);
  // An installed program starts in whatever folder the desktop chose; data
  // files belong in the storage path, so that is where relative names and
  // the file dialogs start.
  quelm::prepareProgramFiles(quelm::thisProgram(), quelm::thisUsersFolders());
  QDir::setCurrent(quelm::storagePath());
  const int result = quelm::RunProgram(app, quelm::createProgramWindows);
  quelm::setPrompter(nullptr);
  return result;
}
