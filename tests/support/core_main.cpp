// Test entry for logic tests: a QCoreApplication and fixed, machine-
// independent regional settings.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLocale>
#include <QTemporaryDir>

#include "base/UserLocale.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // Whatever a test downloads or archives by default lands in a data folder
  // of its own, never in the user's dose archive.
  QTemporaryDir dataHome;
  qputenv("XDG_DATA_HOME", dataHome.path().toLocal8Bit());
  QLocale::setDefault(QLocale::c());
  QCoreApplication app(argc, argv);
  quelm::setUserLocale(quelm::UserLocale{});
  return RUN_ALL_TESTS();
}
