#include "base/ListNotice.h"

#include <algorithm>
#include <numeric>

namespace quelm {

ListNoticeModel::ListNoticeModel(const ListNotice& notice, QObject* parent)
    : QAbstractTableModel(parent), notice_(notice), order_(notice.rows.size()) {
  std::iota(order_.begin(), order_.end(), 0);
}

int ListNoticeModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(order_.size());
}

int ListNoticeModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(notice_.columns.size());
}

QVariant ListNoticeModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount()) return {};
  const ListNotice::Row& row = notice_.rows[static_cast<size_t>(noticeRow(index.row()))];
  if (role == Qt::DisplayRole)
    return index.column() < row.cells.size() ? row.cells[index.column()] : QString();
  if (role == Qt::TextAlignmentRole)
    return notice_.columns[static_cast<size_t>(index.column())].right ? int{Qt::AlignRight | Qt::AlignVCenter}
                                                                      : int{Qt::AlignLeft | Qt::AlignVCenter};
  return {};
}

QVariant ListNoticeModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= columnCount()) return {};
  const ListNotice::Column& c = notice_.columns[static_cast<size_t>(section)];
  if (role == Qt::DisplayRole) return c.title;
  if (role == Qt::TextAlignmentRole)
    return c.right ? int{Qt::AlignRight | Qt::AlignVCenter} : int{Qt::AlignLeft | Qt::AlignVCenter};
  return {};
}

void ListNoticeModel::sort(int column, Qt::SortOrder order) {
  beginResetModel();
  std::iota(order_.begin(), order_.end(), 0);
  if (column >= 0 && column < columnCount()) {
    const auto key = [&](int r) {
      const ListNotice::Row& row = notice_.rows[static_cast<size_t>(r)];
      if (column < row.keys.size() && row.keys[column].isValid()) return row.keys[column];
      return QVariant(column < row.cells.size() ? row.cells[column] : QString());
    };
    std::stable_sort(order_.begin(), order_.end(), [&](int a, int b) {
      const QPartialOrdering c = QVariant::compare(key(a), key(b));
      return order == Qt::AscendingOrder ? c == QPartialOrdering::Less : c == QPartialOrdering::Greater;
    });
  }
  endResetModel();
}

}  // namespace quelm
