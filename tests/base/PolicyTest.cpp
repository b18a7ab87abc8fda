#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QMetaObject>
#include <QTemporaryDir>
#include <vector>

#include "base/BusyHook.h"
#include "base/Diag.h"
#include "base/EventWait.h"
#include "base/ServiceLevel.h"

using namespace quelm;

namespace {

TEST(ServiceLevel, OnlyTheKeyInTheConfigurationSwitchesItOn) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("quelm.INI"));
  struct Case {
    const char* content;  // nullptr: no file
    bool on;
  };
  for (const Case c : {Case{"[Safety restrictions]\r\nProfessional=1403726958\r\n", true},
                       Case{"[Safety restrictions]\r\nProfessional=1403726957\r\n", false},
                       Case{"[Safety restrictions]\r\nProfessional=1\r\n", false},
                       Case{"[Other]\r\nProfessional=1403726958\r\n", false}, Case{nullptr, false}}) {
    QFile::remove(path);
    if (c.content) {
      QFile f(path);
      ASSERT_TRUE(f.open(QIODevice::WriteOnly));
      f.write(c.content);
    }
    // The previous case's level must not survive a file that switches it off.
    setServiceLevel(!c.on);
    EXPECT_EQ(loadServiceLevel(path), c.on) << (c.content ? c.content : "no file");
    EXPECT_EQ(serviceLevel(), c.on);
  }
  // The diagnostic flags around the level are not the level's to change.
  DiagFlags = kDiagLog;
  setServiceLevel(true);
  setServiceLevel(false);
  EXPECT_EQ(DiagFlags, kDiagLog);
}

TEST(ServiceLevel, RefusalNamesWhatAndTheFile) {
  EXPECT_EQ(serviceLevelRefusal(QStringLiteral("update"), QStringLiteral("/x/quelm.INI")),
            QStringLiteral("update needs the service level, which the configuration file /x/quelm.INI "
                           "does not switch on"));
}

TEST(BusyHook, NestedOperationsKeepThePointerUntilTheOuterOneEnds) {
  std::vector<bool> told;
  BusyHook hook = [&](bool on) { told.push_back(on); };
  {
    BusyScope outer(hook);
    {
      BusyScope inner(hook);
      inner.release();
      EXPECT_TRUE(hook.busy()) << "the outer operation still holds it";
    }
    EXPECT_EQ(told, std::vector<bool>{true});
    // A question: the pointer goes, and comes back with the answer.
    outer.release();
    outer.release();
    EXPECT_FALSE(hook.busy());
    outer.resume();
    outer.resume();
    // A copy for another job tells the same window of its own scopes only.
    BusyHook copy = hook;
    EXPECT_FALSE(copy.busy());
    // A function set meanwhile is told the end of what runs.
    hook = [&](bool on) { told.push_back(!on); };
  }
  EXPECT_EQ(told, (std::vector<bool>{true, false, true, true}));
  EXPECT_FALSE(hook.busy());

  // Without a function the hook still counts: a list refuses its navigation
  // while it works, shown or not.
  BusyHook unset;
  BusyScope scope(unset);
  EXPECT_TRUE(unset.busy());
}

TEST(EventWait, ReturnsWhenDoneWithoutWaitingForMoreEvents) {
  // Done on entry: nothing is pending, so a loop entered anyway would sleep forever.
  int asked = 0;
  waitUntil([&] { return ++asked > 0; }, WaitInput::Excluded);
  EXPECT_EQ(asked, 1);

  // Each event's effect is seen as soon as it is handled: a chain of queued
  // steps (as received bytes arrive) ends the wait at its last step, not before.
  std::vector<int> steps;
  std::function<void(int)> step = [&](int n) {
    steps.push_back(n);
    if (n < 3)
      QMetaObject::invokeMethod(
          QCoreApplication::instance(), [&, n] { step(n + 1); }, Qt::QueuedConnection);
  };
  QMetaObject::invokeMethod(
      QCoreApplication::instance(), [&] { step(1); }, Qt::QueuedConnection);
  waitUntil([&] { return steps.size() == 3; }, WaitInput::Allowed);
  EXPECT_EQ(steps, (std::vector<int>{1, 2, 3}));
}

TEST(EventWait, StillWaitsAfterTheProgramWasAskedToQuit) {
  // The main window closed during an update: what runs on must still get
  // its replies, not a wait that ends at once as if the reader were silent.
  QEvent quit(QEvent::Quit);
  QCoreApplication::sendEvent(QCoreApplication::instance(), &quit);
  bool replied = false;
  QMetaObject::invokeMethod(
      QCoreApplication::instance(), [&] { replied = true; }, Qt::QueuedConnection);
  waitUntil([&] { return replied; }, WaitInput::Excluded);
  EXPECT_TRUE(replied);
}

TEST(EventWait, AnInnerWaitDoesNotHoldTheOuterOneBeyondItsOwnEnd) {
  // A reader command issued from an event handled during another wait: the
  // outer wait ends once the inner one has, with both conditions met.
  bool inner = false;
  bool outer = false;
  QMetaObject::invokeMethod(
      QCoreApplication::instance(),
      [&] {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [&] { outer = inner = true; }, Qt::QueuedConnection);
        waitUntil([&] { return inner; }, WaitInput::Excluded);
      },
      Qt::QueuedConnection);
  waitUntil([&] { return outer; }, WaitInput::Excluded);
  EXPECT_TRUE(inner);
}

}  // namespace
