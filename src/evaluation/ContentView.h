#pragma once
// The content page's widgets over the content model: paints the page of
// blocks, the selection and the source labels whenever the model changes,
// shows the busy pointer while a list operation runs, and turns the
// operator's choice of a row into the model's selection (refused choices
// snap back). The main window builds the widgets and hands them over.

#include <QFont>
#include <QObject>
#include <functional>
#include <optional>

#include "base/BusyCursor.h"

class QLabel;

namespace quelm {

class ContentModel;
class StringGrid;

class ContentView : public QObject {
  Q_OBJECT

 public:
  struct Widgets {
    StringGrid* grid = nullptr;         // title row, then the page rows 1..20
    QLabel* source = nullptr;           // "Source:" value, with the full path as hint
    QLabel* availableBlocks = nullptr;  // "AvailableBlocks:" value
  };

  // Parented to the grid.
  ContentView(ContentModel& model, const Widgets& widgets);

  // A double-click on a row with a block: the main window shows the chart.
  std::function<void()> showChart;

  // Widens each column to its title and to the widest text of the page, so
  // that every column reads whole; columns never narrow, so that the
  // operator's own widths stay.
  void fitColumns();
  // Every column as narrow as its title and the page allow.
  void resetColumns();

 private:
  void paint();
  void paintSelection();
  void cellChanged(int row, int previousRow);
  // The exposure column's face, found when the first rows are painted:
  // looking for it loads fonts that an empty list does not need.
  const QFont& fixedPitch();

  ContentModel& model_;
  Widgets w_;
  std::optional<BusyCursor> busy_;  // while a list operation runs
  bool selecting_ = false;          // the selection is being painted, not chosen
  unsigned shownPage_ = 0;  // the model's PageSerial when last painted
  std::optional<QFont> fixedPitch_;
};

}  // namespace quelm
