#pragma once
// TAppendForm: the question what a download does with a storage file that
// exists. Shown modally through the dialog seam; Choice holds the answer
// (an ExistingFileChoice). Closing the window without a button cancels.

#include <QDialog>

class QLabel;
class QPushButton;

class TAppendForm : public QDialog {
  Q_OBJECT
 public:
  explicit TAppendForm(QWidget* parent = nullptr);
  ~TAppendForm() override;

  QLabel* WarningLabel;
  QPushButton* AppendButton;     // "Append" (0)
  QPushButton* OverwriteButton;  // "Overwrite" (1)
  QPushButton* NewButton;        // "Append+New" (2)
  QPushButton* CancelButton;     // "Cancel" (3)

  int Choice = 0;

  // Shows the question for the storage file and returns the choice.
  int Ask(const QString& storageName);
};

