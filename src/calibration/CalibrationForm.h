#pragma once
// TCalibrationForm ("Calibration"): paints a CalibrationJob and forwards the
// operator's actions to it. The read-outs from data files or from the dose
// archive (a dosimeter list and two days); the batch table with a box per
// read-out (an outlier's box unticked: tick it to keep it in the mean), the
// histogram of the ratios to the mean, a dosimeter's factor history, the
// batch figures, and the writes: look-up entries into the reader, a default
// table, the batch table, the certificate, and the run kept in the archive
// (each write keeps it too). The archive is the configuration's. Not
// modal; created once at start-up.

#include <QWidget>
#include <optional>
#include <utility>

#include "calibration/CalibrationJob.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace quelm {

// A dosimeter's factor history from the dose archive: each calibration's
// factor as a point (filled when it was in the mean, ringed when it was
// written into the reader), and the factor in force at each read-out as
// steps, so that one sees whether a new factor reached the reader.
class FactorHistoryWidget : public QWidget {
  Q_OBJECT
 public:
  explicit FactorHistoryWidget(QWidget* parent = nullptr);
  // The factor axis for factors from low to high: a tenth of the span
  // beyond each (a little around a single value), never below 0, as a
  // factor never is.
  static std::pair<double, double> Axis(double low, double high);
  QString dosimeter;
  std::vector<FactorHistoryEntry> data;
  QSize sizeHint() const override { return {300, 200}; }

 protected:
  void paintEvent(QPaintEvent* event) override;
};

// The ratios to the mean as bars: the read-outs in the mean, and on top of
// them the outliers left out.
class RatioHistogramWidget : public QWidget {
  Q_OBJECT
 public:
  explicit RatioHistogramWidget(QWidget* parent = nullptr);
  RatioHistogram data;
  QSize sizeHint() const override { return {300, 220}; }

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace quelm

class TCalibrationForm : public QWidget {
  Q_OBJECT
 public:
  explicit TCalibrationForm(QWidget* parent = nullptr);

  quelm::CalibrationJob Job;

  QPushButton* FilesButton;
  QLineEdit* ArchiveDosimetersEdit;
  QLineEdit* ArchiveFromEdit;
  QLineEdit* ArchiveToEdit;
  QPushButton* ArchiveButton;
  QLabel* SourceLabel;
  QLineEdit* DoseEdit;
  QPushButton* DoseFileButton;
  QLabel* DoseLabel;
  QLineEdit* NoteEdit;
  QLineEdit* OutlierEdit;  // standard deviations, as the dose: the user's separator
  QTableWidget* BatchGrid;
  quelm::RatioHistogramWidget* Histogram;
  QLineEdit* HistoryEdit;
  QPushButton* HistoryButton;
  quelm::FactorHistoryWidget* FactorHistory;
  QLabel* FiguresLabel;
  QPushButton* LookupButton;
  QPushButton* DptButton;
  QPushButton* CsvButton;
  QPushButton* PdfButton;
  QPushButton* KeepButton;
  QPushButton* AbortButton;
  QLabel* StatusLabel;

  // The reader's line (held by a software update: no look-up write).
  void SetReaderAvailable(bool available) { Job.SetReaderAvailable(available); }
  void Paint();

  void FilesButtonClick();
  void ArchiveButtonClick();
  void HistoryButtonClick();
  void DoseEditExit();
  void OutlierEditExit();
  void DoseFileButtonClick();
  void LookupButtonClick();
  void DptButtonClick();
  void CsvButtonClick();
  void PdfButtonClick();

 private:
  void paintTable();
  void report(const quelm::CalibrationOutcome& outcome);
  std::optional<QString> saveName(const QString& title, const QString& filter, const QString& suffix,
                                  const QString& name);

  uint64_t paintedRevision_ = ~uint64_t{0};
  QString doseText_;     // the dose text last taken
  QString outlierText_;  // the outlier limit as last shown or taken
  bool painting_ = false;
};
