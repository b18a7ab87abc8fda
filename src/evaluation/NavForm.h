#pragma once
// The navigation key list: a reminder of the keys that move through the
// content list. Clicking a line closes it.

#include <QDialog>

class QListWidget;

class TNavForm : public QDialog {
  Q_OBJECT

 public:
  explicit TNavForm(QWidget* parent = nullptr);

  QListWidget* NavListBox;

  // Shows the list modally (through the prompter).
  void Execute();
  void NavListBoxClick();
};
