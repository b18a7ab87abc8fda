#pragma once
// A titled box of buttons side by side, each made as makeButton makes it
// (Enter does not press it): a window's "File I/O", "COM I/O" or "Look Up".

#include <QString>
#include <initializer_list>

class QGroupBox;
class QHBoxLayout;
class QPushButton;
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

}  // namespace quelm
