#pragma once
// The busy pointer for the length of a reader or file operation; put back
// on every way out, or earlier before a message box.

#include <QApplication>

namespace quelm {

class BusyCursor {
 public:
  BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~BusyCursor() { release(); }
  void release() {
    if (held_) QApplication::restoreOverrideCursor();
    held_ = false;
  }
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;

 private:
  bool held_ = true;
};

}  // namespace quelm
