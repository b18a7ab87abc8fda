#pragma once
// TArchiveForm ("Dose archive"): the dose record of persons and dosimeters.
// It paints its ArchiveModel, whose lists views show through the model's
// item models, and forwards the operator's actions to it; every figure and
// rule is the archive core's. Not modal; created once at start-up, it opens
// the archive when first shown. While a query runs the window shows the
// busy pointer and keeps painting. The read-outs, the conflicts, the review
// list, the change log and the sign-offs are pages of one tab bar. A user
// who may only read the archive gets every view and report; each writing
// button then says the archive is read-only for this user.

#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

#include "archive/ArchiveDialogs.h"
#include "archive/ArchiveModel.h"
#include "base/BusyCursor.h"
#include "base/WidgetsFwd.h"

class QVBoxLayout;

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
  // Review: the chosen period's read-outs that await review.
  QWidget* ReviewTabSheet;
  QComboBox* ReviewPeriodComboBox;  // "All", then the periods the archive holds
  QLabel* ReviewCountLabel;
  QTableView* ReviewView;
  QPushButton* AcceptButton;
  QPushButton* ReevaluateButton;
  QPushButton* ExcludeButton;
  QPushButton* NotionalButton;
  QPushButton* ShowReviewButton;
  // Changes: the change log.
  QWidget* ChangesTabSheet;
  QLineEdit* LogFromEdit;
  QLineEdit* LogToEdit;
  QCheckBox* LogPersonCheckBox;  // only the chosen person's
  QPushButton* LogFilterButton;
  QLabel* LogCountLabel;
  QTableView* LogView;
  QLabel* LogDetailLabel;  // the chosen change, every column
  // Sign-offs, and the stored documents of the selected one.
  QWidget* SignoffTabSheet;
  QTableView* SignoffView;
  QPushButton* SaveSignedButton;
  // Below the read-outs: how many of the totals' quarter and year await review.
  QLabel* ReadoutReviewLabel;
  QLabel* ReviewDatLabel;  // in the totals box
  QPushButton* ImportButton;
  QProgressBar* ImportGauge;
  QPlainTextEdit* ImportResultMemo;
  QComboBox* ReportComboBox;
  QComboBox* PeriodComboBox;
  QPushButton* PrintButton;
  QPushButton* SaveButton;
  QPushButton* SignButton;  // signs the period chosen for reports
  QPushButton* CloseButton;
  // What the last action did ("Saved: FILE, N pages", "New person: ...").
  QLabel* StatusLabel;

  // Shows the archived record in the main window's detail view, with the
  // read-out's id (0 for a conflicting record, which is no read-out).
  std::function<void(const QByteArray& record, qint64 readoutId)> ShowRecord;
  // The dialogs to ask; the window's own when not set.
  TWearPeriodForm* PeriodForm = nullptr;
  TPersonForm* PersonForm = nullptr;
  TArchivePasswordForm* PasswordForm = nullptr;
  TResolutionForm* ResolutionForm = nullptr;
  TNotionalForm* NotionalForm = nullptr;
  TSignoffForm* SignoffForm = nullptr;

  // Another database (the options window), opened at once; the one in use
  // stays when it does not open. The failure is returned, not shown.
  quelm::ArchiveOutcome UseSettings(const quelm::ArchiveSettings& settings);
  // Shows the window with the dosimeter chosen and its read-out of that
  // reader and block selected (the high-dose notice's "Show in archive").
  void ShowInArchive(const QString& dosimeter, const QString& deviceId, int blockNumber);
  // A panel of another subsystem (the control chart) below the pages.
  void AddBelowPages(QWidget* widget);
  // "Adopt as dose of record…" of the main window's chart: the window and
  // factor set there become the dose of record of the archived read-out it
  // shows (its id and bytes), after the dose was shown and the reason given;
  // the window then shows that read-out with its new dose and status.
  void AdoptDose(qint64 readoutId, const QByteArray& record, const quelm::EvaluationWindow& window);
  void SearchEditChange(const QString& text);
  void FilterButtonClick();
  void TotalsAtEditDone();
  void PeriodComboBoxChange();
  void PrintButtonClick();
  void SaveButtonClick();
  void SignButtonClick();
  void SaveSignedButtonClick();
  void ReviewPeriodComboBoxChange();
  void LogFilterButtonClick();
  // Shows the model's state in the controls.
  void Paint();
  // Shown, the window has opened its database first (see the .cpp).
  void setVisible(bool visible) override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ensureOpen();
  QVBoxLayout* pagesColumn_ = nullptr;
  bool buildReport(quelm::ReportDocument* document);
  // A PDF saved over the archive's own file would replace the dose record:
  // said, and true.
  bool refusedOverArchive(const QString& path);
  void paintSelection();
  TWearPeriodForm& periodForm();
  TPersonForm& personForm();
  TArchivePasswordForm& passwordForm();
  QWidget* buildPersonColumn();
  void buildTotalsBox(QWidget* left);
  void buildReadoutPage();
  void buildConflictPage();
  void buildRecordPages();
  void buildReviewPage();
  void buildChangesPage();
  void buildSignoffPage();
  void connectRecordPages();
  void buildBottomRows(QVBoxLayout* layout);
  void layOutWindow(QWidget* split);
  void connectControls();
  void connectModel();
  void connectDialogs();
  void paintTotals();
  void paintRecordPages(const quelm::ArchiveActions& actions);
  void paintReviewPeriods();
  void paintReviewCounts();
  void paintLogDetail(int row);
  template <typename Form>
  Form& dialogOf(Form* given, std::unique_ptr<Form>& own);
  bool opened_ = false;
  bool painting_ = false;
  QString shownNote_;
  std::optional<quelm::BusyCursor> busy_;
  std::unique_ptr<TWearPeriodForm> ownPeriodForm_;
  std::unique_ptr<TPersonForm> ownPersonForm_;
  std::unique_ptr<TArchivePasswordForm> ownPasswordForm_;
  std::unique_ptr<TResolutionForm> ownResolutionForm_;
  std::unique_ptr<TNotionalForm> ownNotionalForm_;
  std::unique_ptr<TSignoffForm> ownSignoffForm_;
};

