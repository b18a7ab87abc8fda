// The dose archive window's pages of the record beside the read-outs: the
// review list with its resolutions and notional doses, the change log, and
// the sign-offs with their stored documents; the Sign button and the
// re-evaluation adopted from the main window's chart. They paint the
// model's lists and forward the clicks; every rule is the archive core's.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QHBoxLayout>
#include <QTabWidget>
#include <QVBoxLayout>

#include "archive/ArchiveForm.h"
#include "archive/ArchiveFormKit.h"
#include "archive/ReportPainter.h"
#include "base/ErrorCodes.h"
#include "base/Prompter.h"

using namespace quelm::archive_form;

namespace {

QString readoutCount(int n) {
  return n == 1 ? QStringLiteral("1 read-out") : QStringLiteral("%1 read-outs").arg(n);
}

const QString kAll = QStringLiteral("All");

}  // namespace

void TArchiveForm::buildRecordPages() {
  buildReviewPage();
  buildChangesPage();
  buildSignoffPage();
  connectRecordPages();
}

void TArchiveForm::buildReviewPage() {
  ReviewTabSheet = tabSheet(PageControl, "ReviewTabSheet");
  ReviewPeriodComboBox = new QComboBox(ReviewTabSheet);
  ReviewPeriodComboBox->setObjectName(QStringLiteral("ReviewPeriodComboBox"));
  ReviewPeriodComboBox->setMinimumContentsLength(8);
  ReviewPeriodComboBox->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  auto* reviewPeriodLabel = new QLabel(QStringLiteral("Period:"), ReviewTabSheet);
  reviewPeriodLabel->setBuddy(ReviewPeriodComboBox);
  ReviewCountLabel = note(ReviewTabSheet, "ReviewCountLabel");
  ReviewView = table(ReviewTabSheet, "ReviewView", Model.ReviewItems(), false);
  AcceptButton = quelm::makeButton(ReviewTabSheet, "AcceptButton", QStringLiteral("Accep&t…"));
  AcceptButton->setToolTip(QStringLiteral("The reader's dose stands as the dose of record"));
  ReevaluateButton = quelm::makeButton(ReviewTabSheet, "ReevaluateButton", QStringLiteral("Re-eva&luate…"));
  ReevaluateButton->setToolTip(QStringLiteral(
      "Another evaluation window and normalisation factor give the dose of record; the reader's "
      "dose stays stored. On the main window's chart: Adopt as dose of record…"));
  ExcludeButton = quelm::makeButton(ReviewTabSheet, "ExcludeButton", QStringLiteral("E&xclude…"));
  ExcludeButton->setToolTip(QStringLiteral("Counts nothing and stays listed"));
  NotionalButton = quelm::makeButton(ReviewTabSheet, "NotionalButton", QStringLiteral("Notional dose…"));
  NotionalButton->setToolTip(
      QStringLiteral("A dose entered by hand for a person and a quarter or year: a lost "
                     "or damaged dosimeter"));
  ShowReviewButton =
      quelm::makeButton(ReviewTabSheet, "ShowReviewButton", QStringLiteral("Show in main window"));
  auto* reviewTop = new QHBoxLayout;
  reviewTop->addWidget(reviewPeriodLabel);
  reviewTop->addWidget(ReviewPeriodComboBox);
  reviewTop->addWidget(ReviewCountLabel, 1);
  reviewTop->addWidget(ShowReviewButton);
  auto* reviewButtons = new QHBoxLayout;
  for (QPushButton* b : {AcceptButton, ReevaluateButton, ExcludeButton}) reviewButtons->addWidget(b);
  reviewButtons->addStretch();
  reviewButtons->addWidget(NotionalButton);
  layOutPage(ReviewTabSheet, reviewTop, ReviewView, reviewButtons);
  PageControl->addTab(ReviewTabSheet, QStringLiteral("Re&view"));
}

