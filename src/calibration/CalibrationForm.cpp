#include "calibration/CalibrationForm.h"

#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>
#include <optional>
#include <tuple>

#include "archive/ArchiveLocation.h"
#include "archive/ArchiveText.h"
#include "base/BusyCursor.h"
#include "base/ChartColours.h"
#include "base/Config.h"
#include "base/ListNoticeForm.h"
#include "base/NumberFormat.h"
#include "base/UserLocale.h"
#include "calibration/CertificatePainter.h"
#include "calibration/ReadoutSource.h"

namespace quelm {

FactorHistoryWidget::FactorHistoryWidget(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("FactorHistory"));
  setMinimumSize(220, 150);
}

std::pair<double, double> FactorHistoryWidget::Axis(double low, double high) {
  const double pad = high > low ? (high - low) * 0.1 : std::max(high * 0.02, 1e-3);
  return {low >= 0 ? std::max(0.0, low - pad) : low - pad, high + pad};
}

void FactorHistoryWidget::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), palette().base());
  const QFontMetrics fm(font());
  p.setPen(palette().text().color());
  // Only what has a time and a factor can stand on the chart.
  struct Point {
    QDateTime time;
    const FactorHistoryEntry* entry;
  };
  std::vector<Point> points;
  double low = 0, high = 0;
  for (const FactorHistoryEntry& e : data) {
    const std::optional<QDateTime> t = ParseArchiveTime(e.time, false);
    if (!t || !e.factor) continue;
    low = points.empty() ? *e.factor : std::min(low, *e.factor);
    high = points.empty() ? *e.factor : std::max(high, *e.factor);
    points.push_back({*t, &e});
  }
  const QString title = dosimeter.isEmpty() ? QStringLiteral("Factor history")
                                            : QStringLiteral("Factor history of %1").arg(dosimeter);
  p.drawText(rect().adjusted(6, 2, -6, 0), Qt::AlignLeft | Qt::AlignTop,
             points.empty() && !dosimeter.isEmpty() ? title + QStringLiteral(": no factor known") : title);
  if (points.empty()) return;
  std::tie(low, high) = Axis(low, high);
  const int labels = std::max(fm.horizontalAdvance(FactorText(high)), fm.horizontalAdvance(FactorText(low)));
  const QRect plot = rect().adjusted(labels + 10, fm.height() + 6, -10, -2 * fm.height() - 6);
  p.drawRect(plot);
  const QDateTime first = points.front().time, last = std::max(points.back().time, first.addDays(1));
  const auto xOf = [&](const QDateTime& t) {
    return plot.left() +
           plot.width() * static_cast<double>(first.secsTo(t)) / static_cast<double>(first.secsTo(last));
  };
  const auto yOf = [&](double f) { return plot.bottom() - plot.height() * (f - low) / (high - low); };
  p.setRenderHint(QPainter::Antialiasing);
  // The factor in force steps from read-out to read-out.
  QPainterPath steps;
  bool started = false;
  for (const Point& pt : points) {
    if (pt.entry->kind != FactorHistoryEntry::Readout) continue;
    const QPointF at(xOf(pt.time), yOf(*pt.entry->factor));
    if (!started) {
      steps.moveTo(at);
      started = true;
    } else {
      steps.lineTo(at.x(), steps.currentPosition().y());
      steps.lineTo(at);
    }
  }
  if (started) steps.lineTo(plot.right(), steps.currentPosition().y());
  p.setPen(QPen(kReferenceColour, 2));
  p.drawPath(steps);
  const double r = std::max(3.0, fm.height() / 4.0);
  for (const Point& pt : points) {
    if (pt.entry->kind != FactorHistoryEntry::Calibration) continue;
    const QPointF at(xOf(pt.time), yOf(*pt.entry->factor));
    p.setPen(QPen(pt.entry->written ? palette().text().color() : kPlainColour, pt.entry->written ? 2 : 1));
    // From the stored flag: a status may go on to say what the reader holds.
    p.setBrush(pt.entry->used ? QBrush(kPlainColour) : QBrush(palette().base()));
    p.drawEllipse(at, r, r);
  }
  p.setPen(palette().text().color());
  p.drawText(QRect(0, plot.top(), plot.left() - 4, fm.height()), Qt::AlignRight, FactorText(high));
  p.drawText(QRect(0, plot.bottom() - fm.height(), plot.left() - 4, fm.height()), Qt::AlignRight,
             FactorText(low));
  const int below = plot.bottom() + 4;
  p.drawText(QRect(plot.left(), below, plot.width(), fm.height()), Qt::AlignLeft, LocalDateText(first));
  p.drawText(QRect(plot.left(), below, plot.width(), fm.height()), Qt::AlignRight, LocalDateText(last));
  int x = plot.left();
  const int legend = below + fm.height() + 2;
  for (const auto& [colour, text] : {std::pair{kPlainColour, QStringLiteral("calibrated")},
                                     std::pair{kReferenceColour, QStringLiteral("in force when read")}}) {
    p.fillRect(QRect(x, legend + 3, fm.height() - 6, fm.height() - 6), colour);
    x += fm.height();
    p.drawText(QPoint(x, legend + fm.ascent()), text);
    x += fm.horizontalAdvance(text) + fm.height();
  }
}

