#pragma once
// The search window of the content list. It owns the one search request
// that every list operation of the main window starts from, and the
// block-number limits that bound paging in a block-number search.

#include <QDialog>
#include <cstdint>

#include "measurement/BlockRecord.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

class TSearchForm : public QDialog {
  Q_OBJECT

 public:
  explicit TSearchForm(QWidget* parent = nullptr);

  QGroupBox* EnableGroupBox;
  QCheckBox* IndexCheckBox;
  QCheckBox* TimeCheckBox;
  QCheckBox* KeyCheckBox;
  QGroupBox* ConditionGroupBox;
  QLabel* FromCSpinLabel;
  QLineEdit* FromCSpinEdit;
  QLabel* UntilCSpinLabel;
  QLineEdit* UntilCSpinEdit;
  QLabel* FromLabel;
  QLineEdit* FromEdit;
  QLabel* UntilLabel;
  QLineEdit* UntilEdit;
  QLabel* KeyLabel;
  QLineEdit* KeyEdit;
  QPushButton* OkButton;

  SearchRequest Request;
  uint8_t RequestLength = sizeof(SearchRequest);
  uint16_t UpperLimit = 0;  // the To number at Ok: paging towards newer blocks stops there
  uint16_t LowerLimit = 0;  // the From number at Ok: paging towards older blocks stops there
  int32_t Accepted = 0;     // the last showing ended with Ok
  int32_t Initialised = 0;  // Request has its first-use defaults
  uint32_t FromValue = 0;
  uint32_t ToValue = 0;

  // Shows the window modally (through the prompter) with the fields filled
  // from Request. Returns Accepted.
  int Execute();

  void FormActivate();
  void OkButtonClick();
  // 0 and the stamp, or -1 for a text that is no date of the form
  // 2006.06.24 15:30 within the reader's date limits (ParseDateText; a year
  // outside them is moved to the nearer one).
  int ParseDateTime(const QString& text, uint8_t stamp[5]) const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void FromCSpinEditChange(const QString& text);
  void UntilCSpinEditChange(const QString& text);
  void KeyEditChange(const QString& text);
};
