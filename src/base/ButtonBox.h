#pragma once
// How a window lays out and wires its buttons: a titled box of buttons side
// by side, each made as makeButton makes it (Enter does not press it): a
// window's "File I/O", "COM I/O" or "Look Up"; its closing row; rows and
// columns of its parts; which handler each button's click runs.

#include <QAbstractButton>
#include <QString>
#include <initializer_list>
#include <utility>
#include <variant>

class QBoxLayout;
class QGridLayout;
class QGroupBox;
class QHBoxLayout;
class QLayout;
class QPushButton;
class QVBoxLayout;
class QWidget;

namespace quelm {

struct BoxButton {
  QPushButton** button;
  const char* name;
  QString caption;
};

// A window's closing row: its buttons at the right edge, in the order given.
QHBoxLayout* buttonRow(std::initializer_list<QWidget*> buttons);

// The box gets the object name when one is given.
QGroupBox* buttonBox(QWidget* parent, const QString& title, std::initializer_list<BoxButton> buttons,
                     const char* name = nullptr);

// A row or a column of a window's parts (widgets, layouts, kStretch) in the
// order given. With an owner it is the owner's layout; without, it goes
// into another row or column.
struct Stretch {};
inline constexpr Stretch kStretch{};
using BoxItem = std::variant<QWidget*, QLayout*, Stretch>;
QHBoxLayout* boxRow(std::initializer_list<BoxItem> items, QWidget* owner = nullptr);
QVBoxLayout* boxColumn(std::initializer_list<BoxItem> items, QWidget* owner = nullptr);
// A grid of a window's parts, row by row from the top, each row from the
// left; nullptr leaves its cell empty. With an owner it is the owner's layout.
QGridLayout* gridRows(std::initializer_list<std::initializer_list<QWidget*>> rows, QWidget* owner = nullptr);
// A window of fixed size: its parts in a column as boxColumn lays them out,
// and the window as large as the column wants and no other size.
QVBoxLayout* fixedColumn(std::initializer_list<BoxItem> items, QWidget* owner);

// A window's buttons and the handler each one's click runs, as one table.
template <class Window>
void connectClicks(Window* window, std::initializer_list<std::pair<QAbstractButton*, void (Window::*)()>> clicks) {
  for (const auto& [button, handler] : clicks) QObject::connect(button, &QAbstractButton::clicked, window, handler);
}

}  // namespace quelm
