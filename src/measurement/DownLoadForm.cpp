#include "measurement/DownLoadForm.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

#include "base/ButtonBox.h"
#include "base/BusyCursor.h"
#include "base/EnterMovesOn.h"
#include "base/SharedFileDialogs.h"
#include "base/WindowOwner.h"
#include "measurement/AppendForm.h"


namespace {

using quelm::BusyCursor;

// Limits of the date edits: the arrow keys step within them. They are the
// reader's date limits, which every front end keeps; the year steps back to
// kFirstEditYear here.
struct EditLimits {
  QLineEdit* TDownLoadForm::*edit;
  int maxLength, min, max;
};
constexpr int kBlockNumberMax = 32767;
constexpr EditLimits dateLimits(QLineEdit* TDownLoadForm::*edit, quelm::DateField field) {
  const quelm::DateFieldLimits& l = quelm::kDateLimits[field];
  return {edit, l.maxLength, field == quelm::kYear ? quelm::kFirstEditYear : l.min, l.max};
}
const EditLimits kEditLimits[] = {
    dateLimits(&TDownLoadForm::DownLoadYearEdit, quelm::kYear),
    dateLimits(&TDownLoadForm::DownLoadMonthEdit, quelm::kMonth),
    dateLimits(&TDownLoadForm::DownLoadDayEdit, quelm::kDay),
    dateLimits(&TDownLoadForm::DownLoadHourEdit, quelm::kHour),
    dateLimits(&TDownLoadForm::DownLoadMinEdit, quelm::kMinute),
};

void setText(QLineEdit* edit, const QString& text) {
  if (edit->text() == text) return;
  const QSignalBlocker block(edit);
  edit->setText(text);
}

// A number the job holds as text; what the box cannot show (a negative
// preset, which Start corrects to 0 anyway) shows as its nearest limit.
void setNumber(QSpinBox* box, const QString& text) {
  const int v = static_cast<int>(std::clamp<long long>(text.toLongLong(), box->minimum(), box->maximum()));
  if (box->value() == v) return;
  const QSignalBlocker block(box);
  box->setValue(v);
}

}  // namespace

