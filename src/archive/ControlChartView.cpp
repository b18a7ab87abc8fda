#include "archive/ControlChartView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>
#include <set>

#include "archive/Archive.h"
#include "archive/ControlChartPainter.h"
#include "base/BusyCursor.h"
#include "base/ErrorCodes.h"

namespace quelm {

ControlChartWidget::ControlChartWidget(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("ControlChart"));
  setMinimumHeight(150);
}

void ControlChartWidget::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::white);
  PaintControlChart(p, QRectF(rect()).adjusted(6, 4, -6, -4), data);
}

ControlChartPanel::ControlChartPanel(std::function<ArchiveSettings()> settings, QWidget* parent)
    : QWidget(parent), settings_(std::move(settings)) {
  setObjectName(QStringLiteral("ControlChartPanel"));
  Chart = new ControlChartWidget(this);
  StatusLabel = new QLabel(this);
  StatusLabel->setObjectName(QStringLiteral("ControlStatusLabel"));
  StatusLabel->setWordWrap(true);
  RefreshButton = new QPushButton(QStringLiteral("Re&fresh"), this);
  RefreshButton->setObjectName(QStringLiteral("ControlRefreshButton"));
  auto* top = new QHBoxLayout;
  top->addWidget(new QLabel(QStringLiteral("<b>Control dosimeters</b>"), this));
  top->addWidget(StatusLabel, 1);
  top->addWidget(RefreshButton);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addLayout(top);
  layout->addWidget(Chart, 1);
  connect(RefreshButton, &QPushButton::clicked, this, [this] { Refresh(); });
}

void ControlChartPanel::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  Refresh();
}

void ControlChartPanel::Refresh() {
  ControlChartData chart;
  QString detail;
  int rc = kOk;
  {
    BusyCursor busy;
    rc = ReadControlChart(settings_(), std::nullopt, &chart, &detail);
  }
  // The archive window reports an archive that cannot be opened; the panel
  // says it in its line.
  if (rc) {
    StatusLabel->setText(ErrorMessage(rc).message + QStringLiteral(": ") + detail);
    Chart->data = {};
  } else {
    // A batch with both kinds of controls is in both panels: counted once.
    std::set<std::pair<QString, QString>> batches, out;
    for (const ControlSeries& s : chart.series)
      for (const ControlChartPoint& p : s.points) {
        batches.insert({p.day, p.device});
        if (p.out) out.insert({p.day, p.device});
      }
    StatusLabel->setText(
        chart.series.empty()
            ? QStringLiteral("No control batches (quelm-cli archive controls mark ID --known USV)")
            : QStringLiteral("The last %1 batches: %2 out of limits, their read-outs on the review list")
                  .arg(batches.size())
                  .arg(out.size()));
    StatusLabel->setToolTip(chart.note);
    Chart->data = chart;
  }
  Chart->update();
}

}  // namespace quelm
