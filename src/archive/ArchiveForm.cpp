#include "archive/ArchiveForm.h"

#include <QComboBox>
#include <QDir>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QStyledItemDelegate>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>

#include "archive/ArchiveFormKit.h"
#include "archive/ArchiveItemModels.h"
#include "archive/ArchiveSignoff.h"
#include "archive/ArchiveText.h"
#include "archive/ReportPainter.h"
#include "base/DataFiles.h"
#include "base/ErrorCodes.h"
#include "base/Prompter.h"
#include "base/UserLocale.h"


namespace quelm {

DoseChartWidget::DoseChartWidget(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("DoseChart"));
  setMinimumHeight(120);
  setToolTip(QStringLiteral("Click a bar to see its read-out in the main window"));
}

void DoseChartWidget::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::white);
  if (data.points.empty()) {
    p.drawText(rect(), Qt::AlignCenter, QStringLiteral("No read-outs to chart"));
    return;
  }
  PaintDoseChart(p, QRectF(rect()).adjusted(6, 4, -6, -4), data);
}

void DoseChartWidget::mousePressEvent(QMouseEvent* event) {
  const int point =
      DoseChartPointAt(font(), this, QRectF(rect()).adjusted(6, 4, -6, -4), data, event->position());
  if (point >= 0 && pointClicked) pointClicked(point);
}

}  // namespace quelm

using namespace quelm::archive_form;

// --- The window ----------------------------------------------------------------------

TArchiveForm::TArchiveForm(const quelm::ArchiveSettings& settings, QWidget* parent)
    : QWidget(parent, Qt::Window), Model(settings) {
  setObjectName(QStringLiteral("ArchiveForm"));
  setWindowTitle(QStringLiteral("Dose archive"));

  DatabaseLabel = new QLabel(QStringLiteral("Database:"), this);
  DatabaseDatLabel = note(this, "DatabaseDatLabel");
  DatabaseDatLabel->setToolTip(QStringLiteral("Options > Com Port changes the database"));
  QWidget* left = buildPersonColumn();

  // Right: the pages of the record, read-outs first.
  PageControl = new QTabWidget(this);
  PageControl->setObjectName(QStringLiteral("PageControl"));
  buildReadoutPage();
  buildConflictPage();
  buildRecordPages();

  // The pages and what joins them below (the control chart) share the right
  // column; the person column keeps the window's full height for its totals.
  auto* right = new QWidget(this);
  pagesColumn_ = new QVBoxLayout(right);
  pagesColumn_->setContentsMargins(0, 0, 0, 0);
  pagesColumn_->addWidget(PageControl, 1);
  QSplitter* split = twoPanes(Qt::Horizontal, this, left, right, {2, 5}, {400, 800});

  layOutWindow(split);

  // The operator's actions go to the model; its decisions and outcomes come back.
  connectControls();
  connectModel();
  connectDialogs();
  Paint();
}