RatioHistogramWidget::RatioHistogramWidget(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("Histogram"));
  setMinimumSize(220, 160);
}

void RatioHistogramWidget::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), palette().base());
  const QFontMetrics fm(font());
  const QRect plot = rect().adjusted(fm.horizontalAdvance(QStringLiteral("0000")) + 6, fm.height() + 6, -10,
                                     -2 * fm.height() - 6);
  p.setPen(palette().text().color());
  p.drawText(rect().adjusted(6, 2, -6, 0), Qt::AlignLeft | Qt::AlignTop, QStringLiteral("Ratio to the mean"));
  p.drawRect(plot);
  const int tallest = data.tallest();
  if (data.used.empty() || data.high <= data.low) return;
  const double width = static_cast<double>(plot.width()) / static_cast<double>(data.used.size());
  const auto heightOf = [&](int count) {
    return plot.height() * count / static_cast<double>(std::max(tallest, 1));
  };
  for (size_t i = 0; i < data.used.size(); ++i) {
    const double x = plot.left() + width * static_cast<double>(i);
    const double used = heightOf(data.used[i]), left = heightOf(data.left[i]);
    p.fillRect(QRectF(x + 1, plot.bottom() - used, width - 2, used), kPlainColour);
    p.fillRect(QRectF(x + 1, plot.bottom() - used - left, width - 2, left), kStandOutColour);
  }
  const auto xOf = [&](double ratio) {
    return plot.left() + plot.width() * (ratio - data.low) / (data.high - data.low);
  };
  if (data.low < 1 && data.high > 1) {
    p.setPen(QPen(palette().text().color(), 1, Qt::DashLine));
    p.drawLine(QPointF(xOf(1), plot.top()), QPointF(xOf(1), plot.bottom()));
  }
  p.setPen(palette().text().color());
  const int below = plot.bottom() + 4;
  p.drawText(QRect(plot.left(), below, plot.width(), fm.height()), Qt::AlignLeft, formatFloat(data.low, 3));
  p.drawText(QRect(plot.left(), below, plot.width(), fm.height()), Qt::AlignRight, formatFloat(data.high, 3));
  if (data.low < 1 && data.high > 1) {
    const QString one = formatFloat(1, 3);
    const int w = fm.horizontalAdvance(one);
    if (xOf(1) - w > plot.left() + fm.horizontalAdvance(formatFloat(data.low, 3)) &&
        xOf(1) + w < plot.right() - w)
      p.drawText(QPointF(xOf(1) - w / 2.0, below + fm.ascent()), one);
  }
  p.drawText(QRect(0, plot.top(), plot.left() - 4, fm.height()), Qt::AlignRight, QString::number(tallest));
  p.drawText(QRect(0, plot.bottom() - fm.height(), plot.left() - 4, fm.height()), Qt::AlignRight,
             QStringLiteral("0"));
  // Ratios off the scale, named where they lie.
  if (data.below > 0)
    p.drawText(plot.adjusted(4, 2, -4, 0), Qt::AlignLeft | Qt::AlignTop,
               QStringLiteral("◀ %1").arg(data.below));
  if (data.above > 0)
    p.drawText(plot.adjusted(4, 2, -4, 0), Qt::AlignRight | Qt::AlignTop,
               QStringLiteral("%1 ▶").arg(data.above));
  // The legend under the scale.
  const int legend = below + fm.height() + 2;
  int x = plot.left();
  for (const auto& [colour, text] : {std::pair{kPlainColour, QStringLiteral("in the mean")},
                                     std::pair{kStandOutColour, QStringLiteral("outliers left out")}}) {
    p.fillRect(QRect(x, legend + 3, fm.height() - 6, fm.height() - 6), colour);
    x += fm.height();
    p.drawText(QPoint(x, legend + fm.ascent()), text);
    x += fm.horizontalAdvance(text) + fm.height();
  }
}

}  // namespace quelm