void TArchiveForm::buildChangesPage() {
  ChangesTabSheet = tabSheet(PageControl, "ChangesTabSheet");
  LogFromEdit = dateEdit(ChangesTabSheet, "LogFromEdit");
  LogToEdit = dateEdit(ChangesTabSheet, "LogToEdit");
  auto* logFromLabel = new QLabel(QStringLiteral("Fro&m:"), ChangesTabSheet);
  logFromLabel->setBuddy(LogFromEdit);
  auto* logToLabel = new QLabel(QStringLiteral("&To:"), ChangesTabSheet);
  logToLabel->setBuddy(LogToEdit);
  LogPersonCheckBox = new QCheckBox(QStringLiteral("Onl&y the chosen person"), ChangesTabSheet);
  LogPersonCheckBox->setObjectName(QStringLiteral("LogPersonCheckBox"));
  LogFilterButton = quelm::makeButton(ChangesTabSheet, "LogFilterButton", QStringLiteral("App&ly"));
  LogCountLabel = note(ChangesTabSheet, "LogCountLabel");
  LogView = table(ChangesTabSheet, "LogView", Model.LogItems(), false);
  // The chosen change whole, however wide its row.
  LogDetailLabel = note(ChangesTabSheet, "LogDetailLabel");
  LogDetailLabel->setWordWrap(true);
  auto* logTop = new QHBoxLayout;
  logTop->addWidget(logFromLabel);
  logTop->addWidget(LogFromEdit);
  logTop->addWidget(logToLabel);
  logTop->addWidget(LogToEdit);
  logTop->addWidget(LogPersonCheckBox);
  logTop->addWidget(LogFilterButton);
  logTop->addWidget(LogCountLabel, 1);
  layOutPage(ChangesTabSheet, logTop, LogView, LogDetailLabel);
  PageControl->addTab(ChangesTabSheet, QStringLiteral("C&hanges"));
}

void TArchiveForm::buildSignoffPage() {
  SignoffTabSheet = tabSheet(PageControl, "SignoffTabSheet");
  SignoffView = table(SignoffTabSheet, "SignoffView", Model.SignoffItems(), false);
  SaveSignedButton =
      quelm::makeButton(SignoffTabSheet, "SaveSignedButton", QStringLiteral("Save signed document…"));
  SaveSignedButton->setToolTip(
      QStringLiteral("The stored PDF of the selected sign-off, exactly as signed: its "
                     "service summary, or the chosen person's report (as Report says)"));
  layOutNotedTable(SignoffTabSheet,
                   QStringLiteral("Signed quarters and years. Sign… below signs the period chosen "
                                  "for reports."),
                   SaveSignedButton, SignoffView);
  PageControl->addTab(SignoffTabSheet, QStringLiteral("Sign-offs"));
}

// The operator's actions on these pages go to the model.
void TArchiveForm::connectRecordPages() {
  onCurrentRow(ReviewView, painting_, [this](int row) { Model.SelectReviewRow(row); });
  onCurrentRow(SignoffView, painting_, [this](int row) { Model.SelectSignoff(row); });
  QObject::connect(
      LogView->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
      [this](const QModelIndex& current) { paintLogDetail(current.isValid() ? current.row() : -1); });
  connect(Model.LogItems(), &QAbstractItemModel::modelReset, this, [this] { paintLogDetail(-1); });
  paintLogDetail(-1);
  connect(ReviewView, &QTableView::doubleClicked, this,
          [this](const QModelIndex& i) { Model.ShowReviewRow(i.row()); });
  connect(ReviewPeriodComboBox, &QComboBox::activated, this, &TArchiveForm::ReviewPeriodComboBoxChange);
  connect(AcceptButton, &QPushButton::clicked, this, [this] { Model.Resolve(quelm::Resolution::Accept); });
  connect(ReevaluateButton, &QPushButton::clicked, this,
          [this] { Model.Resolve(quelm::Resolution::Reevaluate); });
  connect(ExcludeButton, &QPushButton::clicked, this, [this] { Model.Resolve(quelm::Resolution::Exclude); });
  connect(NotionalButton, &QPushButton::clicked, this, [this] { Model.AddNotionalDose(); });
  connect(ShowReviewButton, &QPushButton::clicked, this, [this] { Model.ShowReviewRow(); });
  connect(LogFilterButton, &QPushButton::clicked, this, &TArchiveForm::LogFilterButtonClick);
  for (QLineEdit* e : {LogFromEdit, LogToEdit})
    connect(e, &QLineEdit::returnPressed, this, &TArchiveForm::LogFilterButtonClick);
  connect(LogPersonCheckBox, &QCheckBox::toggled, this, [this] {
    if (!painting_) LogFilterButtonClick();
  });
  connect(SaveSignedButton, &QPushButton::clicked, this, &TArchiveForm::SaveSignedButtonClick);
}

