#pragma once
// TSwUpdate ("Software Update"): sends a reader program file to the reader's
// loader. The window only starts the update, shows its status and progress
// and passes "Abort" on; the update itself is quelm::SoftwareUpdate.

#include <QWidget>
#include <memory>

#include "service/SoftwareUpdate.h"

class QLabel;
class QProgressBar;
class QPushButton;
class TFrameLink;

class TSwUpdate : public QWidget {
  Q_OBJECT
 public:
  explicit TSwUpdate(TFrameLink& link, QWidget* parent = nullptr);
  ~TSwUpdate() override;

  QLabel* DownloadLabel;
  QProgressBar* DownloadProgressBar;
  QPushButton* ProgramDownloadButton;
  QPushButton* DownloadAbortButton;

  void ProgramDownloadButtonClick();
  void DownloadAbortButtonClick();

  // A job (a download, this update) holds the reader's line: "Program
  // Download" is greyed meanwhile, as the update would be refused.
  void SetLineInUse(bool inUse);

  quelm::SoftwareUpdate& Update() { return Update_; }

  static constexpr int kWidth = 250;
  static constexpr int kHeight = 147;
  static inline const QString kProgramFilter =
      QStringLiteral("Quelm program files (*.bin)|*.BIN|All files (*.*)|*.*");

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void paintStart();

  quelm::SoftwareUpdate Update_;
  bool lineInUse_ = false;
};