TDownLoadForm::TDownLoadForm(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName(QStringLiteral("DownLoadForm"));
  setWindowTitle(QStringLiteral("DownLoad"));
  const auto edit = [](QWidget* parent, const char* name) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(QLatin1String(name));
    return e;
  };

  SourceGroupBox = new QGroupBox(this);
  ReaderRadioButton = new QRadioButton(QStringLiteral("&Reader"), SourceGroupBox);
  ReaderRadioButton->setObjectName(QStringLiteral("ReaderRadioButton"));
  FileRadioButton = new QRadioButton(QStringLiteral("&File"), SourceGroupBox);
  FileRadioButton->setObjectName(QStringLiteral("FileRadioButton"));
  SourceFileNameEdit = edit(SourceGroupBox, "SourceFileNameEdit");
  SourceBrowseButton = quelm::makeButton(SourceGroupBox, "SourceBrowseButton", QStringLiteral("Br&owse"));
  DownLoadTypeComboBox = new QComboBox(SourceGroupBox);
  DownLoadTypeComboBox->setObjectName(QStringLiteral("DownLoadTypeComboBox"));
  for (const char* caption : quelm::kDownloadTypeCaptions)
    DownLoadTypeComboBox->addItem(QLatin1String(caption));
  auto* sourceGrid = new QGridLayout(SourceGroupBox);
  sourceGrid->addWidget(ReaderRadioButton, 0, 0);
  sourceGrid->addWidget(DownLoadTypeComboBox, 0, 1, 1, 2);
  sourceGrid->addWidget(FileRadioButton, 1, 0);
  sourceGrid->addWidget(SourceFileNameEdit, 1, 1);
  sourceGrid->addWidget(SourceBrowseButton, 1, 2);

  BlockIDXGroupBox = new QGroupBox(QStringLiteral("Download from BlockNum _ to BlockNum _:"), this);
  BlockIDXGroupBox->setObjectName(QStringLiteral("BlockIDXGroupBox"));
  const auto blockNumber = [this](const char* name) {
    auto* b = new QSpinBox(BlockIDXGroupBox);
    b->setObjectName(QLatin1String(name));
    b->setRange(0, kBlockNumberMax);
    b->setWrapping(false);
    return b;
  };
  DownLoadFromEdit = blockNumber("DownLoadFromEdit");
  DownLoadToEdit = blockNumber("DownLoadToEdit");
  // Enter moves on from the block numbers too, as in the other windows.
  quelm::enterMovesOn({DownLoadFromEdit, DownLoadToEdit});
  auto* rangeRow = new QHBoxLayout(BlockIDXGroupBox);
  rangeRow->addWidget(DownLoadFromEdit);
  rangeRow->addWidget(DownLoadToEdit);

  DateGroupBox = new QGroupBox(QStringLiteral("by Date (download from dated block to last block):"), this);
  DateGroupBox->setObjectName(QStringLiteral("DateGroupBox"));
  DownLoadYearEdit = edit(DateGroupBox, "DownLoadYearEdit");
  DownLoadMonthEdit = edit(DateGroupBox, "DownLoadMonthEdit");
  DownLoadDayEdit = edit(DateGroupBox, "DownLoadDayEdit");
  DownLoadHourEdit = edit(DateGroupBox, "DownLoadHourEdit");
  DownLoadMinEdit = edit(DateGroupBox, "DownLoadMinEdit");
  auto* dateRow = new QHBoxLayout(DateGroupBox);
  for (int f = 0; f < quelm::kDateFieldCount; ++f)
    dateRow->addWidget(dateEdit(static_cast<quelm::DateField>(f)));

  StorageGroupBox = new QGroupBox(this);
  DownLoadFileNameEdit = edit(StorageGroupBox, "DownLoadFileNameEdit");
  DownLoadBrowseButton =
      quelm::makeButton(StorageGroupBox, "DownLoadBrowseButton", QStringLiteral("&Browse"));
  HeaderCheckBox = new QCheckBox(QStringLiteral("Content List"), StorageGroupBox);
  HeaderCheckBox->setObjectName(QStringLiteral("HeaderCheckBox"));
  DetailedTextCheckBox = new QCheckBox(QStringLiteral("Detailed text list"), StorageGroupBox);
  DetailedTextCheckBox->setObjectName(QStringLiteral("DetailedTextCheckBox"));
  HeaderFileNameLabel = new QLabel(StorageGroupBox);
  HeaderFileNameLabel->setObjectName(QStringLiteral("HeaderFileNameLabel"));
  DetailedTextFileNameLabel = new QLabel(StorageGroupBox);
  DetailedTextFileNameLabel->setObjectName(QStringLiteral("DetailedTextFileNameLabel"));
  quelm::gridRows({{DownLoadFileNameEdit, DownLoadBrowseButton},
                   {HeaderCheckBox, HeaderFileNameLabel},
                   {DetailedTextCheckBox, DetailedTextFileNameLabel}},
                  StorageGroupBox);

  DownLoadCGauge = new QProgressBar(this);
  DownLoadCGauge->setObjectName(QStringLiteral("DownLoadCGauge"));
  ActualBlockIDXLabel = new QLabel(QStringLiteral("Actual BlockNum:"), this);
  ActualBlockIDXDatLabel = new QLabel(this);
  ActualBlockIDXDatLabel->setObjectName(QStringLiteral("ActualBlockIDXDatLabel"));
  auto* progressRow = new QHBoxLayout;
  progressRow->addWidget(DownLoadCGauge, 1);
  progressRow->addWidget(ActualBlockIDXLabel);
  progressRow->addWidget(ActualBlockIDXDatLabel);

  StartButton = quelm::makeButton(this, "StartButton", QStringLiteral("&Start"));
  AbortButton = quelm::makeButton(this, "AbortButton", QStringLiteral("&Abort"));
  OKButton = quelm::makeButton(this, "OKButton", QStringLiteral("&Close"));
  // What a download archived is one click away; hidden where no archive is wired.
  ArchiveButton = quelm::makeButton(this, "ArchiveButton", QStringLiteral("Dose arc&hive"));
  ArchiveButton->hide();
  auto* buttonRow = new QHBoxLayout;
  buttonRow->addWidget(ArchiveButton);
  buttonRow->addStretch();
  buttonRow->addWidget(StartButton);
  buttonRow->addWidget(AbortButton);
  buttonRow->addWidget(OKButton);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(SourceGroupBox);
  layout->addWidget(BlockIDXGroupBox);
  layout->addWidget(DateGroupBox);
  layout->addWidget(StorageGroupBox);
  layout->addLayout(progressRow);
  layout->addLayout(buttonRow);

  for (const EditLimits& l : kEditLimits) {
    QLineEdit* e = this->*l.edit;
    e->setMaxLength(l.maxLength);
    e->installEventFilter(this);
  }

  connect(ReaderRadioButton, &QRadioButton::clicked, this, &TDownLoadForm::ReaderRadioButtonClick);
  connect(FileRadioButton, &QRadioButton::clicked, this, &TDownLoadForm::FileRadioButtonClick);
  connect(DownLoadTypeComboBox, &QComboBox::activated, this, &TDownLoadForm::DownLoadTypeComboBoxChange);
  connect(SourceBrowseButton, &QPushButton::clicked, this, &TDownLoadForm::SourceBrowseButtonClick);
  connect(SourceFileNameEdit, &QLineEdit::returnPressed, this, &TDownLoadForm::SourceFileNameEditEnter);
  connect(SourceFileNameEdit, &QLineEdit::textEdited, this, [this](const QString& text) {
    editingSource_ = true;
    Job.SetSourceName(text);
    editingSource_ = false;
  });
  connect(DownLoadBrowseButton, &QPushButton::clicked, this, &TDownLoadForm::DownLoadBrowseButtonClick);
  connect(DownLoadFileNameEdit, &QLineEdit::textEdited, this, [this](const QString& text) {
    // The name takes its ".dat" when the operator leaves the edit.
    editingStorage_ = true;
    Job.SetStorageName(text);
    editingStorage_ = false;
  });
  connect(DownLoadFileNameEdit, &QLineEdit::editingFinished, this, &TDownLoadForm::Paint);
  connect(HeaderCheckBox, &QCheckBox::clicked, this, [this](bool on) { Job.SetContentList(on); });
  connect(DetailedTextCheckBox, &QCheckBox::clicked, this, [this](bool on) { Job.SetDetailedText(on); });
  const auto rangeEdited = [this] { takeRange(); };
  connect(DownLoadFromEdit, &QSpinBox::valueChanged, this, rangeEdited);
  connect(DownLoadToEdit, &QSpinBox::valueChanged, this, rangeEdited);
  for (int f = 0; f < quelm::kDateFieldCount; ++f) {
    const auto field = static_cast<quelm::DateField>(f);
    connect(dateEdit(field), &QLineEdit::textEdited, this,
            [this, field](const QString& text) { Job.SetDateText(field, text); });
  }
  // Enter moves on, as in the other windows.
  quelm::enterMovesOn({DownLoadYearEdit, DownLoadMonthEdit, DownLoadDayEdit, DownLoadHourEdit,
                       DownLoadMinEdit, DownLoadFileNameEdit});
  connect(StartButton, &QPushButton::clicked, this, &TDownLoadForm::StartButtonClick);
  connect(AbortButton, &QPushButton::clicked, this, &TDownLoadForm::AbortButtonClick);
  connect(OKButton, &QPushButton::clicked, this, &TDownLoadForm::OKButtonClick);
  connect(ArchiveButton, &QPushButton::clicked, this, [this] {
    if (OpenArchive) OpenArchive();
  });

  Job.onChanged = [this] { Paint(); };
  Job.askExistingFile = [this](const QString& storage) {
    TAppendForm* question = Question ? Question : quelm::OpenWindow<TAppendForm>();
    if (!question) {
      if (!ownQuestion_) ownQuestion_ = std::make_unique<TAppendForm>(this);
      question = ownQuestion_.get();
    }
    return question->Ask(storage);
  };
  Job.Activate(QDate::currentDate());
  Paint();
}

