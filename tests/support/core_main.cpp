// Test entry for logic tests: a QCoreApplication and fixed, machine-
// independent regional settings.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLocale>

#include "base/UserLocale.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  QLocale::setDefault(QLocale::c());
  QCoreApplication app(argc, argv);
  quelm::setUserLocale(quelm::UserLocale{});
  return RUN_ALL_TESTS();
}
