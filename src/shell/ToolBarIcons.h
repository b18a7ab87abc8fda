#pragma once
// The main window's tool bar icons. Where the desktop names an icon theme,
// its icons are used; without one (Qt then falls back to hicolor, which
// holds application icons only) they are drawn here, in one hand. The
// style's own icons would read the icon theme anyway and decode images of
// up to 128 pixels for a 20-pixel button, a good part of the start-up.

#include <QIcon>

namespace quelm {

enum class ToolBarIcon { Open, Reader, SaveAs, Print };

// The theme's icon of that purpose, else the drawn one.
QIcon toolBarIcon(ToolBarIcon which);
// Always the drawn one, 20 pixels square.
QIcon drawnToolBarIcon(ToolBarIcon which);

}  // namespace quelm
