#include "base/WindowOwner.h"

namespace quelm {

namespace {
WindowOwner* g_current = nullptr;
}  // namespace

WindowOwner::WindowOwner() : previous_(g_current) { g_current = this; }

WindowOwner::~WindowOwner() {
  clear();
  // Lent windows outlive the owner and no longer report to it.
  for (const QMetaObject::Connection& c : watches_) QObject::disconnect(c);
  if (g_current == this) g_current = previous_;
}

WindowOwner* WindowOwner::current() { return g_current; }

void WindowOwner::remember(std::type_index type, QWidget* window) {
  index_[type] = window;
  // A window that goes by itself (a lent one, one closed for good) is no
  // longer handed out.
  watches_.push_back(QObject::connect(window, &QObject::destroyed, [this, type, window] {
    auto it = index_.find(type);
    if (it != index_.end() && it->second == window) index_.erase(it);
  }));
}

QWidget* WindowOwner::keep(std::type_index type, std::unique_ptr<QWidget> window) {
  if (!window) return nullptr;
  remember(type, window.get());
  windows_.push_back(std::move(window));
  return windows_.back().get();
}

void WindowOwner::clear() {
  // One at a time, the list kept whole while a window goes: a window's
  // destructor may still ask for the windows built before it.
  while (!windows_.empty()) {
    std::unique_ptr<QWidget> going = std::move(windows_.back());
    windows_.pop_back();
    going.reset();
  }
}

}  // namespace quelm
