#include "archive/ArchiveForm.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>

#include "archive/ArchiveText.h"
#include "archive/ReportPainter.h"
#include "base/Config.h"
#include "base/ErrorCodes.h"
#include "base/IniFile.h"
#include "base/Prompter.h"
#include "base/UserLocale.h"

TArchiveForm* ArchiveForm = nullptr;

namespace quelm {

DoseChartWidget::DoseChartWidget(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("DoseChart"));
  setMinimumHeight(180);
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

namespace {

using quelm::ArchiveModel;

void showFailure(const quelm::ArchiveOutcome& o) {
  const quelm::ErrorText e = quelm::ErrorMessage(o.code);
  quelm::MessageRequest r;
  r.kind = e.kind;
  r.title = QStringLiteral("Dose archive");
  r.text = o.detail.isEmpty() ? e.message : e.message + QStringLiteral(":\n") + o.detail;
  r.code = o.code;
  quelm::prompter().message(r);
}

QPushButton* button(QWidget* parent, const char* name, const QString& caption) {
  auto* b = new QPushButton(caption, parent);
  b->setObjectName(QLatin1String(name));
  b->setAutoDefault(false);
  return b;
}

QLabel* valueLabel(QWidget* parent, const char* name) {
  auto* l = new QLabel(parent);
  l->setObjectName(QLatin1String(name));
  l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  l->setMinimumWidth(l->fontMetrics().horizontalAdvance(QStringLiteral("000000.00 µSv")));
  l->setTextInteractionFlags(Qt::TextSelectableByMouse);
  return l;
}

QTableWidget* grid(QWidget* parent, const char* name, const QStringList& titles) {
  auto* g = new QTableWidget(0, static_cast<int>(titles.size()), parent);
  g->setObjectName(QLatin1String(name));
  g->setHorizontalHeaderLabels(titles);
  g->setSelectionBehavior(QAbstractItemView::SelectRows);
  g->setSelectionMode(QAbstractItemView::SingleSelection);
  g->setEditTriggers(QAbstractItemView::NoEditTriggers);
  g->verticalHeader()->setVisible(false);
  g->verticalHeader()->setDefaultSectionSize(g->fontMetrics().height() + 6);
  g->setTabKeyNavigation(false);
  g->setWordWrap(false);
  return g;
}

QString periodEnd(const quelm::WearPeriod& p) {
  return p.to ? quelm::LocalDateText(*p.to) : QStringLiteral("open");
}

QString datePattern() { return quelm::userLocale().shortDateFormat; }

}  // namespace

// --- Wear period dialog ------------------------------------------------------------

TWearPeriodForm::TWearPeriodForm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("WearPeriodForm"));
  setWindowTitle(QStringLiteral("Wear period"));
  DosimeterEdit = new QLineEdit(this);
  DosimeterEdit->setObjectName(QStringLiteral("DosimeterEdit"));
  DosimeterEdit->setMaxLength(5);
  PersonComboBox = new QComboBox(this);
  PersonComboBox->setObjectName(QStringLiteral("PersonComboBox"));
  PersonComboBox->setEditable(true);
  PersonComboBox->setInsertPolicy(QComboBox::NoInsert);
  PersonComboBox->setMinimumContentsLength(24);
  FromEdit = new QLineEdit(this);
  FromEdit->setObjectName(QStringLiteral("FromEdit"));
  ToEdit = new QLineEdit(this);
  ToEdit->setObjectName(QStringLiteral("ToEdit"));
  auto* form = new QFormLayout;
  const auto row = [&](const QString& caption, QWidget* field) {
    auto* label = new QLabel(caption, this);
    label->setBuddy(field);
    form->addRow(label, field);
  };
  row(QStringLiteral("&Dosimeter:"), DosimeterEdit);
  row(QStringLiteral("&Person:"), PersonComboBox);
  row(QStringLiteral("&From:"), FromEdit);
  row(QStringLiteral("&To (empty: open):"), ToEdit);
  OKButton = button(this, "OKButton", QStringLiteral("&OK"));
  OKButton->setDefault(true);
  CancelButton = button(this, "CancelButton", QStringLiteral("&Cancel"));
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(OKButton);
  buttons->addWidget(CancelButton);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addLayout(buttons);
  connect(OKButton, &QPushButton::clicked, this, [this] { done(quelm::mrOk); });
  connect(CancelButton, &QPushButton::clicked, this, [this] { done(quelm::mrCancel); });
}