using quelm::CalibrationOutcome;

namespace {

QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption) {
  auto* b = new QPushButton(caption, parent);
  b->setObjectName(QLatin1String(name));
  return b;
}

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text = QString()) {
  auto* l = new QLabel(text, parent);
  l->setObjectName(QLatin1String(name));
  return l;
}

}  // namespace

TCalibrationForm::TCalibrationForm(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName(QStringLiteral("CalibrationForm"));
  setWindowTitle(QStringLiteral("Calibration"));

  FilesButton = makeButton(this, "FilesButton", QStringLiteral("&Data files..."));
  ArchiveDosimetersEdit = new QLineEdit(this);
  ArchiveDosimetersEdit->setObjectName(QStringLiteral("ArchiveDosimetersEdit"));
  ArchiveDosimetersEdit->setPlaceholderText(QStringLiteral("A0001-A0100, B0007"));
  ArchiveFromEdit = new QLineEdit(this);
  ArchiveFromEdit->setObjectName(QStringLiteral("ArchiveFromEdit"));
  ArchiveToEdit = new QLineEdit(this);
  ArchiveToEdit->setObjectName(QStringLiteral("ArchiveToEdit"));
  for (QLineEdit* e : {ArchiveFromEdit, ArchiveToEdit}) {
    e->setMaximumWidth(110);
    e->setPlaceholderText(QDate(2026, 3, 2).toString(quelm::userLocale().shortDateFormat));
  }
  ArchiveButton = makeButton(this, "ArchiveButton", QStringLiteral("From the dose &archive"));
  SourceLabel = makeLabel(this, "SourceLabel", QStringLiteral("No read-outs"));
  DoseEdit = new QLineEdit(this);
  DoseEdit->setObjectName(QStringLiteral("DoseEdit"));
  DoseEdit->setMaximumWidth(120);
  DoseFileButton = makeButton(this, "DoseFileButton", QStringLiteral("Dose &file..."));
  DoseLabel = makeLabel(this, "DoseLabel");
  NoteEdit = new QLineEdit(this);
  NoteEdit->setObjectName(QStringLiteral("NoteEdit"));
  NoteEdit->setPlaceholderText(QStringLiteral("Source, date of irradiation, who irradiated"));
  OutlierEdit = new QLineEdit(this);
  OutlierEdit->setObjectName(QStringLiteral("OutlierEdit"));
  OutlierEdit->setMaximumWidth(120);

  auto* archiveRow = new QHBoxLayout;
  archiveRow->addWidget(new QLabel(QStringLiteral("or dosimeters"), this));
  archiveRow->addWidget(ArchiveDosimetersEdit, 1);
  archiveRow->addWidget(new QLabel(QStringLiteral("read from"), this));
  archiveRow->addWidget(ArchiveFromEdit);
  archiveRow->addWidget(new QLabel(QStringLiteral("to"), this));
  archiveRow->addWidget(ArchiveToEdit);
  archiveRow->addWidget(ArchiveButton);

  auto* inputs = new QGridLayout;
  inputs->addWidget(new QLabel(QStringLiteral("Read-outs:"), this), 0, 0);
  inputs->addWidget(FilesButton, 0, 1);
  inputs->addLayout(archiveRow, 0, 2, 1, 3);
  inputs->addWidget(SourceLabel, 4, 1, 1, 4);
  inputs->addWidget(new QLabel(QStringLiteral("Delivered dose [µSv]:"), this), 1, 0);
  inputs->addWidget(DoseEdit, 1, 1);
  inputs->addWidget(DoseFileButton, 1, 2);
  inputs->addWidget(DoseLabel, 1, 3, 1, 2);
  inputs->addWidget(new QLabel(QStringLiteral("Note:"), this), 2, 0);
  inputs->addWidget(NoteEdit, 2, 1, 1, 4);
  inputs->addWidget(new QLabel(QStringLiteral("Outliers beyond:"), this), 3, 0);
  inputs->addWidget(OutlierEdit, 3, 1);
  inputs->addWidget(
      new QLabel(QStringLiteral("standard deviations from the mean of the others, and flagged read-outs"),
                 this),
      3, 2, 1, 3);
  inputs->setColumnStretch(4, 1);

  BatchGrid = new QTableWidget(this);
  BatchGrid->setObjectName(QStringLiteral("BatchGrid"));
  BatchGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  BatchGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
  BatchGrid->verticalHeader()->hide();
  BatchGrid->verticalHeader()->setDefaultSectionSize(BatchGrid->fontMetrics().height() + 6);
  // The status is the widest column: it keeps its width and the table
  // scrolls sideways rather than cutting it.
  BatchGrid->horizontalHeader()->setStretchLastSection(false);
  Histogram = new quelm::RatioHistogramWidget(this);
  HistoryEdit = new QLineEdit(this);
  HistoryEdit->setObjectName(QStringLiteral("HistoryEdit"));
  HistoryEdit->setMaximumWidth(80);
  HistoryButton = makeButton(this, "HistoryButton", QStringLiteral("Factor &history"));
  FactorHistory = new quelm::FactorHistoryWidget(this);
  auto* right = new QWidget(this);
  auto* rightColumn = new QVBoxLayout(right);
  rightColumn->setContentsMargins(0, 0, 0, 0);
  rightColumn->addWidget(Histogram, 1);
  auto* historyRow = new QHBoxLayout;
  historyRow->addWidget(new QLabel(QStringLiteral("Dosimeter:"), this));
  historyRow->addWidget(HistoryEdit);
  historyRow->addWidget(HistoryButton);
  historyRow->addStretch(1);
  rightColumn->addLayout(historyRow);
  rightColumn->addWidget(FactorHistory, 1);
  auto* splitter = new QSplitter(this);
  splitter->addWidget(BatchGrid);
  splitter->addWidget(right);
  splitter->setStretchFactor(0, 3);
  splitter->setStretchFactor(1, 1);

  FiguresLabel = makeLabel(this, "FiguresLabel");
  FiguresLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
  LookupButton = makeButton(this, "LookupButton", QStringLiteral("Write &look-up entries"));
  DptButton = makeButton(this, "DptButton", QStringLiteral("Save default &table..."));
  CsvButton = makeButton(this, "CsvButton", QStringLiteral("Save &batch table..."));
  PdfButton = makeButton(this, "PdfButton", QStringLiteral("Save &certificate..."));
  KeepButton = makeButton(this, "KeepButton", QStringLiteral("&Keep in the dose archive"));
  AbortButton = makeButton(this, "AbortButton", QStringLiteral("&Abort"));
  StatusLabel = makeLabel(this, "StatusLabel");
  auto* buttons = new QHBoxLayout;
  for (QPushButton* b : {LookupButton, DptButton, CsvButton, PdfButton, KeepButton, AbortButton})
    buttons->addWidget(b);
  buttons->addStretch(1);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(inputs);
  layout->addWidget(splitter, 1);
  layout->addWidget(FiguresLabel);
  layout->addLayout(buttons);
  layout->addWidget(StatusLabel);
  resize(1100, 680);

  connect(FilesButton, &QPushButton::clicked, this, [this] { FilesButtonClick(); });
  connect(ArchiveButton, &QPushButton::clicked, this, [this] { ArchiveButtonClick(); });
  connect(HistoryButton, &QPushButton::clicked, this, [this] { HistoryButtonClick(); });
  connect(HistoryEdit, &QLineEdit::returnPressed, this, [this] { HistoryButtonClick(); });
  connect(KeepButton, &QPushButton::clicked, this, [this] { report(Job.KeepRun()); });
  // A row chosen names its dosimeter for the history.
  connect(BatchGrid, &QTableWidget::currentCellChanged, this, [this](int row) {
    if (row >= 0 && row < static_cast<int>(Job.Run().rows.size()))
      HistoryEdit->setText(Job.Run().rows[static_cast<size_t>(row)].dosimeter);
  });
  connect(DoseEdit, &QLineEdit::editingFinished, this, [this] { DoseEditExit(); });
  connect(DoseFileButton, &QPushButton::clicked, this, [this] { DoseFileButtonClick(); });
  connect(NoteEdit, &QLineEdit::textChanged, this, [this](const QString& text) { Job.SetNote(text); });
  connect(OutlierEdit, &QLineEdit::editingFinished, this, [this] { OutlierEditExit(); });
  connect(BatchGrid, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
    if (!painting_ && item->column() == 0) Job.SetKept(item->row(), item->checkState() == Qt::Checked);
  });
  connect(LookupButton, &QPushButton::clicked, this, [this] { LookupButtonClick(); });
  connect(DptButton, &QPushButton::clicked, this, [this] { DptButtonClick(); });
  connect(CsvButton, &QPushButton::clicked, this, [this] { CsvButtonClick(); });
  connect(PdfButton, &QPushButton::clicked, this, [this] { PdfButtonClick(); });
  connect(AbortButton, &QPushButton::clicked, this, [this] { Job.RequestAbort(); });

  auto busy = std::make_shared<std::optional<quelm::BusyCursor>>();
  Job.onBusy = [busy](bool on) { on ? (void)busy->emplace() : busy->reset(); };
  Job.writePdf = quelm::WriteCertificatePdf;
  // The dose archive the configuration names (the default file when none),
  // as the archive window and the downloads use it.
  Job.locateArchive = [](quelm::ArchiveLocation* location, QString* detail) {
    const int rc = quelm::ParseArchiveLocation(quelm::ReadArchiveSettings(quelm::configFilePath()).database,
                                               location, detail);
    if (rc) *detail = QStringLiteral("[Dose archive] Database: ") + *detail;
    return rc;
  };
  Job.onChanged = [this] { Paint(); };
  Paint();
}

