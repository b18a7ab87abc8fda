#pragma once
// Enter (or Return) in an edit of a form moves on to the next control, as
// Tab does: operators type a column of values without reaching for Tab.

#include <initializer_list>

class QWidget;

namespace quelm {

void enterMovesOn(QWidget* control);
void enterMovesOn(std::initializer_list<QWidget*> controls);

}  // namespace quelm