TDownLoadForm::~TDownLoadForm() {
  Job.onChanged = nullptr;
}

QLineEdit* TDownLoadForm::dateEdit(quelm::DateField field) const {
  QLineEdit* const edits[] = {DownLoadYearEdit, DownLoadMonthEdit, DownLoadDayEdit, DownLoadHourEdit,
                              DownLoadMinEdit};
  return edits[field];
}

void TDownLoadForm::Paint() {
  const quelm::DownloadState& s = Job.State();
  const quelm::DownloadControls& c = s.controls;
  const bool fromFile = s.source == quelm::DownloadSource::File;
  {
    const QSignalBlocker a(ReaderRadioButton), b(FileRadioButton);
    ReaderRadioButton->setChecked(!fromFile);
    FileRadioButton->setChecked(fromFile);
  }
  ReaderRadioButton->setEnabled(c.sourceChoice);
  FileRadioButton->setEnabled(c.sourceChoice);
  if (!editingSource_) setText(SourceFileNameEdit, s.sourceName);
  SourceFileNameEdit->setEnabled(c.sourceName);
  SourceBrowseButton->setEnabled(c.sourceName);
  {
    const QSignalBlocker block(DownLoadTypeComboBox);
    DownLoadTypeComboBox->setCurrentIndex(s.type);
  }
  DownLoadTypeComboBox->setEnabled(c.typeList && readerAvailable_);

  setNumber(DownLoadFromEdit, s.fromText);
  setNumber(DownLoadToEdit, s.toText);
  BlockIDXGroupBox->setEnabled(c.range);
  // An unsaved download shows its range in black; by date it is greyed.
  for (QSpinBox* e : {DownLoadFromEdit, DownLoadToEdit}) {
    QPalette p = e->palette();
    p.setColor(QPalette::Disabled, QPalette::Text,
               c.rangeGrey ? palette().color(QPalette::Disabled, QPalette::Text) : QColor(Qt::black));
    e->setPalette(p);
  }
  for (int f = 0; f < quelm::kDateFieldCount; ++f)
    setText(dateEdit(static_cast<quelm::DateField>(f)), s.dateTexts[f]);
  DateGroupBox->setEnabled(c.date);

  if (!editingStorage_) setText(DownLoadFileNameEdit, s.storageName);
  for (QWidget* w : std::initializer_list<QWidget*>{DownLoadFileNameEdit, DownLoadBrowseButton,
                                                    HeaderCheckBox, DetailedTextCheckBox})
    w->setEnabled(c.storage);
  HeaderCheckBox->setChecked(s.contentList);
  DetailedTextCheckBox->setChecked(s.detailedText);
  HeaderFileNameLabel->setText(QFileInfo(s.contentListName).fileName());
  DetailedTextFileNameLabel->setText(QFileInfo(s.detailedTextName).fileName());
  // A list that is not written shows its name greyed.
  HeaderFileNameLabel->setEnabled(s.contentList);
  DetailedTextFileNameLabel->setEnabled(s.detailedText);

  DownLoadCGauge->setRange(0, std::max(s.gaugeMax, 0));
  DownLoadCGauge->setValue(s.gaugeProgress);
  ActualBlockIDXDatLabel->setText(s.actualBlock);
  StartButton->setEnabled(c.start && (fromFile || readerAvailable_));
  AbortButton->setEnabled(c.abort);
}