void TWearPeriodForm::ShowAssign(const quelm::WearPeriod& p, const std::vector<quelm::Person>& persons) {
  PersonComboBox->clear();
  // Listed as "ID NAME"; an id or a name may also be typed.
  for (const quelm::Person& person : persons) PersonComboBox->addItem(quelm::PersonText(person), person.id);
  DosimeterEdit->setText(p.dosimeter);
  PersonComboBox->setEditText(p.person.id.isEmpty() ? QString() : quelm::PersonText(p.person));
  FromEdit->setText(quelm::LocalDateText(p.from));
  ToEdit->clear();
  for (QWidget* w : std::initializer_list<QWidget*>{DosimeterEdit, PersonComboBox, FromEdit})
    w->setEnabled(true);
  FromEdit->setPlaceholderText(datePattern());
  ToEdit->setPlaceholderText(datePattern());
  (p.dosimeter.isEmpty() ? static_cast<QWidget*>(DosimeterEdit) : PersonComboBox)->setFocus();
}

void TWearPeriodForm::ShowEnd(const quelm::WearPeriod& p) {
  DosimeterEdit->setText(p.dosimeter);
  PersonComboBox->clear();
  PersonComboBox->setEditText(quelm::PersonText(p.person));
  FromEdit->setText(quelm::LocalDateText(p.from));
  ToEdit->setText(p.to ? quelm::LocalDateText(*p.to) : QString());
  for (QWidget* w : std::initializer_list<QWidget*>{DosimeterEdit, PersonComboBox, FromEdit})
    w->setEnabled(false);
  ToEdit->setPlaceholderText(datePattern());
  ToEdit->setFocus();
}

// --- The window ----------------------------------------------------------------------