void TCalibrationForm::report(const CalibrationOutcome& outcome) {
  const QString notes =
      quelm::ShowCalibrationOutcome(outcome, [](const quelm::ListNotice& n) { quelm::showListNotice(n); });
  if (!notes.isEmpty()) {
    StatusLabel->setText(notes.section(QLatin1String("; "), -1));
    StatusLabel->setToolTip(notes);
  }
}

void TCalibrationForm::Paint() {
  painting_ = true;
  const quelm::CalibrationRun& run = Job.Run();
  const quelm::CalibrationControls& c = Job.Controls();
  for (QWidget* w :
       std::initializer_list<QWidget*>{FilesButton, DoseEdit, DoseFileButton, NoteEdit, OutlierEdit})
    w->setEnabled(c.inputs);
  for (QWidget* w :
       std::initializer_list<QWidget*>{ArchiveDosimetersEdit, ArchiveFromEdit, ArchiveToEdit, ArchiveButton})
    w->setEnabled(c.inputs && c.archive);
  HistoryButton->setEnabled(c.archive);
  KeepButton->setEnabled(c.keepRun);
  KeepButton->setToolTip(Job.KeptRun() ? QStringLiteral("Kept as calibration run %1").arg(*Job.KeptRun())
                                       : QString());
  FactorHistory->dosimeter = Job.FactorHistoryDosimeter();
  FactorHistory->data = Job.FactorHistory();
  FactorHistory->update();
  // While the look-up entries are written, no box changes the batch being written.
  BatchGrid->setEnabled(c.inputs);
  LookupButton->setEnabled(c.writeLookup);
  DptButton->setEnabled(c.writeDpt);
  CsvButton->setEnabled(c.writeReports);
  PdfButton->setEnabled(c.writeReports);
  AbortButton->setEnabled(c.abort);
  SourceLabel->setText(run.rows.empty()
                           ? QStringLiteral("No read-outs")
                           : QStringLiteral("%1 read-outs from %2").arg(run.rows.size()).arg(run.source));
  if (run.dose.all && !DoseEdit->hasFocus()) {
    doseText_ = quelm::formatGeneral(*run.dose.all, 7);
    DoseEdit->setText(doseText_);
  }
  DoseLabel->setText(run.dose.file.isEmpty() ? QString()
                                             : QStringLiteral("per dosimeter from %1").arg(run.dose.file));
  // Doses from a file: the edit is cleared, and a single dose typed again,
  // even the one taken before the file, is taken anew.
  if (!run.dose.all && !run.dose.file.isEmpty()) {
    DoseEdit->clear();
    doseText_.clear();
  }
  if (!OutlierEdit->hasFocus()) {
    outlierText_ = quelm::formatGeneral(run.outlierSd, 4);
    if (OutlierEdit->text() != outlierText_) OutlierEdit->setText(outlierText_);
  }
  QStringList figures;
  for (const quelm::BatchFigures& b : run.batches) figures << quelm::BatchLine(b);
  FiguresLabel->setText(figures.join(QLatin1Char('\n')));
  const quelm::LookupProgress& progress = Job.Progress();
  const QString reading = QStringLiteral("Reading the read-outs...");
  if (Job.Loading())
    StatusLabel->setText(reading);
  else if (StatusLabel->text() == reading)
    StatusLabel->clear();
  if (c.abort)
    StatusLabel->setText(QStringLiteral("Writing look-up entry %1: %2 of %3 done")
                             .arg(progress.current)
                             .arg(progress.done)
                             .arg(progress.total));
  if (Job.Revision() != paintedRevision_) {
    paintedRevision_ = Job.Revision();
    paintTable();
  }
  painting_ = false;
}

