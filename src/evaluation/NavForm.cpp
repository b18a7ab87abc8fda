#include "evaluation/NavForm.h"

#include <QApplication>
#include <QListWidget>
#include <QPainter>
#include <QRegularExpression>
#include <QStyledItemDelegate>
#include <QVBoxLayout>
#include <algorithm>

#include "base/Prompter.h"

namespace {

// A line is a command and its key, apart by a run of blanks that lined the
// keys up in the face the lines were written for.
const QRegularExpression& commandAndKey() {
  static const QRegularExpression re(QStringLiteral("^(.*\\S)\\s{2,}(\\S+)$"));
  return re;
}

// Draws the command on the left and the key right-aligned, so that the keys
// line up in any face; the line's text stays as it is.
class KeyColumnDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    const QRegularExpressionMatch m = commandAndKey().match(index.data().toString());
    if (!m.hasMatch()) {
      QStyledItemDelegate::paint(painter, option, index);
      return;
    }
    QStyleOptionViewItem o = option;
    initStyleOption(&o, index);
    o.text.clear();
    const QWidget* view = option.widget;
    QStyle* style = view ? view->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &o, painter, view);
    const QRect text = style->subElementRect(QStyle::SE_ItemViewItemText, &o, view);
    const QPalette::ColorRole role =
        (option.state & QStyle::State_Selected) ? QPalette::HighlightedText : QPalette::Text;
    style->drawItemText(painter, text, Qt::AlignLeft | Qt::AlignVCenter, option.palette, true, m.captured(1),
                        role);
    style->drawItemText(painter, text, Qt::AlignRight | Qt::AlignVCenter, option.palette, true, m.captured(2),
                        role);
  }

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    const QRegularExpressionMatch m = commandAndKey().match(index.data().toString());
    if (m.hasMatch()) {
      // Room for both parts and a gap of a few blanks between them.
      const QFontMetrics fm(option.font);
      const int parts = fm.horizontalAdvance(m.captured(1) + QStringLiteral("    ") + m.captured(2));
      size.setWidth(std::max(size.width(), parts + 2 * fm.averageCharWidth()));
    }
    return size;
  }
};

}  // namespace

TNavForm::TNavForm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("NavForm"));
  setWindowTitle(QStringLiteral("Navigation"));
  NavListBox = new QListWidget(this);
  NavListBox->setObjectName(QStringLiteral("NavListBox"));
  NavListBox->setItemDelegate(new KeyColumnDelegate(NavListBox));
  NavListBox->addItems({QStringLiteral("First Block         Home"), QStringLiteral("Next Page          PgUp"),
                        QStringLiteral("Previous Page   PgDown"), QStringLiteral("Last Block          End"),
                        QStringLiteral("Next Item            Up"), QStringLiteral("Previous Item    Down")});
  // Just the six lines: a reminder, not a window to work in.
  const int frame = 2 * NavListBox->frameWidth();
  NavListBox->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  NavListBox->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  NavListBox->setFixedSize(NavListBox->sizeHintForColumn(0) + frame + 8,
                           NavListBox->sizeHintForRow(0) * NavListBox->count() + frame + 4);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(NavListBox);
  connect(NavListBox, &QListWidget::itemClicked, this, &TNavForm::NavListBoxClick);
}

void TNavForm::Execute() { quelm::prompter().runModal(*this); }

void TNavForm::NavListBoxClick() { accept(); }