void TDownLoadForm::SetReaderAvailable(bool available) {
  readerAvailable_ = available;
  Paint();
}

void TDownLoadForm::showResult(const quelm::DownloadResult& result) {
  Paint();
  quelm::ShowDownloadResult(result);
}

void TDownLoadForm::ReaderRadioButtonClick() { Job.ChooseReader(); }

void TDownLoadForm::FileRadioButtonClick() { Job.ChooseFile(); }

void TDownLoadForm::DownLoadTypeComboBoxChange(int index) {
  quelm::DownloadResult r;
  {
    BusyCursor busy;
    r = Job.SelectType(index);
  }
  showResult(r);
}

void TDownLoadForm::SourceBrowseButtonClick() {
  quelm::SharedFileDialog& dialog = quelm::sharedOpenDialog();
  dialog.Filter =
      quelm::filterFromPipes(QStringLiteral("Quelm data files (*.dat)|*.DAT|All files (*.*)|*.*"));
  if (!dialog.Execute()) return;
  showResult(Job.BrowseSource(dialog.FileName));
}

void TDownLoadForm::SourceFileNameEditEnter() {
  quelm::DownloadResult r;
  {
    BusyCursor busy;
    r = Job.SkimSource(SourceFileNameEdit->text());
  }
  showResult(r);
}

