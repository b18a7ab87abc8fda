#pragma once
// TArchiveForm ("Dose archive"): the dose record of persons and dosimeters.
// It paints its ArchiveModel, whose lists views show through the model's
// item models, and forwards the operator's actions to it; every figure and
// rule is the archive core's. Not modal; created once at start-up, it opens
// the archive when first shown. While a query runs the window shows the
// busy pointer and keeps painting. The read-outs and the conflicts are
// pages of a tab bar that other views of the record join.

#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

#include "archive/ArchiveDialogs.h"
#include "archive/ArchiveModel.h"
#include "base/BusyCursor.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListView;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QTableView;

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

class TArchiveForm : public QWidget {
  Q_OBJECT
 public:
  explicit TArchiveForm(const quelm::ArchiveSettings& settings, QWidget* parent = nullptr);
  ~TArchiveForm() override;

  quelm::ArchiveModel Model;

  QLabel* DatabaseLabel;
  QLabel* DatabaseDatLabel;
  QLineEdit* SearchEdit;
  QListView* EntryListView;
  QPushButton* AddPersonButton;
  QPushButton* RenamePersonButton;
  QTableView* PeriodView;
  QPushButton* AssignButton;
  QPushButton* EndPeriodButton;
  QPushButton* ImportWearersButton;
  QGroupBox* TotalsGroupBox;
  QLineEdit* TotalsAtEdit;  // empty: today
  QLabel* QuarterDatLabel;
  QLabel* YearDatLabel;
  QLabel* LifetimeDatLabel;
  QLabel* LimitDatLabel;
  QLabel* ShareDatLabel;
  QTabWidget* PageControl;
  QWidget* ReadoutTabSheet;
  QLineEdit* FromEdit;
  QLineEdit* ToEdit;
  QPushButton* FilterButton;
  QTableView* ReadoutView;
  QPushButton* ShowButton;
  quelm::DoseChartWidget* DoseChart;
  QWidget* ConflictTabSheet;
  QTableView* ConflictView;
  QPushButton* ShowConflictButton;
  QPushButton* ImportButton;
  QProgressBar* ImportGauge;
  QPlainTextEdit* ImportResultMemo;
  QComboBox* ReportComboBox;
  QComboBox* PeriodComboBox;
  QPushButton* PrintButton;
  QPushButton* SaveButton;
  QPushButton* CloseButton;
  // What the last action did ("Saved: FILE, N pages", "New person: ...").
  QLabel* StatusLabel;

  // Shows the archived record in the main window's detail view.
  std::function<void(const QByteArray& record)> ShowRecord;
  // The dialogs to ask; the window's own when not set.
  TWearPeriodForm* PeriodForm = nullptr;
  TPersonForm* PersonForm = nullptr;
  TArchivePasswordForm* PasswordForm = nullptr;

  // Another database (the options window), opened at once; the one in use
  // stays when it does not open. The failure is returned, not shown.
  quelm::ArchiveOutcome UseSettings(const quelm::ArchiveSettings& settings);
  // Shows the window with the dosimeter chosen and its read-out of that
  // reader and block selected (the high-dose notice's "Show in archive").
  void ShowInArchive(const QString& dosimeter, const QString& deviceId, int blockNumber);
  void SearchEditChange(const QString& text);
  void FilterButtonClick();
  void TotalsAtEditDone();
  void PeriodComboBoxChange();
  void PrintButtonClick();
  void SaveButtonClick();
  // Shows the model's state in the controls.
  void Paint();

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ensureOpen();
  bool buildReport(quelm::ReportDocument* document);
  void paintSelection();
  TWearPeriodForm& periodForm();
  TPersonForm& personForm();
  TArchivePasswordForm& passwordForm();
  bool opened_ = false;
  bool painting_ = false;
  QString shownNote_;
  std::optional<quelm::BusyCursor> busy_;
  std::unique_ptr<TWearPeriodForm> ownPeriodForm_;
  std::unique_ptr<TPersonForm> ownPersonForm_;
  std::unique_ptr<TArchivePasswordForm> ownPasswordForm_;
};

// The program's dose archive window; nullptr until it exists.
extern TArchiveForm* ArchiveForm;
