#include "base/ListNoticeForm.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTableView>
#include <QVBoxLayout>

#include "base/ButtonBox.h"
#include "base/EnterMovesOn.h"

TListNoticeForm::TListNoticeForm(const quelm::ListNotice& notice, QWidget* parent)
    : QDialog(parent), notice_(notice), model_(notice_) {
  setObjectName(QStringLiteral("ListNoticeForm"));
  setWindowTitle(notice_.title);
  auto* icon = new QLabel(this);
  const QStyle::StandardPixmap pixmap =
      notice_.kind == quelm::MessageKind::Error     ? QStyle::SP_MessageBoxCritical
      : notice_.kind == quelm::MessageKind::Warning ? QStyle::SP_MessageBoxWarning
                                                    : QStyle::SP_MessageBoxInformation;
  const int side = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
  icon->setPixmap(style()->standardIcon(pixmap, nullptr, this).pixmap(side, side));
  TextLabel = new QLabel(notice_.text, this);
  TextLabel->setObjectName(QStringLiteral("TextLabel"));
  TextLabel->setWordWrap(true);
  TextLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
  ListView = new QTableView(this);
  ListView->setObjectName(QStringLiteral("ListView"));
  ListView->setModel(&model_);
  ListView->setSelectionBehavior(QAbstractItemView::SelectRows);
  ListView->setSelectionMode(QAbstractItemView::SingleSelection);
  ListView->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ListView->setWordWrap(false);
  ListView->verticalHeader()->setVisible(false);
  ListView->verticalHeader()->setDefaultSectionSize(ListView->fontMetrics().height() + 6);
  // The notice's own order until a title is clicked.
  ListView->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
  ListView->setSortingEnabled(true);
  ListView->resizeColumnsToContents();
  ActionButton = new QPushButton(notice_.action, this);
  ActionButton->setObjectName(QStringLiteral("ActionButton"));
  ActionButton->setVisible(!notice_.action.isEmpty());
  ActionButton->setEnabled(false);
  CloseButton = quelm::makeDefaultButton(this, "CloseButton", QStringLiteral("&Close"));
  auto* top = new QHBoxLayout;
  top->addWidget(icon, 0, Qt::AlignTop);
  top->addWidget(TextLabel, 1);
  auto* buttons = quelm::buttonRow({ActionButton, CloseButton});
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(ListView, 1);
  layout->addLayout(buttons);

  connect(ListView->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) { ActionButton->setEnabled(current.isValid()); });
  const auto act = [this] {
    const QModelIndex current = ListView->selectionModel()->currentIndex();
    if (!current.isValid()) return;
    chosen_ = model_.noticeRow(current.row());
    done(quelm::mrYes);
  };
  connect(ActionButton, &QPushButton::clicked, this, act);
  connect(ListView, &QTableView::doubleClicked, this, [this, act] {
    if (!notice_.action.isEmpty()) act();
  });
  connect(CloseButton, &QPushButton::clicked, this, [this] { done(quelm::mrOk); });

  // As large as the list wants, within two thirds of the screen: the list
  // scrolls, the buttons stay in sight.
  const QMargins margins = layout->contentsMargins();
  const int width = ListView->horizontalHeader()->length() + ListView->frameWidth() * 2 +
                    style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, ListView) + margins.left() +
                    margins.right() + 8;
  const int rows = std::min(model_.rowCount(), 40);
  const int height = ListView->horizontalHeader()->height() +
                     rows * ListView->verticalHeader()->defaultSectionSize() + ListView->frameWidth() * 2 + 4;
  ListView->setMinimumHeight(ListView->horizontalHeader()->height() +
                             std::min(rows, 5) * ListView->verticalHeader()->defaultSectionSize());
  const QSize wanted = sizeHint().expandedTo(QSize(width, height + TextLabel->sizeHint().height() + 90));
  const QScreen* screen = QApplication::primaryScreen();
  const QSize most = screen ? screen->availableGeometry().size() * 2 / 3 : QSize(800, 600);
  resize(wanted.boundedTo(most).expandedTo(QSize(360, 200)));
  ListView->horizontalHeader()->setStretchLastSection(true);
}

namespace quelm {

std::optional<int> showListNotice(const ListNotice& notice) {
  TListNoticeForm form(notice, QApplication::activeWindow());
  if (prompter().runModal(form) != mrYes) return std::nullopt;
  return form.ChosenRow();
}

}  // namespace quelm
