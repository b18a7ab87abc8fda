#include "archive/ArchiveItemModels.h"

#include "archive/ArchiveText.h"

namespace quelm {

namespace {
bool valid(const QModelIndex& index, size_t rows, int columns) {
  return index.isValid() && index.row() >= 0 && static_cast<size_t>(index.row()) < rows &&
         index.column() >= 0 && index.column() < columns;
}
int count(const QModelIndex& parent, size_t n) { return parent.isValid() ? 0 : static_cast<int>(n); }

QVariant alignment(const ArchiveColumn& c) {
  return c.right ? int{Qt::AlignRight | Qt::AlignVCenter} : int{Qt::AlignLeft | Qt::AlignVCenter};
}

// The dates before the person: a long name never pushes them out of sight.
const char* const kPeriodTitles[] = {"Dosimeter", "From", "To", "Person"};
}  // namespace

int ArchiveModel::EntryItemModel::rowCount(const QModelIndex& parent) const {
  return count(parent, model_.Entries().size());
}
int ArchiveModel::EntryItemModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : 1;
}
QVariant ArchiveModel::EntryItemModel::data(const QModelIndex& index, int role) const {
  if (!valid(index, model_.Entries().size(), 1) || role != Qt::DisplayRole) return {};
  return model_.Entries()[static_cast<size_t>(index.row())].text();
}

int ArchiveModel::PeriodItemModel::rowCount(const QModelIndex& parent) const {
  return count(parent, model_.Periods().size());
}
int ArchiveModel::PeriodItemModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : 4;
}
QVariant ArchiveModel::PeriodItemModel::data(const QModelIndex& index, int role) const {
  if (!valid(index, model_.Periods().size(), 4) || role != Qt::DisplayRole) return {};
  const WearPeriod& p = model_.Periods()[static_cast<size_t>(index.row())];
  switch (index.column()) {
    case 0:
      return p.dosimeter;
    case 1:
      return LocalDateText(p.from);
    case 2:
      return p.to ? LocalDateText(*p.to) : QStringLiteral("open");
    default:
      return PersonText(p.person);
  }
}
QVariant ArchiveModel::PeriodItemModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= 4) return {};
  return QString::fromLatin1(kPeriodTitles[section]);
}

int ArchiveModel::ReadoutItemModel::rowCount(const QModelIndex& parent) const {
  return count(parent, rows_.size());
}
int ArchiveModel::ReadoutItemModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kArchiveColumnCount;
}
QVariant ArchiveModel::ReadoutItemModel::data(const QModelIndex& index, int role) const {
  if (!valid(index, rows_.size(), kArchiveColumnCount)) return {};
  const ReadoutRow& row = rows_[static_cast<size_t>(index.row())];
  switch (role) {
    case Qt::DisplayRole:
      return model_.CellText(row, index.column());
    case Qt::TextAlignmentRole:
      return kArchiveColumns[index.column()].right ? int{Qt::AlignRight | Qt::AlignVCenter}
                                                   : int{Qt::AlignLeft | Qt::AlignVCenter};
    case kRowKindRole:
      return static_cast<int>(row.conflict         ? ArchiveRowKind::Conflict
                              : model_.IsHigh(row) ? ArchiveRowKind::High
                                                   : ArchiveRowKind::Plain);
  }
  return {};
}
QVariant ArchiveModel::ReadoutItemModel::headerData(int section, Qt::Orientation orientation,
                                                    int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kArchiveColumnCount) return {};
  if (role == Qt::DisplayRole) return QString::fromLatin1(kArchiveColumns[section].title);
  if (role == Qt::TextAlignmentRole)
    return kArchiveColumns[section].right ? int{Qt::AlignRight | Qt::AlignVCenter}
                                          : int{Qt::AlignLeft | Qt::AlignVCenter};
  return {};
}
void ArchiveModel::ReadoutItemModel::sort(int column, Qt::SortOrder order) {
  if (sort_) sort_(column, order == Qt::DescendingOrder);
}

int ArchiveModel::TextItemModel::rowCount(const QModelIndex& parent) const { return count(parent, rows_()); }
int ArchiveModel::TextItemModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : columnCount_;
}
QVariant ArchiveModel::TextItemModel::data(const QModelIndex& index, int role) const {
  if (!valid(index, rows_(), columnCount_)) return {};
  switch (role) {
    case Qt::DisplayRole:
      return cell_(static_cast<size_t>(index.row()), index.column());
    case Qt::TextAlignmentRole:
      return alignment(columns_[index.column()]);
  }
  return {};
}
QVariant ArchiveModel::TextItemModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= columnCount_) return {};
  if (role == Qt::DisplayRole) return QString::fromLatin1(columns_[section].title);
  if (role == Qt::TextAlignmentRole) return alignment(columns_[section]);
  return {};
}

}  // namespace quelm