TArchiveForm::TArchiveForm(const quelm::ArchiveSettings& settings, QWidget* parent)
    : QWidget(parent, Qt::Window), Model(settings) {
  setObjectName(QStringLiteral("ArchiveForm"));
  setWindowTitle(QStringLiteral("Dose archive"));

  DatabaseLabel = new QLabel(QStringLiteral("Database:"), this);
  DatabaseDatLabel = new QLabel(this);
  DatabaseDatLabel->setObjectName(QStringLiteral("DatabaseDatLabel"));
  DatabaseDatLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
  DatabaseDatLabel->setToolTip(QStringLiteral("Options > Com Port changes the database"));

  // Left: who.
  auto* left = new QWidget(this);
  SearchEdit = new QLineEdit(left);
  SearchEdit->setObjectName(QStringLiteral("SearchEdit"));
  SearchEdit->setPlaceholderText(QStringLiteral("name or dosimeter"));
  SearchEdit->setClearButtonEnabled(true);
  auto* searchLabel = new QLabel(QStringLiteral("&Search:"), left);
  searchLabel->setBuddy(SearchEdit);
  EntryListBox = new QListWidget(left);
  EntryListBox->setObjectName(QStringLiteral("EntryListBox"));
  auto* periodsLabel = new QLabel(QStringLiteral("&Wear periods:"), left);
  PeriodGrid = grid(
      left, "PeriodGrid",
      {QStringLiteral("Dosimeter"), QStringLiteral("Person"), QStringLiteral("From"), QStringLiteral("To")});
  periodsLabel->setBuddy(PeriodGrid);
  PeriodGrid->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  PeriodGrid->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
  AssignButton = button(left, "AssignButton", QStringLiteral("Assi&gn..."));
  EndPeriodButton = button(left, "EndPeriodButton", QStringLiteral("&End period..."));
  auto* totals = new QGroupBox(QStringLiteral("Totals up to today"), left);
  totals->setObjectName(QStringLiteral("TotalsGroupBox"));
  QuarterDatLabel = valueLabel(totals, "QuarterDatLabel");
  YearDatLabel = valueLabel(totals, "YearDatLabel");
  LifetimeDatLabel = valueLabel(totals, "LifetimeDatLabel");
  ShareDatLabel = valueLabel(totals, "ShareDatLabel");
  LimitDatLabel = valueLabel(totals, "LimitDatLabel");
  // The limit on a row of its own: beside the share's caption it would
  // not fit the column.
  auto* totalsForm = new QFormLayout(totals);
  totalsForm->addRow(QStringLiteral("Quarter-to-date:"), QuarterDatLabel);
  totalsForm->addRow(QStringLiteral("Year-to-date:"), YearDatLabel);
  totalsForm->addRow(QStringLiteral("Lifetime:"), LifetimeDatLabel);
  totalsForm->addRow(QStringLiteral("Annual limit:"), LimitDatLabel);
  totalsForm->addRow(QStringLiteral("Share of the annual limit:"), ShareDatLabel);
  auto* leftColumn = new QVBoxLayout(left);
  leftColumn->setContentsMargins(0, 0, 0, 0);
  auto* searchRow = new QHBoxLayout;
  searchRow->addWidget(searchLabel);
  searchRow->addWidget(SearchEdit, 1);
  leftColumn->addLayout(searchRow);
  leftColumn->addWidget(EntryListBox, 3);
  leftColumn->addWidget(periodsLabel);
  leftColumn->addWidget(PeriodGrid, 2);
  auto* periodButtons = new QHBoxLayout;
  periodButtons->addWidget(AssignButton);
  periodButtons->addWidget(EndPeriodButton);
  periodButtons->addStretch();
  leftColumn->addLayout(periodButtons);
  leftColumn->addWidget(totals);

  // Right: their read-outs and chart.
  auto* right = new QWidget(this);
  FromEdit = new QLineEdit(right);
  FromEdit->setObjectName(QStringLiteral("FromEdit"));
  ToEdit = new QLineEdit(right);
  ToEdit->setObjectName(QStringLiteral("ToEdit"));
  for (QLineEdit* e : {FromEdit, ToEdit}) {
    e->setPlaceholderText(datePattern());
    e->setMaximumWidth(fontMetrics().horizontalAdvance(QStringLiteral("0000-00-00000")) + 16);
    connect(e, &QLineEdit::returnPressed, this, &TArchiveForm::FilterButtonClick);
  }
  auto* fromLabel = new QLabel(QStringLiteral("&From:"), right);
  fromLabel->setBuddy(FromEdit);
  auto* toLabel = new QLabel(QStringLiteral("&To:"), right);
  toLabel->setBuddy(ToEdit);
  FilterButton = button(right, "FilterButton", QStringLiteral("App&ly"));
  QStringList titles;
  for (const quelm::ArchiveColumn& c : quelm::kArchiveColumns) titles << QString::fromLatin1(c.title);
  ReadoutGrid = grid(right, "ReadoutGrid", titles);
  ReadoutGrid->horizontalHeader()->setSectionsClickable(true);
  ReadoutGrid->horizontalHeader()->setSortIndicatorShown(true);
  ReadoutGrid->horizontalHeader()->setStretchLastSection(true);
  ReadoutGrid->installEventFilter(this);
  auto* readoutsLabel = new QLabel(QStringLiteral("&Read-outs:"), right);
  readoutsLabel->setBuddy(ReadoutGrid);
  ShowButton = button(right, "ShowButton", QStringLiteral("Show in &main window"));
  ShowButton->setToolTip(QStringLiteral("Enter on a read-out does the same"));
  DoseChart = new quelm::DoseChartWidget(right);
  auto* filterRow = new QHBoxLayout;
  filterRow->addWidget(readoutsLabel);
  filterRow->addStretch();
  filterRow->addWidget(fromLabel);
  filterRow->addWidget(FromEdit);
  filterRow->addWidget(toLabel);
  filterRow->addWidget(ToEdit);
  filterRow->addWidget(FilterButton);
  filterRow->addWidget(ShowButton);
  auto* rightColumn = new QVBoxLayout(right);
  rightColumn->setContentsMargins(0, 0, 0, 0);
  rightColumn->addLayout(filterRow);
  rightColumn->addWidget(ReadoutGrid, 3);
  rightColumn->addWidget(DoseChart, 2);

  auto* split = new QSplitter(this);
  split->addWidget(left);
  split->addWidget(right);
  split->setStretchFactor(1, 1);
  left->setMinimumWidth(fontMetrics().horizontalAdvance(QLatin1Char('x')) * 46);
  split->setSizes({360, 860});
  split->setChildrenCollapsible(false);

  // Bottom: import and reports.
  ImportButton = button(this, "ImportButton", QStringLiteral("&Import data files..."));
  ImportGauge = new QProgressBar(this);
  ImportGauge->setObjectName(QStringLiteral("ImportGauge"));
  ImportGauge->setFormat(QStringLiteral("%v of %m records"));
  ImportResultMemo = new QPlainTextEdit(this);
  ImportResultMemo->setObjectName(QStringLiteral("ImportResultMemo"));
  ImportResultMemo->setReadOnly(true);
  ImportResultMemo->setMaximumHeight(fontMetrics().height() * 4 + 10);
  ImportResultMemo->setLineWrapMode(QPlainTextEdit::NoWrap);
  ReportComboBox = new QComboBox(this);
  ReportComboBox->setObjectName(QStringLiteral("ReportComboBox"));
  ReportComboBox->addItems({QStringLiteral("Person's dose report"), QStringLiteral("Service summary")});
  auto* reportLabel = new QLabel(QStringLiteral("Rep&ort:"), this);
  reportLabel->setBuddy(ReportComboBox);
  PeriodComboBox = new QComboBox(this);
  PeriodComboBox->setObjectName(QStringLiteral("PeriodComboBox"));
  PeriodComboBox->setEditable(true);
  PeriodComboBox->setInsertPolicy(QComboBox::NoInsert);
  PeriodComboBox->setMinimumContentsLength(8);
  auto* periodLabel = new QLabel(QStringLiteral("Perio&d:"), this);
  periodLabel->setBuddy(PeriodComboBox);
  PrintButton = button(this, "PrintButton", QStringLiteral("&Print..."));
  SaveButton = button(this, "SaveButton", QStringLiteral("Sa&ve as PDF..."));
  CloseButton = button(this, "CloseButton", QStringLiteral("&Close"));
  auto* importColumn = new QVBoxLayout;
  auto* importRow = new QHBoxLayout;
  importRow->addWidget(ImportButton);
  importRow->addWidget(ImportGauge, 1);
  importColumn->addLayout(importRow);
  importColumn->addWidget(ImportResultMemo);
  auto* reportRow = new QHBoxLayout;
  reportRow->addWidget(reportLabel);
  reportRow->addWidget(ReportComboBox);
  reportRow->addWidget(periodLabel);
  reportRow->addWidget(PeriodComboBox);
  reportRow->addWidget(PrintButton);
  reportRow->addWidget(SaveButton);
  reportRow->addStretch();
  reportRow->addWidget(CloseButton);

  auto* top = new QHBoxLayout;
  top->addWidget(DatabaseLabel);
  top->addWidget(DatabaseDatLabel, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(split, 1);
  layout->addLayout(importColumn);
  layout->addLayout(reportRow);
  resize(1220, 760);

  // The operator's actions go to the model.
  connect(SearchEdit, &QLineEdit::textChanged, this, &TArchiveForm::SearchEditChange);
  connect(EntryListBox, &QListWidget::currentRowChanged, this, [this](int row) {
    if (!painting_) Model.Choose(row);
  });
  connect(PeriodGrid, &QTableWidget::currentCellChanged, this, [this](int row) {
    if (!painting_) Model.SelectPeriod(row);
  });
  connect(ReadoutGrid, &QTableWidget::currentCellChanged, this, [this](int row) {
    if (!painting_) Model.SelectRow(row);
  });
  connect(ReadoutGrid, &QTableWidget::cellDoubleClicked, this, [this](int row) { Model.ShowReadout(row); });
  connect(ReadoutGrid->horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int column) {
    Model.SortBy(column, column == Model.SortColumn() ? !Model.SortDescending() : false);
  });
  connect(AssignButton, &QPushButton::clicked, this, [this] { Model.Assign(); });
  connect(EndPeriodButton, &QPushButton::clicked, this, [this] { Model.EndPeriod(); });
  connect(FilterButton, &QPushButton::clicked, this, &TArchiveForm::FilterButtonClick);
  connect(ShowButton, &QPushButton::clicked, this, [this] { Model.ShowReadout(); });
  connect(ImportButton, &QPushButton::clicked, this, [this] { Model.StartImport(); });
  connect(PrintButton, &QPushButton::clicked, this, &TArchiveForm::PrintButtonClick);
  connect(SaveButton, &QPushButton::clicked, this, &TArchiveForm::SaveButtonClick);
  connect(CloseButton, &QPushButton::clicked, this, &QWidget::close);
  connect(ReportComboBox, &QComboBox::currentIndexChanged, this, [this] { Paint(); });
  DoseChart->pointClicked = [this](int point) { Model.ShowChartPoint(point); };

  // Decisions and outcomes.
  Model.onChanged = [this] { Paint(); };
  Model.onFailure = showFailure;
  Model.showRecord = [this](const QByteArray& record) {
    if (ShowRecord) ShowRecord(record);
  };
  Model.chooseImportFiles = [] {
    quelm::FileRequest r;
    r.title = QStringLiteral("Import data files into the dose archive");
    r.filter = QStringLiteral("Quelm data files (*.dat);;All files (*)");
    return quelm::prompter().openFiles(r);
  };
  const auto periodForm = [this]() -> TWearPeriodForm& {
    if (PeriodForm) return *PeriodForm;
    if (!ownPeriodForm_) ownPeriodForm_ = std::make_unique<TWearPeriodForm>(this);
    return *ownPeriodForm_;
  };
  const auto refuseDate = [](const QString& text) {
    quelm::showMessage(quelm::MessageKind::Warning, QStringLiteral("Dose archive"),
                       QStringLiteral("\"%1\" is no date: write it as %2").arg(text, datePattern()));
  };
  Model.askAssignment = [periodForm, refuseDate](const quelm::WearPeriod& proposal,
                                                 const std::vector<quelm::Person>& persons)
      -> std::optional<quelm::WearPeriod> {
    TWearPeriodForm& form = periodForm();
    form.ShowAssign(proposal, persons);
    if (quelm::prompter().runModal(form) != quelm::mrOk) return std::nullopt;
    quelm::WearPeriod p;
    p.dosimeter = form.DosimeterEdit->text().trimmed();
    const QString typed = form.PersonComboBox->currentText().trimmed();
    const int listed = form.PersonComboBox->findText(typed);
    if (listed >= 0)
      p.person.id = form.PersonComboBox->itemData(listed).toString();
    else
      p.person.name = typed;
    const std::optional<QDate> from = quelm::ParseUserDate(form.FromEdit->text());
    if (!from) return refuseDate(form.FromEdit->text()), std::nullopt;
    p.from = QDateTime(*from, QTime(0, 0), Qt::UTC);
    if (!form.ToEdit->text().trimmed().isEmpty()) {
      const std::optional<QDate> to = quelm::ParseUserDate(form.ToEdit->text());
      if (!to) return refuseDate(form.ToEdit->text()), std::nullopt;
      p.to = QDateTime(*to, QTime(23, 59), Qt::UTC);
    }
    return p;
  };
  Model.askPeriodEnd = [periodForm, refuseDate](const quelm::WearPeriod& period) -> std::optional<QDateTime> {
    TWearPeriodForm& form = periodForm();
    form.ShowEnd(period);
    if (quelm::prompter().runModal(form) != quelm::mrOk) return std::nullopt;
    const std::optional<QDate> to = quelm::ParseUserDate(form.ToEdit->text());
    if (!to) return refuseDate(form.ToEdit->text()), std::nullopt;
    return QDateTime(*to, QTime(23, 59), Qt::UTC);
  };
  ArchiveForm = this;
  Paint();
}

