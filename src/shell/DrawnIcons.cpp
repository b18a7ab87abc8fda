#include "shell/DrawnIcons.h"

#include <QApplication>
#include <QPainter>
#include <QPolygonF>
#include <QPixmap>
#include <QProxyStyle>
#include <QWidget>

namespace quelm {

namespace {

constexpr int kSide = 20;
const QColor kOutline(60, 60, 60);

void drawOpen(QPainter& p) {
  // A folder with its flap open towards the viewer.
  p.setPen(QPen(QColor(150, 100, 20), 1));
  p.setBrush(QColor(230, 170, 60));
  p.drawPolygon(QPolygonF({{1.5, 4.5}, {7.5, 4.5}, {9.5, 6.5}, {16.5, 6.5}, {16.5, 16.5}, {1.5, 16.5}}));
  p.setBrush(QColor(250, 205, 100));
  p.drawPolygon(QPolygonF({{4.5, 9.5}, {18.5, 9.5}, {15.5, 16.5}, {1.5, 16.5}}));
}

void drawReader(QPainter& p) {
  // The serial line's plug: a D-shaped shell with its two rows of pins,
  // and the cable leaving it.
  p.setPen(QPen(kOutline, 1));
  p.setBrush(QColor(120, 150, 200));
  p.drawPolygon(QPolygonF({{1.5, 5.5}, {18.5, 5.5}, {16.5, 13.5}, {3.5, 13.5}}));
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  for (int i = 0; i < 5; ++i) p.drawRect(QRectF(4 + 2.6 * i, 7.5, 1.4, 1.4));
  for (int i = 0; i < 4; ++i) p.drawRect(QRectF(5.3 + 2.6 * i, 10.5, 1.4, 1.4));
  p.setPen(QPen(kOutline, 2));
  p.drawLine(QPointF(10, 14), QPointF(10, 19));
}

void drawSaveAs(QPainter& p) {
  // A diskette: its shutter above, the label below.
  p.setPen(QPen(kOutline, 1));
  p.setBrush(QColor(70, 100, 160));
  p.drawPolygon(QPolygonF({{2.5, 2.5}, {15.5, 2.5}, {17.5, 4.5}, {17.5, 17.5}, {2.5, 17.5}}));
  p.setBrush(QColor(200, 200, 200));
  p.drawRect(QRectF(5.5, 2.5, 8, 5));
  p.setBrush(QColor(60, 60, 60));
  p.drawRect(QRectF(10.5, 3.5, 2, 3));
  p.setBrush(Qt::white);
  p.drawRect(QRectF(4.5, 10.5, 11, 7));
}

void drawPrint(QPainter& p) {
  p.setPen(QPen(kOutline, 1));
  p.setBrush(Qt::white);
  p.drawRect(QRectF(5.5, 1.5, 9, 6));
  p.setBrush(QColor(170, 170, 170));
  p.drawRoundedRect(QRectF(1.5, 6.5, 17, 8), 2, 2);
  p.setBrush(Qt::white);
  p.drawRect(QRectF(5.5, 11.5, 9, 7));
  p.drawLine(QPointF(7, 14.5), QPointF(13, 14.5));
  p.drawLine(QPointF(7, 16.5), QPointF(11, 16.5));
}

// Two chevrons pointing right, in the text colour, as the style's own.
QIcon drawnOverflowIcon(const QColor& colour) {
  QPixmap pm(8, 8);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(colour, 1.2));
  for (double x : {1.0, 4.5}) p.drawPolyline(QPolygonF({QPointF(x, 1.5), QPointF(x + 2.5, 4), QPointF(x, 6.5)}));
  p.end();
  return QIcon(pm);
}

class DrawnIconStyle : public QProxyStyle {
 public:
  using QProxyStyle::QProxyStyle;
  QIcon standardIcon(StandardPixmap icon, const QStyleOption* option, const QWidget* widget) const override {
    if (icon == SP_ToolBarHorizontalExtensionButton)
      return drawnOverflowIcon((widget ? widget->palette() : standardPalette()).color(QPalette::ButtonText));
    return QProxyStyle::standardIcon(icon, option, widget);
  }
};

}  // namespace

QStyle* makeDrawnIconStyle() {
  // The style in use, also where the command line or the environment chose it.
  return new DrawnIconStyle(QApplication::style()->name());
}

QIcon drawnToolBarIcon(ToolBarIcon which) {
  QPixmap pm(kSide, kSide);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  switch (which) {
    case ToolBarIcon::Open: drawOpen(p); break;
    case ToolBarIcon::Reader: drawReader(p); break;
    case ToolBarIcon::SaveAs: drawSaveAs(p); break;
    case ToolBarIcon::Print: drawPrint(p); break;
  }
  p.end();
  return QIcon(pm);
}

QIcon toolBarIcon(ToolBarIcon which) {
  // hicolor, the theme every desktop falls back to and the one Qt takes
  // where no desktop names one, holds no action icons: looking one up there
  // reads the whole theme and never finds it.
  if (QIcon::themeName() != QLatin1String("hicolor")) {
    static const char* const kThemeNames[] = {"document-open", "network-wired", "document-save-as",
                                              "document-print"};
    const QString name = QLatin1String(kThemeNames[static_cast<int>(which)]);
    if (QIcon::hasThemeIcon(name)) return QIcon::fromTheme(name);
  }
  return drawnToolBarIcon(which);
}

}  // namespace quelm