void TDownLoadForm::DownLoadBrowseButtonClick() {
  quelm::SharedFileDialog& dialog = quelm::sharedSaveDialog();
  dialog.Filter = quelm::filterFromPipes(QStringLiteral("Quelm data files (*.dat)|*.DAT"));
  if (!dialog.Execute()) return;
  showResult(Job.BrowseStorage(dialog.FileName));
}

void TDownLoadForm::StartButtonClick() {
  // What the edits show now is what Start takes.
  for (QSpinBox* b : {DownLoadFromEdit, DownLoadToEdit}) b->interpretText();
  takeRange();
  for (int f = 0; f < quelm::kDateFieldCount; ++f) {
    const auto field = static_cast<quelm::DateField>(f);
    Job.SetDateText(field, dateEdit(field)->text());
  }
  Job.SetStorageName(DownLoadFileNameEdit->text());
  quelm::DownloadResult r;
  {
    BusyCursor busy;
    r = Job.Start();
  }
  showResult(r);
  if (AfterDownload) AfterDownload(r);
}

void TDownLoadForm::AbortButtonClick() { Job.RequestAbort(); }

void TDownLoadForm::OKButtonClick() { close(); }

void TDownLoadForm::changeEvent(QEvent* event) {
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) Job.Activate(QDate::currentDate());
  QWidget::changeEvent(event);
}

void TDownLoadForm::closeEvent(QCloseEvent* event) {
  // Closing mid-way stops the download before its next block.
  if (Job.State().running) Job.RequestAbort();
  QWidget::closeEvent(event);
  if (OnClosed) OnClosed();
}

void TDownLoadForm::takeRange() {
  Job.SetRangeTexts(QString::number(DownLoadFromEdit->value()), QString::number(DownLoadToEdit->value()));
}

bool TDownLoadForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Up || key == Qt::Key_Down) {
      for (const EditLimits& l : kEditLimits) {
        QLineEdit* e = this->*l.edit;
        if (e != watched) continue;
        bool ok = false;
        const int v = e->text().trimmed().toInt(&ok);
        const int next = std::clamp(ok ? v + (key == Qt::Key_Up ? 1 : -1) : l.min, l.min, l.max);
        e->setText(QString::number(next));
        emit e->textEdited(e->text());
        return true;
      }
    }
  }
  return QWidget::eventFilter(watched, event);
}