// Left: who.
QWidget* TArchiveForm::buildPersonColumn() {
  auto* left = new QWidget(this);
  SearchEdit = new QLineEdit(left);
  SearchEdit->setObjectName(QStringLiteral("SearchEdit"));
  SearchEdit->setPlaceholderText(QStringLiteral("name, id or dosimeter"));
  SearchEdit->setClearButtonEnabled(true);
  auto* searchLabel = new QLabel(QStringLiteral("&Search:"), left);
  searchLabel->setBuddy(SearchEdit);
  EntryListView = new QListView(left);
  EntryListView->setObjectName(QStringLiteral("EntryListView"));
  EntryListView->setModel(Model.EntryItems());
  EntryListView->setEditTriggers(QAbstractItemView::NoEditTriggers);
  AddPersonButton = quelm::makeButton(left, "AddPersonButton", QStringLiteral("Add &person..."));
  RenamePersonButton = quelm::makeButton(left, "RenamePersonButton", QStringLiteral("Re&name..."));
  auto* periodsLabel = new QLabel(QStringLiteral("&Wear periods:"), left);
  PeriodView = table(left, "PeriodView", Model.PeriodItems(), false);
  periodsLabel->setBuddy(PeriodView);
  PeriodView->horizontalHeader()->setStretchLastSection(true);
  AssignButton = quelm::makeButton(left, "AssignButton", QStringLiteral("Assi&gn..."));
  EndPeriodButton = quelm::makeButton(left, "EndPeriodButton", QStringLiteral("&End period..."));
  ImportWearersButton =
      quelm::makeButton(left, "ImportWearersButton", QStringLiteral("Import &wearer list..."));
  buildTotalsBox(left);
  auto* leftColumn = new QVBoxLayout(left);
  leftColumn->setContentsMargins(0, 0, 0, 0);
  auto* searchRow = new QHBoxLayout;
  searchRow->addWidget(searchLabel);
  searchRow->addWidget(SearchEdit, 1);
  leftColumn->addLayout(searchRow);
  leftColumn->addWidget(EntryListView, 3);
  auto* personButtons = new QHBoxLayout;
  personButtons->addWidget(AddPersonButton);
  personButtons->addWidget(RenamePersonButton);
  personButtons->addStretch();
  leftColumn->addLayout(personButtons);
  leftColumn->addWidget(periodsLabel);
  leftColumn->addWidget(PeriodView, 2);
  auto* periodButtons = new QHBoxLayout;
  periodButtons->addWidget(AssignButton);
  periodButtons->addWidget(EndPeriodButton);
  periodButtons->addWidget(ImportWearersButton);
  periodButtons->addStretch();
  leftColumn->addLayout(periodButtons);
  leftColumn->addWidget(TotalsGroupBox);
  return left;
}

void TArchiveForm::buildTotalsBox(QWidget* left) {
  TotalsGroupBox = new QGroupBox(QStringLiteral("Totals"), left);
  TotalsGroupBox->setObjectName(QStringLiteral("TotalsGroupBox"));
  TotalsAtEdit = dateEdit(TotalsGroupBox, "TotalsAtEdit");
  TotalsAtEdit->setPlaceholderText(QStringLiteral("today"));
  TotalsAtEdit->setToolTip(QStringLiteral("The day the totals are taken at (%1); empty: today")
                               .arg(quelm::userLocale().shortDateFormat));
  QuarterDatLabel = valueLabel(TotalsGroupBox, "QuarterDatLabel");
  YearDatLabel = valueLabel(TotalsGroupBox, "YearDatLabel");
  LifetimeDatLabel = valueLabel(TotalsGroupBox, "LifetimeDatLabel");
  ShareDatLabel = valueLabel(TotalsGroupBox, "ShareDatLabel");
  LimitDatLabel = valueLabel(TotalsGroupBox, "LimitDatLabel");
  auto* totalsForm = new QFormLayout(TotalsGroupBox);
  auto* atLabel = new QLabel(QStringLiteral("&At:"), TotalsGroupBox);
  atLabel->setBuddy(TotalsAtEdit);
  totalsForm->addRow(atLabel, TotalsAtEdit);
  totalsForm->addRow(QStringLiteral("Quarter-to-date:"), QuarterDatLabel);
  totalsForm->addRow(QStringLiteral("Year-to-date:"), YearDatLabel);
  totalsForm->addRow(QStringLiteral("Lifetime:"), LifetimeDatLabel);
  // The limit on a row of its own: beside the share's caption it would
  // not fit the column.
  totalsForm->addRow(QStringLiteral("Annual limit:"), LimitDatLabel);
  totalsForm->addRow(QStringLiteral("Share of the annual limit:"), ShareDatLabel);
  // Of the whole archive: the figures above may still change.
  ReviewDatLabel = valueLabel(TotalsGroupBox, "ReviewDatLabel");
  ReviewDatLabel->setToolTip(
      QStringLiteral("Read-outs of the archive in the totals' quarter and year that "
                     "still await review (Review page)"));
  totalsForm->addRow(QStringLiteral("Awaiting review:"), ReviewDatLabel);
}

