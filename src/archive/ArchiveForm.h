#pragma once
// TArchiveForm ("Dose archive"): the dose record of persons and dosimeters.
// It paints its ArchiveModel and forwards the operator's actions to it;
// every figure and rule is the archive core's. Not modal; created once at
// start-up, it opens the archive when first shown.
//
// TWearPeriodForm asks for a wear period (assigning) or its last day
// (ending one); TArchiveOptionsGroupBox is the archive's part of the
// options window: which database is in use, and another one to use.

#include <QDialog>
#include <QGroupBox>
#include <QWidget>
#include <functional>

#include "archive/ArchiveModel.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTableWidget;

namespace quelm {

// The dose chart of the chosen person or dosimeter; a click on a bar shows
// its read-out.
class DoseChartWidget : public QWidget {
  Q_OBJECT
 public:
  explicit DoseChartWidget(QWidget* parent = nullptr);
  DoseChartData data;
  std::function<void(int point)> pointClicked;
  QSize sizeHint() const override { return {600, 220}; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
};

}  // namespace quelm

class TWearPeriodForm : public QDialog {
  Q_OBJECT
 public:
  explicit TWearPeriodForm(QWidget* parent = nullptr);
  QLineEdit* DosimeterEdit;
  QComboBox* PersonComboBox;
  QLineEdit* FromEdit;
  QLineEdit* ToEdit;  // empty: open to the end
  QPushButton* OKButton;
  QPushButton* CancelButton;
  // Assigning: every field from the proposal. Ending: only the last day.
  void ShowAssign(const quelm::WearPeriod& proposal, const std::vector<quelm::Person>& persons);
  void ShowEnd(const quelm::WearPeriod& period);
};

class TArchiveForm : public QWidget {
  Q_OBJECT
 public:
  explicit TArchiveForm(const quelm::ArchiveSettings& settings, QWidget* parent = nullptr);
  ~TArchiveForm() override;

  quelm::ArchiveModel Model;

  QLabel* DatabaseLabel;
  QLabel* DatabaseDatLabel;
  QLineEdit* SearchEdit;
  QListWidget* EntryListBox;
  QTableWidget* PeriodGrid;
  QPushButton* AssignButton;
  QPushButton* EndPeriodButton;
  QLabel* QuarterDatLabel;
  QLabel* YearDatLabel;
  QLabel* LifetimeDatLabel;
  QLabel* LimitDatLabel;
  QLabel* ShareDatLabel;
  QLineEdit* FromEdit;
  QLineEdit* ToEdit;
  QPushButton* FilterButton;
  QTableWidget* ReadoutGrid;
  QPushButton* ShowButton;
  quelm::DoseChartWidget* DoseChart;
  QPushButton* ImportButton;
  QProgressBar* ImportGauge;
  QPlainTextEdit* ImportResultMemo;
  QComboBox* ReportComboBox;
  QComboBox* PeriodComboBox;
  QPushButton* PrintButton;
  QPushButton* SaveButton;
  QPushButton* CloseButton;

  // Shows the archived record in the main window's detail view.
  std::function<void(const QByteArray& record)> ShowRecord;
  // The wear period dialog to ask; the window's own when not set.
  TWearPeriodForm* PeriodForm = nullptr;

  // Another database (the options window): opened at once when the
  // window has been shown, else when it first is.
  void UseSettings(const quelm::ArchiveSettings& settings);
  void SearchEditChange(const QString& text);
  void FilterButtonClick();
  void PrintButtonClick();
  void SaveButtonClick();
  // Shows the model's state in the controls.
  void Paint();

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool buildReport(quelm::ReportDocument* document);
  void paintEntries();
  void paintPeriods();
  void paintReadouts();
  bool opened_ = false;
  bool painting_ = false;
  unsigned entriesShown_ = 0;
  std::unique_ptr<TWearPeriodForm> ownPeriodForm_;
};

// The options window's "Dose archive" group.
class TArchiveOptionsGroupBox : public QGroupBox {
  Q_OBJECT
 public:
  explicit TArchiveOptionsGroupBox(QWidget* parent = nullptr);
  QLabel* InUseDatLabel;
  QLineEdit* DatabaseEdit;
  // Told the new settings after OK changed the database.
  std::function<void(const quelm::ArchiveSettings&)> Changed;
  // The configuration file's value into the edit.
  void Load();
  // Takes the edit over into the configuration file; false (with a
  // message) for an address that is none, the window then stays open.
  bool Accept();
};

// The program's dose archive window; nullptr until it exists.
extern TArchiveForm* ArchiveForm;