TArchiveForm::~TArchiveForm() {
  Model.onChanged = nullptr;
  if (ArchiveForm == this) ArchiveForm = nullptr;
}

void TArchiveForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // The database is opened when the operator first asks for it, not at
  // every start of the program (a server may take its time to answer).
  if (!opened_) {
    opened_ = true;
    PeriodComboBox->addItems(Model.ReportPeriods());
    Model.Open();
  }
}

bool TArchiveForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ReadoutGrid && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      Model.ShowReadout();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void TArchiveForm::UseSettings(const quelm::ArchiveSettings& settings) {
  if (opened_)
    Model.Reopen(settings);
  else
    Model.SetSettings(settings);
  Paint();
}

void TArchiveForm::SearchEditChange(const QString& text) { Model.SetSearch(text); }

void TArchiveForm::FilterButtonClick() {
  if (!Model.SetRange(FromEdit->text(), ToEdit->text()))
    quelm::showMessage(quelm::MessageKind::Warning, QStringLiteral("Dose archive"),
                       QStringLiteral("From and To are dates written as %1, or empty").arg(datePattern()));
}

bool TArchiveForm::buildReport(quelm::ReportDocument* document) {
  QString detail;
  const int rc = Model.BuildReport(ReportComboBox->currentIndex() == 1, PeriodComboBox->currentText(),
                                   document, &detail);
  if (rc) showFailure({rc, detail});
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
  if (const int rc = quelm::PaintReport(document, printer)) showFailure({rc, printer.printerName()});
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
  if (!path) return;
  QString detail;
  if (const int rc = quelm::WriteReportPdf(document, *path, &detail)) showFailure({rc, detail});
}

