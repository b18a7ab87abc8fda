#include "base/EnterMovesOn.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QWidget>

namespace quelm {
namespace {

class EnterFilter : public QObject {
 public:
  explicit EnterFilter(QWidget* control) : QObject(control) { control->installEventFilter(this); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) return false;
    // A Tab given to the window takes the window's own focus order, with
    // the controls it skips (disabled, hidden, no tab focus) skipped here too.
    QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
    QCoreApplication::sendEvent(static_cast<QWidget*>(watched)->window(), &tab);
    return true;
  }
};

QPushButton* namedButton(QWidget* parent, const char* name, const QString& caption) {
  auto* b = new QPushButton(caption, parent);
  b->setObjectName(QLatin1String(name));
  return b;
}

}  // namespace

void enterMovesOn(QWidget* control) { new EnterFilter(control); }

void enterMovesOn(std::initializer_list<QWidget*> controls) {
  for (QWidget* c : controls) enterMovesOn(c);
}

QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption) {
  QPushButton* b = namedButton(parent, name, caption);
  b->setAutoDefault(false);
  return b;
}

QPushButton* makeDefaultButton(QWidget* parent, const char* name, const QString& caption) {
  QPushButton* b = namedButton(parent, name, caption);
  b->setDefault(true);
  return b;
}

}  // namespace quelm
