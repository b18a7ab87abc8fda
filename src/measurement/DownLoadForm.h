#pragma once
// TDownLoadForm ("DownLoad"): the download window. It shows the state of its
// DownloadJob and turns the operator's clicks and entries into calls of it;
// the workflow itself (reader queries, corrections, files, the block loop)
// lives in the job. Not modal; created once at start-up.

#include <QWidget>
#include <functional>

#include "base/WidgetsFwd.h"
#include "measurement/Download.h"

class TAppendForm;

class TDownLoadForm : public QWidget {
  Q_OBJECT
 public:
  explicit TDownLoadForm(QWidget* parent = nullptr);
  ~TDownLoadForm() override;

  quelm::DownloadJob Job;

  QGroupBox* SourceGroupBox;
  QRadioButton* ReaderRadioButton;
  QRadioButton* FileRadioButton;
  QLineEdit* SourceFileNameEdit;
  QPushButton* SourceBrowseButton;
  QComboBox* DownLoadTypeComboBox;
  QGroupBox* BlockIDXGroupBox;
  // Up-down boxes 0..32767 without wrap.
  QSpinBox* DownLoadFromEdit;
  QSpinBox* DownLoadToEdit;
  QGroupBox* DateGroupBox;
  QLineEdit* DownLoadYearEdit;
  QLineEdit* DownLoadMonthEdit;
  QLineEdit* DownLoadDayEdit;
  QLineEdit* DownLoadHourEdit;
  QLineEdit* DownLoadMinEdit;
  QGroupBox* StorageGroupBox;
  QLineEdit* DownLoadFileNameEdit;
  QPushButton* DownLoadBrowseButton;
  QCheckBox* HeaderCheckBox;
  QCheckBox* DetailedTextCheckBox;
  QLabel* HeaderFileNameLabel;
  QLabel* DetailedTextFileNameLabel;
  QProgressBar* DownLoadCGauge;
  QLabel* ActualBlockIDXLabel;  // "Actual BlockNum:"
  QLabel* ActualBlockIDXDatLabel;
  QPushButton* StartButton;
  QPushButton* AbortButton;
  QPushButton* OKButton;
  QPushButton* ArchiveButton;  // shown when OpenArchive is set

  // Opens the dose archive window (to see what a download brought).
  std::function<void()> OpenArchive;
  // Runs when the window closes (the main window becomes usable again).
  std::function<void()> OnClosed;
  // Runs after every Start, once its result was shown (a dose archive takes
  // what a complete download wrote).
  std::function<void(const quelm::DownloadResult&)> AfterDownload;
  // The question window to ask; the program's TAppendForm when not set.
  TAppendForm* Question = nullptr;

  void ReaderRadioButtonClick();
  void FileRadioButtonClick();
  void DownLoadTypeComboBoxChange(int index);
  void SourceBrowseButtonClick();
  void SourceFileNameEditEnter();
  void DownLoadBrowseButtonClick();
  void StartButtonClick();
  void AbortButtonClick();
  void OKButtonClick();
  // Shows the job's state in the controls.
  void Paint();
  // The reader's commands (the type list, Start from the reader) greyed while
  // the reader cannot take commands (a software update holds the line).
  void SetReaderAvailable(bool available);

 protected:
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void showResult(const quelm::DownloadResult& result);
  // The block numbers the boxes show, into the job.
  void takeRange();
  QLineEdit* dateEdit(quelm::DateField field) const;
  bool readerAvailable_ = true;
  bool editingStorage_ = false;
  bool editingSource_ = false;
  std::unique_ptr<TAppendForm> ownQuestion_;
};