void TCalibrationForm::paintTable() {
  const quelm::CalibrationRun& run = Job.Run();
  const quelm::CertificateContent table = quelm::BuildCertificate(run);
  BatchGrid->clear();
  BatchGrid->setColumnCount(static_cast<int>(table.columns.size()) + 1);
  BatchGrid->setRowCount(static_cast<int>(table.rows.size()));
  QStringList titles = {QStringLiteral("Use")};
  for (const quelm::CertificateColumn& col : table.columns) titles << col.title;
  BatchGrid->setHorizontalHeaderLabels(titles);
  for (size_t i = 0; i < table.rows.size(); ++i) {
    const quelm::CalibrationRow& row = run.rows[i];
    const int r = static_cast<int>(i);
    auto* use = new QTableWidgetItem;
    // Only an outlier's box can be changed: ticked, it is kept.
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (row.factor) {
      use->setCheckState(row.used() ? Qt::Checked : Qt::Unchecked);
      if (row.outlier())
        flags |= Qt::ItemIsUserCheckable;
      else
        flags &= ~Qt::ItemIsEnabled;
    }
    use->setFlags(flags);
    BatchGrid->setItem(r, 0, use);
    for (size_t k = 0; k < table.columns.size(); ++k) {
      auto* item = new QTableWidgetItem(table.rows[i].value(static_cast<qsizetype>(k)));
      if (table.columns[k].right) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
      // The status in full, however narrow its column; elsewhere where the
      // read-out came from.
      item->setToolTip(k + 1 == table.columns.size() ? item->text() : row.readout.origin);
      if (table.marked[i]) item->setBackground(quelm::kMarkedRowColour);
      BatchGrid->setItem(r, static_cast<int>(k) + 1, item);
    }
  }
  BatchGrid->resizeColumnsToContents();
  Histogram->data = quelm::MakeRatioHistogram(run, 20);
  Histogram->update();
}

