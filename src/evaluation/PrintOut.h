#pragma once
// Printing the main window: its image, stretched into the fitted rectangle,
// on one page.

#include <QRect>

class QPrinter;
class QWidget;

namespace quelm {

// The program's printer; the print dialog's choices stay for the next print.
QPrinter& programPrinter();

// Captures the window, keeps the capture as "Test.bmp" in the working
// directory and prints it on one page. Returns the rectangle it was drawn
// into (printer pixels), empty when nothing was printed.
QRect PrintWindowImage(QWidget& window, QPrinter& printer);

// The print command: the print dialog ("PrintDialog1") through the dialog
// seam, then PrintWindowImage on the program's printer.
void PrintMainWindow(QWidget& window);

}  // namespace quelm
