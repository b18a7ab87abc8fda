#pragma once
// A list-like message as a dialog (base/ListNotice.h): its title with the
// count, its line, the list in a table that scrolls and sorts by a click on
// a column's title, the notice's action for the chosen row and Close. Never
// larger than two thirds of the screen, however long the list.

#include <QDialog>
#include <optional>

#include "base/ListNotice.h"

class QLabel;
class QPushButton;
class QTableView;

class TListNoticeForm : public QDialog {
  Q_OBJECT
 public:
  explicit TListNoticeForm(const quelm::ListNotice& notice, QWidget* parent = nullptr);
  QLabel* TextLabel;
  QTableView* ListView;
  QPushButton* ActionButton;  // hidden when the notice has no action
  QPushButton* CloseButton;
  // The notice's row the action was chosen for; nothing after Close.
  std::optional<int> ChosenRow() const { return chosen_; }

 private:
  quelm::ListNotice notice_;
  quelm::ListNoticeModel model_;
  std::optional<int> chosen_;
};

namespace quelm {
// Shows the notice through the prompter; the row its action was chosen
// for, or nothing.
std::optional<int> showListNotice(const ListNotice& notice);
}  // namespace quelm
