#pragma once
// Enter (or Return) in an edit of a form moves on to the next control, as
// Tab does: operators type a column of values without reaching for Tab.

#include <initializer_list>

class QPushButton;
class QString;
class QWidget;

namespace quelm {

void enterMovesOn(QWidget* control);
void enterMovesOn(std::initializer_list<QWidget*> controls);

// A push button with an object name that Enter does not press: only a
// dialog's default button takes Enter, so Enter in an edit moves on and
// never fires another button.
QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption);
// The dialog's default button, the one Enter presses.
QPushButton* makeDefaultButton(QWidget* parent, const char* name, const QString& caption);

}  // namespace quelm