// --- Painting -----------------------------------------------------------------------

void TArchiveForm::Paint() {
  if (painting_) return;
  painting_ = true;
  DatabaseDatLabel->setText(Model.IsOpen() ? Model.Location()
                                           : Model.Location() + QStringLiteral(" (not open)"));
  if (entriesShown_ != Model.ListSerial()) {
    entriesShown_ = Model.ListSerial();
    paintEntries();
    paintPeriods();
    paintReadouts();
  }
  if (PeriodGrid->currentRow() != Model.SelectedPeriod())
    PeriodGrid->setCurrentCell(Model.SelectedPeriod(), 0);
  if (ReadoutGrid->currentRow() != Model.SelectedRow()) ReadoutGrid->setCurrentCell(Model.SelectedRow(), 0);

  const quelm::ArchiveTotalsView& t = Model.Totals();
  const bool chosen = Model.Chosen().has_value();
  QuarterDatLabel->setText(chosen ? quelm::DoseText(t.totals.quarterToDate) : QString());
  YearDatLabel->setText(chosen ? quelm::DoseText(t.totals.yearToDate) : QString());
  LifetimeDatLabel->setText(chosen ? quelm::DoseText(t.totals.lifetime) : QString());
  LimitDatLabel->setText(quelm::DoseText(Model.Settings().annualLimit));
  ShareDatLabel->setText(chosen ? quelm::ShareText(t.share) : QString());
  DoseChart->data = Model.Chart();
  DoseChart->update();

  const quelm::ArchiveActions a = Model.Actions();
  AssignButton->setEnabled(a.assign);
  EndPeriodButton->setEnabled(a.endPeriod);
  ImportButton->setEnabled(a.import);
  ShowButton->setEnabled(a.showReadout);
  const bool report = ReportComboBox->currentIndex() == 1 ? a.summaryReport : a.personReport;
  PrintButton->setEnabled(report);
  SaveButton->setEnabled(report);

  const quelm::ArchiveImportProgress& im = Model.ImportProgress();
  ImportGauge->setMaximum(std::max(im.total, 1));
  ImportGauge->setValue(im.done);
  ImportGauge->setFormat(im.total ? QStringLiteral("%v of %m records") : QString());
  ImportGauge->setEnabled(im.running);
  const QString lines = im.lines.join(QLatin1Char('\n'));
  if (ImportResultMemo->toPlainText() != lines) ImportResultMemo->setPlainText(lines);
  painting_ = false;
}

