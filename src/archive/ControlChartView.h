#pragma once
// The control chart in a window: ControlChartWidget paints a chart with the
// one painter (ControlChartPainter.h); ControlChartPanel reads the chart of
// the configured archive whenever it is shown or refreshed, and says how
// many batches are out of limits. The dose archive window shows the panel.

#include <QWidget>
#include <functional>

#include "archive/ArchiveLocation.h"
#include "archive/Controls.h"

class QLabel;
class QPushButton;

namespace quelm {

class ControlChartWidget : public QWidget {
  Q_OBJECT
 public:
  explicit ControlChartWidget(QWidget* parent = nullptr);
  ControlChartData data;
  QSize sizeHint() const override { return {600, 240}; }

 protected:
  void paintEvent(QPaintEvent* event) override;
};

class ControlChartPanel : public QWidget {
  Q_OBJECT
 public:
  // settings: the archive and its tolerance as they are now.
  explicit ControlChartPanel(std::function<ArchiveSettings()> settings, QWidget* parent = nullptr);
  ControlChartWidget* Chart;
  QLabel* StatusLabel;
  QPushButton* RefreshButton;
  // Reads the chart again (the busy pointer while the archive answers).
  void Refresh();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  std::function<ArchiveSettings()> settings_;
};

}  // namespace quelm
