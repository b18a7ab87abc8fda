#pragma once
// The dosimeter parameter table window: two columns of labelled edits, the
// source and "Write As" choices, the file, reader and look-up buttons, and
// the error-mask editor. The work is done by quelm::DosimeterTables; this
// window shows its texts, switches the layouts, asks the questions and
// reports the results.

#include <QDialog>
#include <array>
#include <functional>

#include "parameters/DosimeterTables.h"

class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

class TBptSubForm : public QDialog {
  Q_OBJECT

 public:
  // professional: the service level, fixed for the window's life.
  // readOutText: the text of a last read-out time (seconds since 1980).
  TBptSubForm(bool professional, std::function<QString(uint32_t)> readOutText, QWidget* parent = nullptr);
  ~TBptSubForm() override;

  QGroupBox* KeyDataSourceGroupBox;  // "Source of Table"
  QButtonGroup* KeyDataSource;       // ids: quelm::TableSource
  QLineEdit* KTYPEEdit;
  QLineEdit* KSNEdit;
  QLineEdit* EVASTARTEdit;
  QLineEdit* EVALENEdit;
  QLineEdit* EVANORMEdit;
  QLineEdit* LROEdit;
  QLineEdit* DTFAEdit;
  QLineEdit* DTFBEdit;
  QLineEdit* DLFNEdit;
  QLabel* DLFBLabel;  // carries the linearity hint
  QLineEdit* DLFBEdit;
  QLineEdit* MDOSEEdit;
  QLineEdit* HEATCEdit;
  QLineEdit* DHFAEdit;
  QLineEdit* DHFBEdit;
  QLineEdit* IPHEdit;
  QLineEdit* TANNEdit;
  QLineEdit* ErrMaskEdit;
  QLineEdit* TSEdit;
  QLineEdit* TREGEdit;
  QLineEdit* TLIMEdit;
  QLineEdit* HUSEdit;
  QLabel* WarningDatLabel;
  QGroupBox* FileGroupBox;  // "File I/O"
  QPushButton* ReadFileButton;
  QPushButton* WriteFileButton;
  QGroupBox* COMGroupBox;  // "COM I/O"
  QPushButton* ReadCOMButton;
  QPushButton* WriteCOMButton;
  QGroupBox* SaveAsGroupBox;  // "Write As"
  QButtonGroup* SaveAs;       // ids: quelm::TableSource
  QGroupBox* LookUpGroupBox;  // "Look Up"
  QPushButton* ListLUTButton;
  QPushButton* CancelButton;

  quelm::DosimeterTables Tables;

  enum class Layout { Default, LookUp, Dosimeter };
  void SetLayout(Layout layout);
  // The choices as the operator makes them: a source also sets "Write As";
  // "Write As" Dosimeter switches to the dosimeter layout.
  void KeyDataSourceClick(int source);
  void SaveAsGroupBoxClick(int writeAs);

  void DataRefresh();
  void ReadCOMButtonClick();
  void WriteCOMButtonClick();
  void DefaultButtonClick();
  void KeyButtonClick();
  void LookupButtonClick();
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
  uint8_t ErrMask() const { return static_cast<uint8_t>(Tables.Table.Record.ERRMASK); }
  void SetErrMask(uint8_t mask);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ReadDefault();
  // Window-level look-up transfer; true when the entry went in.
  bool WriteLUTBlock();
  void ReadLUTBlock();
  void pullEdits();
  void pushEdits();
  bool takeIdentifier(bool upperCase);
  void showConversionError(const quelm::CollectFailure& failure);
  void setSource(quelm::TableSource source);
  void setWriteAs(quelm::TableSource writeAs);

  bool professional_;
  std::function<QString(uint32_t)> readOutText_;
  std::array<QLineEdit*, 23> edits_{};  // by field of bulbParamFields(); nullptr without edit
};

class TErrMaskForm : public QDialog {
  Q_OBJECT

 public:
  explicit TErrMaskForm(QWidget* parent = nullptr);
  ~TErrMaskForm() override;

  std::array<QCheckBox*, 7> Boxes{};  // as quelm::kErrMaskBoxes
  QPushButton* CloseButton;

  // The boxes from the table's mask (not from the edit's text).
  void FormActivate();
  // The ticked boxes into the table and its edit; then hidden.
  void CloseButtonClick();

 protected:
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;
};

extern TBptSubForm* BptSubForm;
extern TErrMaskForm* ErrMaskForm;
