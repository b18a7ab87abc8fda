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

// Runs the event loop until done() holds. done() is asked on entry and each
// time the loop has handled everything pending and would go to sleep, so it
// sees every event's effect at once. Without an event loop (no application
// object) it returns at once and the caller sees done() still false.
void waitUntil(const std::function<bool()>& done, WaitInput input);

// Lets what is pending through once without waiting (paints, an Abort
// click): between the steps of a long job that does not wait itself.
void letEventsThrough();

}  // namespace quelm
