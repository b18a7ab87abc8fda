#pragma once
// The colours the program's charts and printed tables share, one meaning
// each, so that a bar, a mark or a row reads the same in every window and
// on every page.

#include <QColor>

namespace quelm {

// What counts as usual: a bar, a point within its limits, a read-out used.
inline const QColor kPlainColour{70, 110, 170};
// What stands out without being a fault: a high dose, a warning, a
// read-out left out.
inline const QColor kStandOutColour{230, 120, 0};
// The line the rest is judged by: a mean, a trend, the factor in force.
inline const QColor kReferenceColour{20, 130, 60};
// The background of a table row that stands out.
inline const QColor kMarkedRowColour{252, 228, 228};

}  // namespace quelm
