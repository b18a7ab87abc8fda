#pragma once
// Texts that must be read whole in a place of fixed width: the values of the
// main window's panels (all six error codes, a ten-digit cursor value with
// its percentage) and the formula hints in the status bar. A text that does
// not fit is drawn narrower, then smaller, down to a size still legible;
// only beyond that is it cut, with an ellipsis, its hint holding it whole.

#include <QFont>
#include <QLabel>
#include <QStatusBar>
#include <QString>

namespace quelm {

// The smallest pixel size a fitted text is drawn at.
inline constexpr int kMinFittedPixelSize = 9;

// base itself when the text fits width; otherwise the same face narrowed and
// then made smaller until it fits, or the narrowest and smallest one.
QFont FittingFont(const QFont& base, const QString& text, int width);

// Whether text drawn with font fits width.
bool TextFits(const QFont& font, const QString& text, int width);

// A fixed-pitch face (blanks and digits as wide as any letter) whose lines
// are at most lineHeight pixels high, at the largest size up to maxPixelSize:
// the platform's own face first, then the common ones. Numbers padded with
// blanks line up in it. With a widest text, that text must also fit width.
QFont FixedPitchFont(int lineHeight, int maxPixelSize, const QString& widest = {}, int width = 0);

// What a grid cell takes of its column besides its text: the text margins on
// both sides and the grid line.
inline constexpr int kGridCellPadding = 8;

// A plain-text label that draws its text with a fitting font.
class FitLabel : public QLabel {
  Q_OBJECT

 public:
  explicit FitLabel(QWidget* parent = nullptr) : QLabel(parent) {}
  // The font the text is drawn with at the label's present width.
  QFont DrawnFont() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

// A status bar whose messages (the hints) are drawn with a fitting font.
class FitStatusBar : public QStatusBar {
  Q_OBJECT

 public:
  explicit FitStatusBar(QWidget* parent = nullptr) : QStatusBar(parent) {}
  // The room of a message and the font it is drawn with there.
  int MessageWidth() const;
  QFont DrawnFont() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace quelm