// The review list's periods: all, then those the archive holds; the
// chosen one stays.
void TArchiveForm::paintReviewPeriods() {
  QStringList periods{kAll};
  periods += Model.ReportPeriods();
  if (!Model.ReviewPeriod().isEmpty() && !periods.contains(Model.ReviewPeriod()))
    periods << Model.ReviewPeriod();
  if (itemTexts(ReviewPeriodComboBox) != periods) {
    ReviewPeriodComboBox->clear();
    ReviewPeriodComboBox->addItems(periods);
  }
  ReviewPeriodComboBox->setCurrentText(Model.ReviewPeriod().isEmpty() ? kAll : Model.ReviewPeriod());
}

// What awaits review: of the list's period on the Review page and its tab,
// of the totals' quarter and year in the totals box and below the read-outs.
void TArchiveForm::paintReviewCounts() {
  const int open = static_cast<int>(Model.ReviewRows().size());
  const QString where =
      Model.ReviewPeriod().isEmpty() ? QString() : QStringLiteral(" of ") + Model.ReviewPeriod();
  ReviewCountLabel->setText(
      open == 0 ? QStringLiteral("No read-out%1 awaits review").arg(where)
                : QStringLiteral("%1%2 await%3 review")
                      .arg(readoutCount(open), where, open == 1 ? QStringLiteral("s") : QString()));
  PageControl->setTabText(PageControl->indexOf(ReviewTabSheet),
                          open ? QStringLiteral("Re&view (%1)").arg(open) : QStringLiteral("Re&view"));

  // How many of the totals' quarter and year await review, in the totals
  // box and below the read-outs.
  const quelm::ArchiveReviewCounts& c = Model.ReviewCounts();
  const QString counts = !Model.IsOpen() ? QString()
                                         : QStringLiteral("%1 in %2, %3 in %4")
                                               .arg(c.quarterOpen)
                                               .arg(c.quarter)
                                               .arg(c.yearOpen)
                                               .arg(c.year);
  ReviewDatLabel->setText(counts);
  int listed = 0;
  for (const quelm::ReadoutRow& r : Model.Rows())
    if (!r.conflict && r.openReasons()) ++listed;
  ReadoutReviewLabel->setText(
      !Model.IsOpen()
          ? QString()
          : QStringLiteral("Awaiting review: %1 of those listed; in the archive %2 of %3 and %4 of %5 "
                           "(Review page)")
                .arg(listed)
                .arg(c.quarterOpen)
                .arg(c.quarter)
                .arg(c.yearOpen)
                .arg(c.year));
}

void TArchiveForm::paintRecordPages(const quelm::ArchiveActions& a) {
  paintReviewPeriods();
  paintReviewCounts();
  const bool person = Model.Chosen() && Model.Chosen()->kind == quelm::ArchiveEntry::Person;
  LogPersonCheckBox->setEnabled(person);
  LogPersonCheckBox->setChecked(Model.LogChosenPersonOnly());
  const int changes = static_cast<int>(Model.LogEntries().size());
  LogCountLabel->setText(
      (changes == 1 ? QStringLiteral("1 change") : QStringLiteral("%1 changes").arg(changes)) +
      (person && Model.LogChosenPersonOnly() ? QStringLiteral(" of ") + Model.Chosen()->text() : QString()));

  AcceptButton->setEnabled(a.resolve);
  ReevaluateButton->setEnabled(a.resolve);
  ExcludeButton->setEnabled(a.resolve);
  NotionalButton->setEnabled(a.notional);
  ShowReviewButton->setEnabled(Model.SelectedReviewRow() >= 0);
  SaveSignedButton->setEnabled(a.saveSigned);
  // Offered, and said why before a click says it again.
  const QString readOnly = a.readOnly ? quelm::ReadOnlyRefusal(Model.Location()).detail : QString();
  for (QPushButton* b :
       {AddPersonButton, RenamePersonButton, AssignButton, EndPeriodButton, ImportWearersButton, ImportButton,
        AcceptButton, ReevaluateButton, ExcludeButton, NotionalButton, SignButton}) {
    QString tip = b->property("writingTip").toString();
    if (!b->property("writingTip").isValid()) b->setProperty("writingTip", tip = b->toolTip());
    b->setToolTip(readOnly.isEmpty() ? tip : QStringLiteral("Read-only ") + readOnly);
  }
  setCurrentRow(ReviewView, Model.SelectedReviewRow());
  setCurrentRow(SignoffView, Model.SelectedSignoff());
}