void TArchiveForm::paintEntries() {
  EntryListBox->clear();
  int current = -1;
  const auto& entries = Model.Entries();
  for (size_t i = 0; i < entries.size(); ++i) {
    EntryListBox->addItem(entries[i].text());
    if (Model.Chosen() && Model.Chosen()->kind == entries[i].kind && Model.Chosen()->name == entries[i].name)
      current = static_cast<int>(i);
  }
  EntryListBox->setCurrentRow(current);
}

void TArchiveForm::paintPeriods() {
  const auto& periods = Model.Periods();
  PeriodGrid->setRowCount(static_cast<int>(periods.size()));
  for (int i = 0; i < static_cast<int>(periods.size()); ++i) {
    const quelm::WearPeriod& p = periods[static_cast<size_t>(i)];
    const QString cells[] = {p.dosimeter, quelm::PersonText(p.person), quelm::LocalDateText(p.from), periodEnd(p)};
    for (int c = 0; c < 4; ++c) PeriodGrid->setItem(i, c, new QTableWidgetItem(cells[c]));
  }
}

void TArchiveForm::paintReadouts() {
  const int rows = static_cast<int>(Model.Rows().size());
  ReadoutGrid->setUpdatesEnabled(false);
  ReadoutGrid->clearContents();
  ReadoutGrid->setRowCount(rows);
  QFont bold = ReadoutGrid->font();
  bold.setBold(true);
  QFont italic = ReadoutGrid->font();
  italic.setItalic(true);
  for (int r = 0; r < rows; ++r) {
    const bool high = Model.RowHigh(r);
    const bool conflict = Model.Rows()[static_cast<size_t>(r)].conflict;
    for (int c = 0; c < quelm::kArchiveColumnCount; ++c) {
      auto* item = new QTableWidgetItem(Model.CellText(r, c));
      if (quelm::kArchiveColumns[c].right) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
      // A high dose stands out; a conflicting record reads as a remark beside the list.
      if (high) {
        item->setFont(bold);
        item->setBackground(QColor(252, 220, 220));
      } else if (conflict) {
        item->setFont(italic);
        item->setBackground(QColor(255, 243, 205));
      }
      ReadoutGrid->setItem(r, c, item);
    }
  }
  // A person's list need not say whose it is on every row.
  ReadoutGrid->setColumnHidden(quelm::kColPerson,
                               Model.Chosen() && Model.Chosen()->kind == quelm::ArchiveEntry::Person);
  ReadoutGrid->resizeColumnsToContents();
  ReadoutGrid->horizontalHeader()->setSortIndicator(
      Model.SortColumn(), Model.SortDescending() ? Qt::DescendingOrder : Qt::AscendingOrder);
  ReadoutGrid->setUpdatesEnabled(true);
}

