#pragma once
// TRSDebugForm ("RSDebug"): the frame monitor. Shows the last frame sent and
// the last frame received, byte dump and header fields; filled and shown
// after each exchange when diagnostic bit 0x10 is set.

#include <QDialog>

#include "link/FrameDump.h"

class QLabel;
class QLineEdit;
class QPushButton;

class TRSDebugForm : public QDialog {
  Q_OBJECT
 public:
  explicit TRSDebugForm(QWidget* parent = nullptr);
  ~TRSDebugForm() override;

  QLabel* TransmitLabel;
  QLineEdit* TransmitEdit;
  QLabel *TrmSyncLabel, *TrmSyncDatLabel, *TrmLengthLabel, *TrmLengthDatLabel, *TrmSILabel, *TrmSIDatLabel,
      *TrmIDLabel, *TrmIDDatLabel, *TrmSeqNumLabel, *TrmSeqNumDatLabel, *TrmCRCLabel, *TrmCRCDatLabel;
  QLabel* RecieveLabel;
  QLineEdit* RecieveEdit;
  QLabel *RcvSyncLabel, *RcvSyncDatLabel, *RcvLengthLabel, *RcvLengthDatLabel, *RcvSILabel, *RcvSIDatLabel,
      *RcvIDLabel, *RcvIDDatLabel, *RcvSeqNumLabel, *RcvSeqNumDatLabel, *RcvCRCLabel, *RcvCRCDatLabel;
  QPushButton* OKButton;

  void FormCreate();
  void OKButtonClick();

  // Fills the fields from a dump, repaints and shows the window.
  void ShowFrames(const quelm::FrameMonitorData& data);
};

