#pragma once
// Icons the main window shows from its first frame, drawn rather than read.
// Reading an image file at start loads every image format plugin to ask
// whether it knows the file, and a style's standard icon also reads the
// icon theme and decodes images of up to 128 pixels for a 20-pixel button:
// together a good part of the start-up's time and memory.
//
// The tool bar: where the desktop names an icon theme, its icons are used;
// without one (Qt then falls back to hicolor, which holds application icons
// only) they are drawn here, in one hand.

#include <QIcon>

class QStyle;

namespace quelm {

enum class ToolBarIcon { Open, Reader, SaveAs, Print };

// The theme's icon of that purpose, else the drawn one.
QIcon toolBarIcon(ToolBarIcon which);
// Always the drawn one, 20 pixels square.
QIcon drawnToolBarIcon(ToolBarIcon which);

// The application's style with the menu bar's overflow button (shown only
// where the window is too narrow for the menus) drawn too: the menu bar asks
// for that icon as it is made. Wraps the style the desktop chose.
QStyle* makeDrawnIconStyle();

}  // namespace quelm
