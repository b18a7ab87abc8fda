#include "base/EventWait.h"

#include <QCoreApplication>
#include <QEventLoop>

namespace quelm {

void waitUntil(const std::function<bool()>& done, WaitInput input) {
  if (!QCoreApplication::instance()) return;
  const QEventLoop::ProcessEventsFlags flags =
      QEventLoop::WaitForMoreEvents |
      (input == WaitInput::Excluded ? QEventLoop::ExcludeUserInputEvents : QEventLoop::AllEvents);
  // Each call sleeps until something comes and returns once it was handled,
  // so done() sees every event's effect at once. Not a nested
  // QEventLoop::exec(): that one refuses to run at all once the program has
  // been asked to quit (the main window closed during an update or a
  // download), and every later wait would end at once as if it had failed.
  while (!done()) QCoreApplication::processEvents(flags);
}

void letEventsThrough() { QCoreApplication::processEvents(); }

}  // namespace quelm