// --- Options ----------------------------------------------------------------------

TArchiveOptionsGroupBox::TArchiveOptionsGroupBox(QWidget* parent)
    : QGroupBox(QStringLiteral("Dose archive"), parent) {
  setObjectName(QStringLiteral("ArchiveOptionsGroupBox"));
  InUseDatLabel = new QLabel(this);
  InUseDatLabel->setObjectName(QStringLiteral("InUseDatLabel"));
  InUseDatLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
  DatabaseEdit = new QLineEdit(this);
  DatabaseEdit->setObjectName(QStringLiteral("DatabaseEdit"));
  DatabaseEdit->setMinimumWidth(fontMetrics().horizontalAdvance(QLatin1Char('x')) * 48);
  DatabaseEdit->setPlaceholderText(QStringLiteral("empty: the default file"));
  DatabaseEdit->setToolTip(QStringLiteral("sqlite:PATH, a path, or postgresql://user@host[:port]/dbname"));
  auto* label = new QLabel(QStringLiteral("&Database:"), this);
  label->setBuddy(DatabaseEdit);
  auto* hint = new QLabel(QStringLiteral("A file path, or postgresql://user@host[:port]/dbname"), this);
  auto* form = new QGridLayout(this);
  form->addWidget(new QLabel(QStringLiteral("In use:"), this), 0, 0);
  form->addWidget(InUseDatLabel, 0, 1);
  form->addWidget(label, 1, 0);
  form->addWidget(DatabaseEdit, 1, 1);
  form->addWidget(hint, 2, 1);
  Load();
}

void TArchiveOptionsGroupBox::Load() {
  const quelm::ArchiveSettings s = quelm::ReadArchiveSettings(quelm::configFilePath());
  DatabaseEdit->setText(s.database);
  quelm::ArchiveLocation l;
  QString error;
  InUseDatLabel->setText(quelm::ParseArchiveLocation(s.database, &l, &error) ? s.database : l.displayText());
}

bool TArchiveOptionsGroupBox::Accept() {
  const QString text = DatabaseEdit->text().trimmed();
  quelm::ArchiveSettings s = quelm::ReadArchiveSettings(quelm::configFilePath());
  if (text == s.database.trimmed()) return true;
  quelm::ArchiveLocation l;
  QString error;
  if (const int rc = quelm::ParseArchiveLocation(text, &l, &error)) {
    showFailure({rc, error});
    DatabaseEdit->setFocus();
    return false;
  }
  if (!quelm::WriteArchiveDatabase(quelm::configFilePath(), text)) {
    quelm::reportUnableToWrite(quelm::configFilePath());
    return false;
  }
  s.database = text;
  InUseDatLabel->setText(l.displayText());
  if (Changed) Changed(s);
  return true;
}
