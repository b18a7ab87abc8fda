#pragma once
// The dosimeter parameter table window: two columns of labelled edits built
// from the table's rows, the source and "Write As" choices, the file,
// reader and look-up buttons, and the error-mask editor.
// quelm::DosimeterTableJob does the work; this window paints the job and
// forwards the clicks.

#include <QDialog>
#include <array>
#include <functional>
#include <optional>
#include <vector>

#include "base/BusyCursor.h"
#include "parameters/DosimeterTableJob.h"
#include "parameters/ParamIoBoxes.h"

class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The File I/O and COM I/O boxes' members are ParamIoBoxes'.
class TBptSubForm : public QDialog, public quelm::ParamIoBoxes {
  Q_OBJECT

 public:
  // readOutText: the text of a last read-out time (seconds since 1980).
  explicit TBptSubForm(std::function<QString(uint32_t)> readOutText, QWidget* parent = nullptr);
  ~TBptSubForm() override;

  QGroupBox* KeyDataSourceGroupBox;  // "Source of Table"
  QButtonGroup* KeyDataSource;       // ids: quelm::TableSource
  QLineEdit* LROEdit;
  QLabel* DLFBLabel;  // carries the linearity hint
  QLabel* WarningDatLabel;
  QGroupBox* SaveAsGroupBox;  // "Write As"
  QButtonGroup* SaveAs;       // ids: quelm::TableSource
  QGroupBox* LookUpGroupBox;  // "Look Up"
  QPushButton* ListLUTButton;
  QPushButton* CancelButton;

  quelm::DosimeterTableJob Job;

  // The edit of a field ("KTYPEEdit" for KTYPE); nullptr without one.
  QLineEdit* edit(const char* key) const;
  void SetLayout(quelm::TableLayout layout);
  void KeyDataSourceClick(int source);
  void SaveAsGroupBoxClick(int writeAs);
  void DataRefresh();
  void ReadCOMButtonClick();
  void WriteCOMButtonClick();
  void ReadFileButtonClick();
  void WriteFileButtonClick();
  void ListLUTButtonClick();
  void ErrMaskEditClick();
  void CancelButtonClick();

  // Read, Write and the look-up list greyed while the reader cannot take
  // commands (a software update holds the line).
  void SetReaderAvailable(bool available);

  // The error-mask editor's way in: the mask the table holds, and a new one
  // for the table and its edit.
  uint8_t ErrMask() const { return static_cast<uint8_t>(Job.Table.Record.ERRMASK); }
  void SetErrMask(uint8_t mask);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void paint();
  void run(const char* name, quelm::ParamOutcome (quelm::DosimeterTableJob::*operation)());

  std::vector<QLineEdit*> edits_;  // by field of the table; nullptr without an edit
  std::optional<quelm::BusyCursor> busy_;
};

class TErrMaskForm : public QDialog {
  Q_OBJECT

 public:
  explicit TErrMaskForm(QWidget* parent = nullptr);
  ~TErrMaskForm() override;

  std::array<QCheckBox*, std::size(quelm::kErrMaskBoxes)> Boxes{};
  QPushButton* CloseButton;

  // The boxes from the table's mask (not from the edit's text).
  void FormActivate();
  // The ticked boxes into the table and its edit; then hidden.
  void CloseButtonClick();

 protected:
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;
};

