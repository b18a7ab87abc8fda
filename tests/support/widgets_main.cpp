// Test entry for window tests: offscreen platform unless the caller chose
// one (e.g. xcb under Xvfb), and fixed regional settings.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLocale>
#include <QTemporaryDir>

#include "base/UserLocale.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // Whatever a test downloads or archives by default lands in a data folder
  // of its own, never in the user's dose archive.
  QTemporaryDir dataHome;
  qputenv("XDG_DATA_HOME", dataHome.path().toLocal8Bit());
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QLocale::setDefault(QLocale::c());
  QApplication app(argc, argv);
  quelm::setUserLocale(quelm::UserLocale{});
  return RUN_ALL_TESTS();
}
