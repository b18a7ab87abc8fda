#pragma once
// How a core job tells whoever shows it that it is working with the reader
// or a file: the window shows the busy pointer meanwhile (BusyCursor), the
// content list ignores its navigation. Each job has one hook, whose
// function the window sets; each operation holds it with a BusyScope.
//
// Scopes nest: the function is told true when the first scope takes the
// hook and false when the last gives it back, so an operation made of
// others keeps the pointer from its start to its end. A scope gives the
// hook back early before a question or a failure's box (release) and may
// take it again once the question is answered (resume).

#include <concepts>
#include <cstddef>
#include <functional>
#include <utility>

namespace quelm {

class BusyHook {
 public:
  BusyHook() = default;
  BusyHook(std::nullptr_t) {}
  template <std::invocable<bool> F>
  BusyHook(F tell) : tell_(std::move(tell)) {}
  // The function is copied, never the count: a copy given to another job
  // tells the same window about that job's own scopes, and a function set
  // while an operation runs takes over its scopes.
  BusyHook(const BusyHook& other) : tell_(other.tell_) {}
  BusyHook& operator=(const BusyHook& other) {
    tell_ = other.tell_;
    return *this;
  }

  // Whether an operation holds the hook.
  bool busy() const { return holders_ > 0; }

 private:
  friend class BusyScope;
  void take() {
    if (holders_++ == 0 && tell_) tell_(true);
  }
  void giveBack() {
    if (--holders_ == 0 && tell_) tell_(false);
  }

  std::function<void(bool)> tell_;
  int holders_ = 0;
};

class BusyScope {
 public:
  explicit BusyScope(BusyHook& hook) : hook_(hook) { hook_.take(); }
  ~BusyScope() { release(); }
  // Gives the hook back: before a question or a failure's box.
  void release() {
    if (!held_) return;
    held_ = false;
    hook_.giveBack();
  }
  // Takes it again after the question.
  void resume() {
    if (held_) return;
    held_ = true;
    hook_.take();
  }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  BusyHook& hook_;
  bool held_ = true;
};

}  // namespace quelm
