#pragma once
// The dose archive window's lists as Qt item models over what ArchiveModel
// holds: persons and dosimeters, wear periods, read-outs and conflicts, the
// review list, the change log and the sign-offs.
// QtCore only: a view paints them (QListView, QTableView), its header
// follows their columns, and a click on a read-out list's header sorts the
// list in ArchiveModel. ArchiveModel owns them and resets each one whenever
// it replaces its list, so a view never shows a row that is gone.
//
// Besides the display texts a read-out list says what a row is
// (kRowKindRole), and the window chooses how that looks.

#include <QAbstractTableModel>
#include <functional>

#include "archive/ArchiveModel.h"

namespace quelm {

// A read-out row's kind, as the data of kRowKindRole.
enum class ArchiveRowKind : int { Plain, High, Conflict };
inline constexpr int kRowKindRole = Qt::UserRole + 1;

class ArchiveListItems : public QAbstractTableModel {
 public:
  // Replaces the list by change(), the views told before and after.
  void reset(const std::function<void()>& change) {
    beginResetModel();
    change();
    endResetModel();
  }
};

class ArchiveModel::EntryItemModel : public ArchiveListItems {
 public:
  explicit EntryItemModel(const ArchiveModel& model) : model_(model) {}
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;

 private:
  const ArchiveModel& model_;
};

// Dosimeter, from, to ("open"), person.
class ArchiveModel::PeriodItemModel : public ArchiveListItems {
 public:
  explicit PeriodItemModel(const ArchiveModel& model) : model_(model) {}
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  const ArchiveModel& model_;
};

// The columns of kArchiveColumns over a list of read-outs.
class ArchiveModel::ReadoutItemModel : public ArchiveListItems {
 public:
  using Sort = std::function<void(int column, bool descending)>;
  ReadoutItemModel(const ArchiveModel& model, const std::vector<ReadoutRow>& rows, Sort sort)
      : model_(model), rows_(rows), sort_(std::move(sort)) {}
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  void sort(int column, Qt::SortOrder order) override;

 private:
  const ArchiveModel& model_;
  const std::vector<ReadoutRow>& rows_;
  Sort sort_;
};

// A list shown as text in the columns of a table (the review list, the
// change log, the sign-offs): each cell's text comes from the model.
class ArchiveModel::TextItemModel : public ArchiveListItems {
 public:
  using Cell = std::function<QString(size_t row, int column)>;
  TextItemModel(const ArchiveColumn* columns, int columnCount, std::function<size_t()> rows, Cell cell)
      : columns_(columns), columnCount_(columnCount), rows_(std::move(rows)), cell_(std::move(cell)) {}
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  const ArchiveColumn* columns_;
  int columnCount_;
  std::function<size_t()> rows_;
  Cell cell_;
};

}  // namespace quelm