std::optional<QString> TCalibrationForm::saveName(const QString& title, const QString& filter,
                                                  const QString& suffix, const QString& name) {
  quelm::FileRequest r;
  r.title = title;
  r.filter = filter;
  r.defaultSuffix = suffix;
  r.fileName = name;
  return quelm::prompter().saveFile(r);
}

void TCalibrationForm::FilesButtonClick() {
  quelm::FileRequest r;
  r.title = QStringLiteral("Read-outs of the calibration");
  r.filter = QStringLiteral("Quelm data files (*.dat);;All files (*)");
  const QStringList files = quelm::prompter().openFiles(r);
  if (files.isEmpty()) return;
  quelm::DataFileReadouts source(files);
  report(Job.Load(source));
}

void TCalibrationForm::ArchiveButtonClick() {
  report(Job.LoadFromArchive(ArchiveDosimetersEdit->text(), ArchiveFromEdit->text(), ArchiveToEdit->text()));
}

void TCalibrationForm::HistoryButtonClick() { report(Job.LoadFactorHistory(HistoryEdit->text())); }

void TCalibrationForm::DoseEditExit() {
  // A box about the text takes the focus and ends the editing once more:
  // each text is taken once.
  const QString text = DoseEdit->text().trimmed();
  if (text == doseText_) return;
  doseText_ = text;
  // An emptied edit takes its dose away: the outputs never go on with a
  // dose the window no longer shows.
  if (text.isEmpty()) {
    if (Job.Run().dose.all) Job.ClearDose();
    return;
  }
  report(Job.SetDoseText(text));
}

