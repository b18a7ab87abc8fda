#include "base/WindowOwner.h"

#include <QEvent>
#include <QPointer>
#include <QTimer>

namespace quelm {

namespace {
WindowOwner* g_current = nullptr;

// Tells once when its window receives its first paint event.
class FirstPaintWatch : public QObject {
 public:
  FirstPaintWatch(QWidget* window, std::function<void()> painted)
      : window_(window), painted_(std::move(painted)) {
    window->installEventFilter(this);
  }
  ~FirstPaintWatch() override {
    if (window_) window_->removeEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == window_ && event->type() == QEvent::Paint) {
      window_->removeEventFilter(this);
      window_ = nullptr;
      // The pixels go out when this paint's round ends: the work waits for
      // the event loop.
      QTimer::singleShot(0, this, painted_);
    }
    return false;
  }

 private:
  QPointer<QWidget> window_;
  std::function<void()> painted_;
};
}  // namespace

WindowOwner::WindowOwner() : previous_(g_current) { g_current = this; }

WindowOwner::~WindowOwner() {
  firstPaint_.reset();
  clear();
  // Lent windows outlive the owner and no longer report to it.
  for (const QMetaObject::Connection& c : watches_) QObject::disconnect(c);
  if (g_current == this) g_current = previous_;
}

WindowOwner* WindowOwner::current() { return g_current; }

void WindowOwner::remember(std::type_index type, QWidget* window) {
  index_[type] = window;
  if (!firstPaint_ && !painted_) firstPaint_ = std::make_unique<FirstPaintWatch>(window, [this] { runAfterPaint(); });
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

void WindowOwner::afterFirstPaint(std::function<void()> work) {
  afterPaint_.push_back(std::move(work));
  if (painted_ && afterPaint_.size() == 1) QTimer::singleShot(0, firstPaint_.get(), [this] { runAfterPaint(); });
}

void WindowOwner::runAfterPaint() {
  painted_ = true;
  // Work may ask for more work; that runs in a round of its own.
  std::vector<std::function<void()>> due;
  due.swap(afterPaint_);
  for (const std::function<void()>& work : due) work();
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