void TArchiveForm::buildReadoutPage() {
  ReadoutTabSheet = tabSheet(PageControl, "ReadoutTabSheet");
  FromEdit = dateEdit(ReadoutTabSheet, "FromEdit");
  ToEdit = dateEdit(ReadoutTabSheet, "ToEdit");
  for (QLineEdit* e : {FromEdit, ToEdit})
    connect(e, &QLineEdit::returnPressed, this, &TArchiveForm::FilterButtonClick);
  auto* fromLabel = new QLabel(QStringLiteral("&From:"), ReadoutTabSheet);
  fromLabel->setBuddy(FromEdit);
  auto* toLabel = new QLabel(QStringLiteral("&To:"), ReadoutTabSheet);
  toLabel->setBuddy(ToEdit);
  FilterButton = quelm::makeButton(ReadoutTabSheet, "FilterButton", QStringLiteral("App&ly"));
  ReadoutView = table(ReadoutTabSheet, "ReadoutView", Model.ReadoutItems(), true);
  ReadoutView->horizontalHeader()->setSortIndicator(quelm::kColTime, Qt::AscendingOrder);
  ReadoutView->setSortingEnabled(true);
  ReadoutView->installEventFilter(this);
  ShowButton = quelm::makeButton(ReadoutTabSheet, "ShowButton", QStringLiteral("Show in &main window"));
  DoseChart = new quelm::DoseChartWidget(ReadoutTabSheet);
  auto* filterRow = new QHBoxLayout;
  filterRow->addWidget(fromLabel);
  filterRow->addWidget(FromEdit);
  filterRow->addWidget(toLabel);
  filterRow->addWidget(ToEdit);
  filterRow->addWidget(FilterButton);
  filterRow->addStretch();
  filterRow->addWidget(ShowButton);
  QSplitter* readoutSplit = twoPanes(Qt::Vertical, ReadoutTabSheet, ReadoutView, DoseChart, {3, 2}, {300, 200});
  ReadoutReviewLabel = note(ReadoutTabSheet, "ReadoutReviewLabel");
  layOutPage(ReadoutTabSheet, filterRow, readoutSplit, ReadoutReviewLabel);
  PageControl->addTab(ReadoutTabSheet, QStringLiteral("&Read-outs"));
}

void TArchiveForm::buildConflictPage() {
  ConflictTabSheet = tabSheet(PageControl, "ConflictTabSheet");
  ConflictView = table(ConflictTabSheet, "ConflictView", Model.ConflictItems(), true);
  ConflictView->horizontalHeader()->setSortIndicator(quelm::kColTime, Qt::DescendingOrder);
  ConflictView->setSortingEnabled(true);
  ShowConflictButton =
      quelm::makeButton(ConflictTabSheet, "ShowConflictButton", QStringLiteral("Show in &main window"));
  layOutNotedTable(ConflictTabSheet,
                   QStringLiteral("Records that came with the key of an archived read-out but other "
                                  "bytes. The archived read-out counts; these count nothing."),
                   ShowConflictButton, ConflictView);
  PageControl->addTab(ConflictTabSheet, QStringLiteral("&Conflicts"));
}

