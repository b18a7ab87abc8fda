#include "base/FitText.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QPainter>
#include <QStringList>
#include <QStyle>
#include <QStyleOption>

namespace quelm {

namespace {

// Narrowing keeps the size and the look longer than shrinking does.
constexpr int kStretches[] = {QFont::SemiCondensed, QFont::Condensed};
// QStatusBar keeps this much room before a message.
constexpr int kMessageIndent = 6;

int pixelSizeOf(const QFont& font) { return QFontInfo(font).pixelSize(); }

}  // namespace

bool TextFits(const QFont& font, const QString& text, int width) {
  return QFontMetrics(font).horizontalAdvance(text) <= width;
}

QFont FittingFont(const QFont& base, const QString& text, int width) {
  if (text.isEmpty() || TextFits(base, text, width)) return base;
  QFont f = base;
  for (const int stretch : kStretches) {
    f.setStretch(stretch);
    if (TextFits(f, text, width)) return f;
  }
  f.setStretch(QFont::SemiCondensed);
  for (int size = pixelSizeOf(base) - 1; size >= kMinFittedPixelSize; --size) {
    f.setPixelSize(size);
    if (TextFits(f, text, width)) return f;
  }
  f.setStretch(QFont::Condensed);
  return f;
}

namespace {

bool evenPitch(const QFont& f) {
  const QFontMetrics m(f);
  const int digit = m.horizontalAdvance(QLatin1Char('0'));
  return m.horizontalAdvance(QLatin1Char(' ')) == digit && m.horizontalAdvance(QLatin1Char('M')) == digit;
}

}  // namespace

QFont FixedPitchFont(int lineHeight, int maxPixelSize, const QString& widest, int width) {
  const QFont platform = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  const QStringList families = {QFontInfo(platform).family(), QStringLiteral("DejaVu Sans Mono"),
                                QStringLiteral("Noto Mono"), QStringLiteral("Liberation Mono")};
  QFont best = platform;
  best.setPixelSize(kMinFittedPixelSize);
  int bestSize = 0;
  for (const QString& family : families) {
    if (!QFontDatabase::hasFamily(family)) continue;
    QFont f(family);
    for (int pixels = maxPixelSize; pixels > bestSize && pixels >= kMinFittedPixelSize; --pixels) {
      f.setPixelSize(pixels);
      const QFontMetrics metrics(f);
      if (evenPitch(f) && metrics.height() <= lineHeight &&
          (widest.isEmpty() || metrics.horizontalAdvance(widest) <= width)) {
        best = f;
        bestSize = pixels;
        break;
      }
    }
  }
  return best;
}

QFont FitLabel::DrawnFont() const {
  return FittingFont(font(), text(), contentsRect().width() - 2 * margin());
}

void FitLabel::paintEvent(QPaintEvent* event) {
  const QRect room = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
  const QFont drawn = FittingFont(font(), text(), room.width());
  if (drawn == font()) {
    QLabel::paintEvent(event);
    return;
  }
  QPainter p(this);
  drawFrame(&p);
  p.setFont(drawn);
  const QString shown = QFontMetrics(drawn).elidedText(text(), Qt::ElideRight, room.width());
  style()->drawItemText(&p, room, QStyle::visualAlignment(layoutDirection(), alignment()), palette(),
                        isEnabled(), shown, foregroundRole());
}

int FitStatusBar::MessageWidth() const {
  int grip = 0;
  if (isSizeGripEnabled()) {
    QStyleOption option;
    option.initFrom(this);
    grip = style()->pixelMetric(QStyle::PM_SizeGripSize, &option, this);
  }
  return width() - 2 * kMessageIndent - grip;
}

QFont FitStatusBar::DrawnFont() const { return FittingFont(font(), currentMessage(), MessageWidth()); }

void FitStatusBar::paintEvent(QPaintEvent* event) {
  const QString message = currentMessage();
  if (message.isEmpty() || TextFits(font(), message, MessageWidth())) {
    QStatusBar::paintEvent(event);
    return;
  }
  QPainter p(this);
  QStyleOption option;
  option.initFrom(this);
  style()->drawPrimitive(QStyle::PE_PanelStatusBar, &option, &p, this);
  const QFont drawn = DrawnFont();
  p.setFont(drawn);
  p.setPen(palette().windowText().color());
  const QRect room(kMessageIndent, 0, MessageWidth(), height());
  p.drawText(room, Qt::AlignLeading | Qt::AlignVCenter | Qt::TextSingleLine,
             QFontMetrics(drawn).elidedText(message, Qt::ElideRight, room.width()));
}

}  // namespace quelm
