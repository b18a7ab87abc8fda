#pragma once
// TSrvForm ("Service Functions"): the service technician's direct control of
// the reader's hardware. Each button is one reader command of
// service/ServiceCommands.h; the window keeps nothing but its controls. Its
// Exit also ends a software update that waits for the reader.

#include <QWidget>

#include "base/WidgetsFwd.h"

class TFrameLink;

class TSrvForm : public QWidget {
  Q_OBJECT
 public:
  // link: the program's link, whose loader wait Exit ends.
  explicit TSrvForm(TFrameLink* link, QWidget* parent = nullptr);
  ~TSrvForm() override;

  QGroupBox* HVSettingGroupBox;
  QLabel* HVByCtrlByteLabel;
  QLineEdit* HVEdit;
  QPushButton* HVButton;
  QGroupBox* HeatingCurrentSettingGroupBox;
  QLabel* HCByCtrlByteLabel;
  QLineEdit* HCEdit;
  QPushButton* HCButton;
  QGroupBox* CtrlBitsSettingGroupBox;
  QCheckBox* HeatingCheckBox;
  QCheckBox* CalLightCheckBox;
  QCheckBox* HVCheckBox;
  QCheckBox* BulbSenseLEDCheckBox;
  QLabel* SensitivityLabel;
  QComboBox* SensitivityComboBox;
  QLabel* HighMediumLowLabel;
  QPushButton* CtrlBitsButton;
  QGroupBox* ReadingADCGroupBox;
  QLabel* ADINLabel;
  QLineEdit* ADINEdit;
  QLabel* ADBATLabel;
  QLineEdit* ADBATEdit;
  QPushButton* ReadingADCButton;
  QGroupBox* GroupBox1;
  QPushButton* ReadingRTCButton;
  QLineEdit* ReadingRTCEdit;
  QGroupBox* ErrorLogGroupBox;
  QListWidget* ErrorLogListBox;
  QPushButton* ReadLogButton;
  QPushButton* DeleteLogButton;
  QPushButton* EnableSettingButton;
  QPushButton* DisableSettingButton;
  QPushButton* SrvCancelButton;

  // The commands greyed while the reader cannot take them (a software update
  // holds the line); Exit, which ends the update's wait, stays.
  void SetReaderAvailable(bool available);

  void FormCreate();
  void HVButtonClick();
  void HCButtonClick();
  void CtrlBitsButtonClick();
  void ReadingADCButtonClick();
  void ReadingRTCButtonClick();
  void EnableSettingButtonClick();
  void DisableSettingButtonClick();
  void ReadLogButtonClick();
  void DeleteLogButtonClick();
  void SrvCancelButtonClick();

  static constexpr int kLeft = 145;
  static constexpr int kTop = 5;

 private:
  void SetValue(QLineEdit* edit, int which);
  void AutomaticSetting(bool enable);

  TFrameLink* Link;
};