void TArchiveForm::layOutWindow(QWidget* split) {
  auto* top = new QHBoxLayout;
  top->addWidget(DatabaseLabel);
  top->addWidget(DatabaseDatLabel, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(split, 1);
  buildBottomRows(layout);
  resize(1220, 780);
}

// Bottom: imports and reports.
void TArchiveForm::buildBottomRows(QVBoxLayout* layout) {
  ImportButton = quelm::makeButton(this, "ImportButton", QStringLiteral("&Import data files..."));
  ImportGauge = new QProgressBar(this);
  ImportGauge->setObjectName(QStringLiteral("ImportGauge"));
  ImportResultMemo = new QPlainTextEdit(this);
  ImportResultMemo->setObjectName(QStringLiteral("ImportResultMemo"));
  ImportResultMemo->setReadOnly(true);
  ImportResultMemo->setMaximumHeight(fontMetrics().height() * 4 + 12);
  ReportComboBox = new QComboBox(this);
  ReportComboBox->setObjectName(QStringLiteral("ReportComboBox"));
  ReportComboBox->addItems({QStringLiteral("Person's report"), QStringLiteral("Service summary")});
  auto* reportLabel = new QLabel(QStringLiteral("Re&port:"), this);
  reportLabel->setBuddy(ReportComboBox);
  PeriodComboBox = choiceBox(this, "PeriodComboBox", 8);
  PeriodComboBox->setToolTip(
      QStringLiteral("A quarter (2026Q3) or a year (2026); the totals are taken at its end"));
  auto* periodLabel = new QLabel(QStringLiteral("Peri&od:"), this);
  periodLabel->setBuddy(PeriodComboBox);
  PrintButton = quelm::makeButton(this, "PrintButton", QStringLiteral("P&rint..."));
  SaveButton = quelm::makeButton(this, "SaveButton", QStringLiteral("Save as P&DF..."));
  SignButton = quelm::makeButton(this, "SignButton", QStringLiteral("Sign…"));
  SignButton->setToolTip(QStringLiteral("Signs the period: its reports are stored with their SHA-256"));
  CloseButton = quelm::makeButton(this, "CloseButton", QStringLiteral("&Close"));
  StatusLabel = note(this, "StatusLabel");
  auto* importRow = new QHBoxLayout;
  importRow->addWidget(ImportButton);
  importRow->addWidget(ImportGauge, 1);
  auto* reportRow = new QHBoxLayout;
  reportRow->addWidget(reportLabel);
  reportRow->addWidget(ReportComboBox);
  reportRow->addWidget(periodLabel);
  reportRow->addWidget(PeriodComboBox);
  reportRow->addWidget(PrintButton);
  reportRow->addWidget(SaveButton);
  reportRow->addWidget(SignButton);
  reportRow->addStretch();
  reportRow->addWidget(CloseButton);

  layout->addLayout(importRow);
  layout->addWidget(ImportResultMemo);
  layout->addLayout(reportRow);
  layout->addWidget(StatusLabel);
}

void TArchiveForm::connectControls() {
  connect(SearchEdit, &QLineEdit::textChanged, this, &TArchiveForm::SearchEditChange);
  onCurrentRow(EntryListView, painting_, [this](int row) { Model.Choose(row); });
  onCurrentRow(PeriodView, painting_, [this](int row) { Model.SelectPeriod(row); });
  onCurrentRow(ReadoutView, painting_, [this](int row) { Model.SelectRow(row); });
  onCurrentRow(ConflictView, painting_, [this](int row) { Model.SelectConflict(row); });
  connect(ReadoutView, &QTableView::doubleClicked, this,
          [this](const QModelIndex& i) { Model.ShowReadout(i.row()); });
  connect(ConflictView, &QTableView::doubleClicked, this,
          [this](const QModelIndex& i) { Model.ShowConflict(i.row()); });
  connect(AddPersonButton, &QPushButton::clicked, this, [this] { Model.AddPerson(); });
  connect(RenamePersonButton, &QPushButton::clicked, this, [this] { Model.RenamePerson(); });
  connect(AssignButton, &QPushButton::clicked, this, [this] { Model.Assign(); });
  connect(EndPeriodButton, &QPushButton::clicked, this, [this] { Model.EndPeriod(); });
  connect(ImportWearersButton, &QPushButton::clicked, this, [this] { Model.ImportWearerList(); });
  connect(TotalsAtEdit, &QLineEdit::editingFinished, this, &TArchiveForm::TotalsAtEditDone);
  connect(FilterButton, &QPushButton::clicked, this, &TArchiveForm::FilterButtonClick);
  connect(ShowButton, &QPushButton::clicked, this, [this] { Model.ShowReadout(); });
  connect(ShowConflictButton, &QPushButton::clicked, this, [this] { Model.ShowConflict(); });
  connect(ImportButton, &QPushButton::clicked, this, [this] { Model.StartImport(); });
  connect(PrintButton, &QPushButton::clicked, this, &TArchiveForm::PrintButtonClick);
  connect(SaveButton, &QPushButton::clicked, this, &TArchiveForm::SaveButtonClick);
  connect(SignButton, &QPushButton::clicked, this, &TArchiveForm::SignButtonClick);
  connect(CloseButton, &QPushButton::clicked, this, &QWidget::close);
  connect(ReportComboBox, &QComboBox::currentIndexChanged, this, [this] { Paint(); });
  connect(PeriodComboBox, &QComboBox::activated, this, &TArchiveForm::PeriodComboBoxChange);
  connect(PeriodComboBox->lineEdit(), &QLineEdit::returnPressed, this, &TArchiveForm::PeriodComboBoxChange);
  DoseChart->pointClicked = [this](int point) { Model.ShowChartPoint(point); };
}

// Outcomes, and the files the operator chooses.
void TArchiveForm::connectModel() {
  Model.onChanged = [this] { Paint(); };
  Model.onFailure = quelm::ShowArchiveFailure;
  Model.onBusy = [this](bool querying) {
    if (querying)
      busy_.emplace();
    else
      busy_.reset();
  };
  Model.showRecord = [this](const QByteArray& record, qint64 id) {
    if (ShowRecord) ShowRecord(record, id);
  };
  Model.chooseImportFiles = [] {
    quelm::FileRequest r;
    r.title = QStringLiteral("Import data files into the dose archive");
    r.filter = QStringLiteral("Quelm data files (*.dat);;All files (*)");
    return quelm::prompter().openFiles(r);
  };
  Model.chooseWearerList = [] {
    quelm::FileRequest r;
    r.title = QStringLiteral("Import a wearer list (person_id,name,dosimeter,from,to)");
    r.filter = QStringLiteral("Wearer lists (*.csv);;All files (*)");
    return quelm::prompter().openFile(r).value_or(QString());
  };
}

// The questions the model asks through the archive's dialogs.
void TArchiveForm::connectDialogs() {
  Model.askAssignment = [this](const quelm::WearPeriod& proposal, const std::vector<quelm::Person>& persons,
                               const QString& refusal) {
    return periodForm().AskAssign(proposal, persons, refusal);
  };
  Model.askPeriodEnd = [this](const quelm::WearPeriod& period, const QString& refusal) {
    return periodForm().AskEnd(period, refusal);
  };
  Model.askNewPerson = [this](const QString& refusal) { return personForm().AskNew(refusal); };
  Model.askNewName = [this](const quelm::Person& person, const QString& refusal) {
    return personForm().AskName(person, refusal);
  };
  Model.askPassword = [this](const QString& server, const QString& refusal) {
    return passwordForm().Ask(server, refusal);
  };
  Model.askResolution = [this](const quelm::ResolutionRequest& request, const QString& refusal) {
    return dialogOf(ResolutionForm, ownResolutionForm_).Ask(request, refusal);
  };
  Model.askNotional = [this](const quelm::NotionalRequest& proposal,
                             const std::vector<quelm::Person>& persons, const QString& refusal) {
    return dialogOf(NotionalForm, ownNotionalForm_).Ask(proposal, persons, Model.ReportPeriods(), refusal);
  };
  Model.askSignoff = [this](const quelm::SignoffRequest& request, const QString& refusal) {
    return dialogOf(SignoffForm, ownSignoffForm_).Ask(request, refusal);
  };
  Model.signPeriod = [](quelm::DoseArchive& archive, const quelm::SignoffRun& r, QString* line,
                        QString* detail) {
    quelm::SignoffOutcome outcome;
    const int rc = quelm::SignPeriod(archive, r.period, r.signedBy, r.withOpenItems, r.settings, r.printedAt,
                                     &outcome, detail);
    if (rc == quelm::kOk) *line = quelm::SignoffLine(outcome);
    return rc;
  };
}

TArchiveForm::~TArchiveForm() {
  Model.onChanged = nullptr;
  Model.onBusy = nullptr;
}

TWearPeriodForm& TArchiveForm::periodForm() {
  if (PeriodForm) return *PeriodForm;
  if (!ownPeriodForm_) ownPeriodForm_ = std::make_unique<TWearPeriodForm>(this);
  return *ownPeriodForm_;
}

TPersonForm& TArchiveForm::personForm() {
  if (PersonForm) return *PersonForm;
  if (!ownPersonForm_) ownPersonForm_ = std::make_unique<TPersonForm>(this);
  return *ownPersonForm_;
}

TArchivePasswordForm& TArchiveForm::passwordForm() {
  if (PasswordForm) return *PasswordForm;
  if (!ownPasswordForm_) ownPasswordForm_ = std::make_unique<TArchivePasswordForm>(this);
  return *ownPasswordForm_;
}

void TArchiveForm::ensureOpen() {
  // The database is opened when the operator first asks for it, not at
  // every start of the program (a server may take its time to answer).
  if (opened_) return;
  opened_ = true;
  if (!Model.IsOpen()) Model.Open();
}

void TArchiveForm::setVisible(bool visible) {
  // Open before anything in the window is shown: what joins it (the control
  // chart) reads the same database when it is shown, and a new default
  // archive exists only once the window has opened it.
  if (visible) ensureOpen();
  QWidget::setVisible(visible);
}

void TArchiveForm::AddBelowPages(QWidget* widget) { pagesColumn_->addWidget(widget); }

bool TArchiveForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ReadoutView && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      Model.ShowReadout();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

quelm::ArchiveOutcome TArchiveForm::UseSettings(const quelm::ArchiveSettings& settings) {
  quelm::ArchiveOutcome failure;
  Model.Reopen(settings, &failure);
  // Asked for, so it is open (or its failure said) when the window shows.
  opened_ = opened_ || Model.IsOpen();
  Paint();
  return failure;
}

void TArchiveForm::ShowInArchive(const QString& dosimeter, const QString& deviceId, int blockNumber) {
  show();
  raise();
  activateWindow();
  ensureOpen();
  SearchEdit->clear();
  Model.ShowInArchive(dosimeter, deviceId, blockNumber);
  PageControl->setCurrentWidget(ReadoutTabSheet);
  if (Model.SelectedRow() >= 0) ReadoutView->scrollTo(Model.ReadoutItems()->index(Model.SelectedRow(), 0));
}

void TArchiveForm::SearchEditChange(const QString& text) {
  if (!painting_) Model.SetSearch(text);
}

void TArchiveForm::FilterButtonClick() {
  if (!Model.SetRange(FromEdit->text(), ToEdit->text()))
    quelm::showMessage(quelm::MessageKind::Warning, QStringLiteral("Dose archive"),
                       QStringLiteral("From and To are dates written as %1, or empty")
                           .arg(quelm::userLocale().shortDateFormat));
}

void TArchiveForm::TotalsAtEditDone() {
  const QString text = TotalsAtEdit->text().trimmed();
  const std::optional<QDate>& at = Model.TotalsAt();
  if (text.isEmpty() ? !at : at && quelm::ParseUserDate(text) == at) return;
  if (!Model.SetTotalsAt(text))
    quelm::showMessage(
        quelm::MessageKind::Warning, QStringLiteral("Dose archive"),
        QStringLiteral("The totals are taken at a date written as %1, or today when it is empty")
            .arg(quelm::userLocale().shortDateFormat));
}

void TArchiveForm::PeriodComboBoxChange() {
  // The totals of the period chosen: at its end.
  if (const std::optional<quelm::ReportPeriod> p = quelm::ParseReportPeriod(PeriodComboBox->currentText())) {
    TotalsAtEdit->setText(quelm::LocalDateText(p->to));
    TotalsAtEditDone();
  }
}

bool TArchiveForm::buildReport(quelm::ReportDocument* document) {
  QString detail;
  const int rc = Model.BuildReport(ReportComboBox->currentIndex() == 1, PeriodComboBox->currentText(),
                                   document, &detail);
  if (rc) quelm::ShowArchiveFailure({rc, detail});
  return rc == quelm::kOk;
}

void TArchiveForm::PrintButtonClick() {
  quelm::ReportDocument document;
  if (!buildReport(&document)) return;
  QPrinter printer(QPrinter::HighResolution);
  printer.setFullPage(true);
  printer.setDocName(document.title);
  QPrintDialog dialog(&printer, this);
  dialog.setObjectName(QStringLiteral("ReportPrintDialog"));
  if (quelm::prompter().runModal(dialog) != quelm::mrOk) return;
  int pages = 0;
  if (const int rc = quelm::PaintReport(document, printer, &pages)) {
    quelm::ShowArchiveFailure({rc, printer.printerName()});
    return;
  }
  const QString where = printer.outputFileName().isEmpty()
                            ? printer.printerName()
                            : QDir::toNativeSeparators(printer.outputFileName());
  StatusLabel->setText(QStringLiteral("Printed: %1, %2 pages").arg(where).arg(pages));
}

bool TArchiveForm::refusedOverArchive(const QString& path) {
  if (quelm::refuseSameFile(path, Model.Where().files()) == quelm::kOk) return false;
  const quelm::FileFailure f = quelm::takeFileFailure();
  quelm::ShowArchiveFailure({quelm::kErrFileOpen, f.name + QStringLiteral(": ") + f.reason});
  return true;
}

void TArchiveForm::SaveButtonClick() {
  quelm::ReportDocument document;
  if (!buildReport(&document)) return;
  quelm::FileRequest r;
  r.title = QStringLiteral("Save the report as PDF");
  r.filter = QStringLiteral("PDF files (*.pdf)");
  r.defaultSuffix = QStringLiteral("pdf");
  const QString who = ReportComboBox->currentIndex() == 1 || !Model.Chosen() ? QStringLiteral("summary")
                                                                             : Model.Chosen()->name;
  r.fileName = QStringLiteral("Dose %1 %2.pdf").arg(who, PeriodComboBox->currentText().trimmed());
  const std::optional<QString> path = quelm::prompter().saveFile(r);
  if (!path || refusedOverArchive(*path)) return;
  QString detail;
  int pages = 0;
  if (const int rc = quelm::WriteReportPdf(document, *path, &detail, &pages)) {
    quelm::ShowArchiveFailure({rc, detail});
    return;
  }
  StatusLabel->setText(QStringLiteral("Saved: %1, %2 pages").arg(QDir::toNativeSeparators(*path)).arg(pages));
}

// --- Painting -----------------------------------------------------------------------

void TArchiveForm::paintTotals() {
  const quelm::ArchiveTotalsView& t = Model.Totals();
  const bool chosen = Model.Chosen().has_value();
  TotalsGroupBox->setTitle(QStringLiteral("Totals at %1").arg(quelm::LocalDateText(t.at)));
  QuarterDatLabel->setText(chosen ? quelm::DoseText(t.totals.quarterToDate) : QString());
  YearDatLabel->setText(chosen ? quelm::DoseText(t.totals.yearToDate) : QString());
  LifetimeDatLabel->setText(chosen ? quelm::DoseText(t.totals.lifetime) : QString());
  LimitDatLabel->setText(quelm::DoseText(Model.Settings().annualLimit));
  ShareDatLabel->setText(chosen ? quelm::ShareText(t.share) : QString());
}

void TArchiveForm::Paint() {
  if (painting_) return;
  painting_ = true;
  const quelm::ArchiveActions a = Model.Actions();
  DatabaseDatLabel->setText(!Model.IsOpen() ? Model.Location() + QStringLiteral(" (not open)")
                            : a.readOnly    ? Model.Location() + QStringLiteral(" (read-only for this user)")
                                            : Model.Location());
  if (SearchEdit->text() != Model.Search()) SearchEdit->setText(Model.Search());
  // A person's list need not say whose it is on every row.
  ReadoutView->setColumnHidden(quelm::kColPerson,
                               Model.Chosen() && Model.Chosen()->kind == quelm::ArchiveEntry::Person);
  ReadoutView->horizontalHeader()->setSortIndicator(
      Model.SortColumn(), Model.SortDescending() ? Qt::DescendingOrder : Qt::AscendingOrder);
  paintSelection();

  paintTotals();
  DoseChart->data = Model.Chart();
  DoseChart->update();
  const int conflicts = static_cast<int>(Model.Conflicts().size());
  PageControl->setTabText(
      PageControl->indexOf(ConflictTabSheet),
      conflicts ? QStringLiteral("&Conflicts (%1)").arg(conflicts) : QStringLiteral("&Conflicts"));

  AddPersonButton->setEnabled(a.addPerson);
  RenamePersonButton->setEnabled(a.renamePerson);
  AssignButton->setEnabled(a.assign);
  EndPeriodButton->setEnabled(a.endPeriod);
  ImportWearersButton->setEnabled(a.importWearers);
  ImportButton->setEnabled(a.import);
  ShowButton->setEnabled(a.showReadout);
  ShowConflictButton->setEnabled(a.showConflict);
  const bool report = ReportComboBox->currentIndex() == 1 ? a.summaryReport : a.personReport;
  PrintButton->setEnabled(report);
  SaveButton->setEnabled(report);
  SignButton->setEnabled(a.sign);
  paintRecordPages(a);
  // The periods the archive holds; a period typed by hand stays.
  const QStringList offered = itemTexts(PeriodComboBox);
  if (offered != Model.ReportPeriods()) {
    const QString text = PeriodComboBox->currentText();
    PeriodComboBox->clear();
    PeriodComboBox->addItems(Model.ReportPeriods());
    if (!text.isEmpty() && !offered.contains(text)) PeriodComboBox->setEditText(text);
  }

  const quelm::ArchiveImportProgress& im = Model.ImportProgress();
  ImportGauge->setMaximum(std::max(im.total, 1));
  ImportGauge->setValue(im.done);
  ImportGauge->setFormat(im.total ? QStringLiteral("%v of %m records") : QString());
  ImportGauge->setEnabled(im.running);
  const QString lines = im.lines.join(QLatin1Char('\n'));
  if (ImportResultMemo->toPlainText() != lines) ImportResultMemo->setPlainText(lines);
  if (Model.Note() != shownNote_) {
    shownNote_ = Model.Note();
    if (!shownNote_.isEmpty()) StatusLabel->setText(shownNote_);
  }
  painting_ = false;
}

template <typename Form>
Form& TArchiveForm::dialogOf(Form* given, std::unique_ptr<Form>& own) {
  if (given) return *given;
  if (!own) own = std::make_unique<Form>(this);
  return *own;
}

void TArchiveForm::paintSelection() {
  setCurrentRow(EntryListView, Model.ChosenIndex());
  setCurrentRow(PeriodView, Model.SelectedPeriod());
  setCurrentRow(ReadoutView, Model.SelectedRow());
  setCurrentRow(ConflictView, Model.SelectedConflict());
}
