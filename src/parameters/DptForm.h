#pragma once
// The reader parameter table window: one row per captioned field of the
// table, the file buttons, and the reader buttons, of which Write needs the
// service level. quelm::ReaderParamJob does the work; this window paints
// the job and forwards the clicks.

#include <QDialog>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "base/BusyCursor.h"
#include "parameters/ParamIoBoxes.h"
#include "parameters/ReaderParamJob.h"

class QGroupBox;
class QLineEdit;
class QPushButton;

// The File I/O and COM I/O boxes' members are ParamIoBoxes'.
class TDptForm : public QDialog, public quelm::ParamIoBoxes {
  Q_OBJECT

 public:
  // maxPostHeating: the main window's configured bound of POSTH.
  explicit TDptForm(std::function<int32_t()> maxPostHeating = {}, QWidget* parent = nullptr);
  ~TDptForm() override;

  QPushButton* CancelButton;

  quelm::ReaderParamJob Job;

  // The edit of a field ("HVHEdit" for HVH); nullptr for DCALX0.
  QLineEdit* edit(const char* key) const;
  void DataRefresh();

  void ReadCOMButtonClick();
  void WriteCOMButtonClick();
  void ReadFileButtonClick();
  void WriteFileButtonClick();
  void CancelButtonClick();
  void FormActivate();

  // Read and Write greyed while the reader cannot take commands (a
  // software update holds the line).
  void SetReaderAvailable(bool available);

 protected:
  void changeEvent(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void paint();
  void run(const char* name, quelm::ParamOutcome (quelm::ReaderParamJob::*operation)());

  std::vector<QLineEdit*> edits_;  // by field of the table; nullptr without an edit
  std::optional<quelm::BusyCursor> busy_;
};
