#pragma once
// The one way to wait for the reader (or for the operator during a reader
// operation). The event loop runs, so received bytes reach the protocol and
// timers tick as they come, and the thread sleeps between events instead of
// polling.

#include <functional>

namespace quelm {

enum class WaitInput {
  Excluded,  // a command exchange: clicks and keys wait until it is over
  Allowed,   // a wait the operator may end (Abort, Exit)
};

// Runs the event loop until done() holds, sleeping between events. done()
// is asked on entry and after each event, so it sees every event's effect at
// once; it keeps working after the program was asked to quit. Without an
// application object there is no loop: it returns, done() still false.
void waitUntil(const std::function<bool()>& done, WaitInput input);

// Lets what is pending through once without waiting (paints, an Abort
// click): between the steps of a long job that does not wait itself.
void letEventsThrough();

}  // namespace quelm
