#pragma once
// A message that is a list (the new high doses of a download, ...): a title
// that counts it, a line above it, columns and rows. A window shows it as a
// dialog of bounded size with a sortable list that scrolls
// (base/ListNoticeForm.h), never as a message box that grows with its lines.

#include <QAbstractTableModel>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <vector>

#include "base/Prompter.h"

namespace quelm {

struct ListNotice {
  struct Column {
    QString title;
    bool right = false;  // numbers
  };
  struct Row {
    QStringList cells;
    // What each column sorts by (a number for a dose, the stored form of a
    // time); a missing key sorts by the cell's text.
    QVariantList keys;
  };
  MessageKind kind = MessageKind::Information;
  QString title;  // with the count: "High dose: 219 read-outs"
  QString text;   // the line above the list
  std::vector<Column> columns;
  std::vector<Row> rows;
  // The caption of a button that acts on the chosen row ("Show in
  // archive"); empty: only Close.
  QString action;
};

// The rows of a notice for a view, sortable by any column; row(i) says
// which row of the notice the view's row i is.
class ListNoticeModel : public QAbstractTableModel {
 public:
  explicit ListNoticeModel(const ListNotice& notice, QObject* parent = nullptr);
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  // A column below 0 restores the notice's own order.
  void sort(int column, Qt::SortOrder order) override;
  int noticeRow(int row) const { return order_[static_cast<size_t>(row)]; }

 private:
  const ListNotice& notice_;
  std::vector<int> order_;
};

}  // namespace quelm
