#pragma once
// The reader parameter table window: one edit per field of the table, the
// file buttons, and the reader buttons, of which Write needs the service
// level. The work is done by quelm::ReaderParamTable; this window shows its
// texts, asks the questions and reports the results.

#include <QDialog>
#include <array>
#include <cstdint>
#include <functional>

#include "parameters/ReaderParamTable.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

class TDptForm : public QDialog {
  Q_OBJECT

 public:
  // maxPostHeating: the main window's configured bound of POSTH.
  explicit TDptForm(std::function<int32_t()> maxPostHeating = {}, QWidget* parent = nullptr);
  ~TDptForm() override;

  QLineEdit* RTYPEEdit;
  QLineEdit* DIDEdit;
  QLineEdit* HVHEdit;
  QLineEdit* HVMEdit;
  QLineEdit* HVLEdit;
  QLineEdit* DCALLEdit;
  QLineEdit* DCALHEdit;
  QLineEdit* DCBGHEdit;
  QLineEdit* MAXTEdit;
  QLineEdit* MINTEdit;
  QLineEdit* U100Edit;
  QLineEdit* U0Edit;
  QLineEdit* DCAL20Edit;
  QLineEdit* DCALX1Edit;
  QLineEdit* POSTHEdit;
  QLineEdit* CONTREdit;
  QGroupBox* FileGroupBox;  // "File I/O"
  QPushButton* ReadFileButton;
  QPushButton* WriteFileButton;
  QGroupBox* COMGroupBox;  // "COM I/O"
  QPushButton* ReadCOMButton;
  QPushButton* WriteCOMButton;
  QPushButton* CancelButton;

  quelm::ReaderParamTable Table;

  // The operations behind the buttons; the Click handlers add the
  // confirmation and the dialogs.
  void ReadCOMData();
  void WriteCOMData();
  void DataRefresh();
  // Stops at an edit that does not convert; the caller shows the failure.
  quelm::CollectFailure DataCollect();

  void ReadCOMButtonClick();
  void WriteCOMButtonClick();
  void ReadFileButtonClick();
  void WriteFileButtonClick();
  void CancelButtonClick();
  void FormActivate();

  // Read and Write greyed while the reader cannot take commands (a
  // software update holds the line).
  void SetReaderAvailable(bool available);

  // The edit of a field of the table, nullptr for DCALX0.
  QLineEdit* editOf(int field) const { return edits_[static_cast<size_t>(field)]; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void changeEvent(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void updateWriteButton();
  void showConversionError(const quelm::CollectFailure& failure);
  void pullEdits();
  void pushEdits();

  std::function<int32_t()> maxPostHeating_;
  std::array<QLineEdit*, 17> edits_{};  // by field of the table
};
