#pragma once
// The look-up list window, which pages through the reader's directory of
// look-up entries and lets the operator pick or delete entries, and the
// three small dialogs that ask for a type letter, a type letter with a
// serial number, or a serial number. All are shown modally through the
// prompter and keep their results between showings.

#include <QDialog>
#include <optional>

#include "parameters/BulbParamBlock.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

class TLUTListForm : public QDialog {
  Q_OBJECT

 public:
  // Entries can be deleted only at the service level, as it is when the
  // window is made.
  explicit TLUTListForm(QWidget* parent = nullptr);
  ~TLUTListForm() override;

  QListWidget* LUTListBox;
  QPushButton* OkButton;
  QPushButton* DeleteButton;
  QPushButton* DelAllButton;
  QPushButton* RefreshButton;
  QPushButton* CancelButton;
  QLabel* ReadingLabel;

  static inline const QString kNoSelection = QStringLiteral("NO_SN");
  TBulbParamBlock Commands;  // sends ".V" and ".E"
  QString SelectedKey = kNoSelection;

  // The first activation of a showing: no selection, then the directory.
  // Later activations of the same showing (after a message box of the link,
  // say) read nothing again.
  void FormActivate();
  void LoadLUTList();
  void OkButtonClick();
  void DeleteButtonClick();
  void DelAllButtonClick();
  void RefreshButtonClick();
  void CancelButtonClick();

  void done(int result) override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  bool loaded_ = false;  // the directory has been read in this showing
  bool professional_;
};

class TTypeForm : public QDialog {
  Q_OBJECT

 public:
  explicit TTypeForm(QWidget* parent = nullptr);
  ~TTypeForm() override;

  QLineEdit* KTYPEEdit;
  QPushButton* OkButton;
  QString KeyType;  // the letter of the last Ok; empty at start

  void OkButtonClick();
};

class TTSnForm : public QDialog {
  Q_OBJECT

 public:
  explicit TTSnForm(QWidget* parent = nullptr);
  ~TTSnForm() override;

  QLineEdit* KTYPEEdit;
  QLineEdit* KSNEdit;
  QPushButton* ListButton;
  QPushButton* OkButton;
  // Type and serial of the last Ok (also of an Ok that kept the dialog open).
  QString KeyType;
  QString KeySN;

  void ListButtonClick();
  void OkButtonClick();
};

class TSNForm : public QDialog {
  Q_OBJECT

 public:
  explicit TSNForm(QWidget* parent = nullptr);
  ~TSNForm() override;

  QLineEdit* KSNEdit;
  QPushButton* OkButton;
  QPushButton* CancelButton;
  QString KeySN;

  void OkButtonClick();
  void CancelButtonClick();
};


// Shows the look-up list window: the picked entry's five characters, or
// nothing when none was picked.
std::optional<QString> PickFromLUTList();
