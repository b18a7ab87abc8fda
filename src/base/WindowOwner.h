#pragma once
// The program's windows have one owner. Each window is built the first time
// something asks for it and kept until the owner goes, which takes them down
// last built first. A window with constructor arguments or wiring is
// provided with a recipe; any other is built with its default constructor.
//
// Code that only wants to talk to a window that may exist (a trace monitor,
// a "Show in archive" action) asks built<W>(): it never builds one just to
// find it empty. Code that opens a window asks open<W>().

#include <QWidget>
#include <functional>
#include <map>
#include <memory>
#include <type_traits>
#include <typeindex>
#include <vector>

namespace quelm {

class WindowOwner {
  Q_DISABLE_COPY(WindowOwner)

 public:
  // The program's owner from now until it goes (the latest made, for tests);
  // going, it takes its windows down.
  WindowOwner();
  ~WindowOwner();

  // How W is built when first asked for.
  template <typename W>
  void provide(std::function<std::unique_ptr<W>()> make) {
    recipes_[typeid(W)] = [make = std::move(make)]() -> std::unique_ptr<QWidget> { return make(); };
  }

  // W, built now when it was not before; nullptr when it has no recipe and
  // no default constructor, or when building it threw (the exception goes on).
  template <typename W>
  W* open() {
    if (W* w = built<W>()) return w;
    auto recipe = recipes_.find(typeid(W));
    std::unique_ptr<QWidget> made;
    if (recipe != recipes_.end()) {
      made = recipe->second();
    } else if constexpr (std::is_default_constructible_v<W>) {
      made = std::make_unique<W>();
    }
    return static_cast<W*>(keep(typeid(W), std::move(made)));
  }

  // W when it has been built (or lent), else nullptr.
  template <typename W>
  W* built() const {
    auto it = index_.find(typeid(W));
    return it == index_.end() ? nullptr : static_cast<W*>(it->second);
  }

  // Whether open<W>() can give a W.
  template <typename W>
  bool canOpen() const {
    return built<W>() || recipes_.count(typeid(W)) || std::is_default_constructible_v<W>;
  }

  // A window made elsewhere (a test's) stands for W until it goes; the
  // owner does not take it down.
  template <typename W>
  void lend(W& window) {
    remember(typeid(W), &window);
  }

  // The first window built: the one the program shows at start.
  QWidget* first() const { return windows_.empty() ? nullptr : windows_.front().get(); }

  // Work that the first frame does not need (an icon theme, a database):
  // it runs once, in the order given, from the event loop right after the
  // first window the owner got (built or lent) was first painted, or
  // from the event loop at once when that has happened already.
  void afterFirstPaint(std::function<void()> work);

  // Takes the windows down, last built first (the first built, the main
  // window, writes the configuration file after all others are gone).
  void clear();

  // The program's owner, or nullptr before it is made and after it went.
  static WindowOwner* current();

 private:
  QWidget* keep(std::type_index type, std::unique_ptr<QWidget> window);
  void remember(std::type_index type, QWidget* window);

  std::map<std::type_index, std::function<std::unique_ptr<QWidget>()>> recipes_;
  std::map<std::type_index, QWidget*> index_;
  std::vector<QMetaObject::Connection> watches_;
  std::vector<std::unique_ptr<QWidget>> windows_;  // in the order built
  WindowOwner* previous_ = nullptr;
  std::unique_ptr<QObject> firstPaint_;  // watches the first window until it is painted
  bool painted_ = false;
  std::vector<std::function<void()>> afterPaint_;
  void runAfterPaint();
};

// The program's window W when it has been built, else nullptr.
template <typename W>
W* BuiltWindow() {
  WindowOwner* owner = WindowOwner::current();
  return owner ? owner->built<W>() : nullptr;
}

// The program's window W, built now if need be; nullptr without an owner.
template <typename W>
W* OpenWindow() {
  WindowOwner* owner = WindowOwner::current();
  return owner ? owner->open<W>() : nullptr;
}

}  // namespace quelm