void TArchiveForm::paintLogDetail(int row) {
  const std::vector<quelm::LogEntry>& log = Model.LogEntries();
  if (row < 0 || row >= static_cast<int>(log.size())) {
    LogDetailLabel->setText(QStringLiteral("Choose a change to read it whole."));
    return;
  }
  const quelm::LogEntry& e = log[static_cast<size_t>(row)];
  QStringList lines;
  for (int c = 0; c < quelm::kLogColumnCount; ++c)
    if (const QString text = quelm::LogCellText(e, c); !text.isEmpty())
      lines << QString::fromLatin1(quelm::kLogColumns[c].title) + QStringLiteral(": ") + text;
  LogDetailLabel->setText(lines.join(QLatin1Char('\n')));
}

void TArchiveForm::ReviewPeriodComboBoxChange() {
  const QString text = ReviewPeriodComboBox->currentText();
  Model.SetReviewPeriod(text == kAll ? QString() : text);
}

void TArchiveForm::LogFilterButtonClick() {
  if (!Model.SetLogFilter(LogFromEdit->text(), LogToEdit->text(), LogPersonCheckBox->isChecked()))
    quelm::showMessage(quelm::MessageKind::Warning, QStringLiteral("Dose archive"),
                       QStringLiteral("From and To are dates written as %1, or empty")
                           .arg(quelm::userLocale().shortDateFormat));
}

void TArchiveForm::SignButtonClick() {
  if (Model.Sign(PeriodComboBox->currentText().trimmed()) == quelm::kOk && !Model.Note().isEmpty())
    PageControl->setCurrentWidget(SignoffTabSheet);
}

void TArchiveForm::SaveSignedButtonClick() {
  QByteArray pdf;
  QString name, detail;
  if (const int rc = Model.SignedDocument(ReportComboBox->currentIndex() == 1, &pdf, &name, &detail)) {
    quelm::ShowArchiveFailure({rc, detail});
    return;
  }
  quelm::FileRequest r;
  r.title = QStringLiteral("Save the signed document");
  r.filter = QStringLiteral("PDF files (*.pdf)");
  r.defaultSuffix = QStringLiteral("pdf");
  r.fileName = name;
  const std::optional<QString> path = quelm::prompter().saveFile(r);
  if (!path || refusedOverArchive(*path)) return;
  if (const int rc = quelm::WritePdfFile(pdf, *path, &detail)) {
    quelm::ShowArchiveFailure({rc, detail});
    return;
  }
  StatusLabel->setText(
      QStringLiteral("Saved: %1, %2 bytes as signed").arg(QDir::toNativeSeparators(*path)).arg(pdf.size()));
}

void TArchiveForm::AdoptDose(qint64 readoutId, const QByteArray& record,
                             const quelm::EvaluationWindow& window) {
  ensureOpen();
  if (Model.AdoptReevaluation(readoutId, record, window) != quelm::kOk || Model.Note().isEmpty()) return;
  show();
  raise();
  activateWindow();
  PageControl->setCurrentWidget(ReadoutTabSheet);
  if (Model.SelectedRow() >= 0) ReadoutView->scrollTo(Model.ReadoutItems()->index(Model.SelectedRow(), 0));
}