void TCalibrationForm::OutlierEditExit() {
  // Taken once per text, as the dose; a refused text goes back to the
  // limit in force, so that the edit never shows a limit not applied.
  const QString text = OutlierEdit->text().trimmed();
  if (text == outlierText_) return;
  outlierText_ = text;
  const CalibrationOutcome o = Job.SetOutlierSdText(text);
  if (o.kind == CalibrationOutcome::kRefused) {
    outlierText_ = quelm::formatGeneral(Job.Run().outlierSd, 4);
    OutlierEdit->setText(outlierText_);
  }
  report(o);
}

void TCalibrationForm::DoseFileButtonClick() {
  quelm::FileRequest r;
  r.title = QStringLiteral("Delivered dose per dosimeter");
  r.filter = QStringLiteral("Dose files (dosimeter,dose_usv) (*.csv);;All files (*)");
  if (const std::optional<QString> path = quelm::prompter().openFile(r)) report(Job.LoadDoseFile(*path));
}

void TCalibrationForm::LookupButtonClick() { report(Job.WriteLookup()); }

void TCalibrationForm::DptButtonClick() {
  if (const auto path = saveName(QStringLiteral("Default table with the batch mean"),
                                 QStringLiteral("Dosimeter parameter table files (*.dpt)"),
                                 QStringLiteral("dpt"), QStringLiteral("calibration.dpt")))
    report(Job.WriteDpt(*path));
}

void TCalibrationForm::CsvButtonClick() {
  if (const auto path = saveName(QStringLiteral("Save the batch table"), QStringLiteral("CSV files (*.csv)"),
                                 QStringLiteral("csv"), QStringLiteral("calibration.csv")))
    report(Job.WriteCsv(*path));
}

void TCalibrationForm::PdfButtonClick() {
  if (const auto path =
          saveName(QStringLiteral("Save the calibration certificate"), QStringLiteral("PDF files (*.pdf)"),
                   QStringLiteral("pdf"), QStringLiteral("calibration.pdf")))
    report(Job.WriteCertificate(*path));
}
