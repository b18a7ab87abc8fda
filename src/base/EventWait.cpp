#include "base/EventWait.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>

namespace quelm {

void waitUntil(const std::function<bool()>& done, WaitInput input) {
  if (done()) return;
  QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
  if (!dispatcher || !QCoreApplication::instance()) return;
  QEventLoop loop;
  // Asked before the loop sleeps, after the events that woke it were handled;
  // quit() interrupts that sleep, so nothing waits for the next timer tick.
  // A modal box opened meanwhile runs a loop of its own: the question is
  // asked there too, and this loop ends as soon as the box has closed.
  QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, &loop, [&] {
    if (done()) loop.quit();
  });
  loop.exec(input == WaitInput::Excluded ? QEventLoop::ExcludeUserInputEvents : QEventLoop::AllEvents);
}

void letEventsThrough() { QCoreApplication::processEvents(); }

}  // namespace quelm
