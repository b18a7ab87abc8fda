// Program entry.
#include "base/Prompter.h"
#include "base/QtPrompter.h"
#include "base/UserLocale.h"
#include "shell/Application.h"

int main(int argc, char** argv) {
  quelm::TApplication app(argc, argv);
  quelm::setUserLocale(quelm::systemUserLocale());
  quelm::QtPrompter prompter;
  quelm::setPrompter(&prompter);
  const int result = quelm::RunProgram(app, quelm::createProgramWindows);
  quelm::setPrompter(nullptr);
  return result;
}
