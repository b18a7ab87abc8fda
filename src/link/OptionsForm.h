#pragma once
// TOptionsForm ("Options"): the serial port number and baud rate, shown
// modally by "Options" > "Com Port" and by an exchange without a port.

#include <QDialog>
#include <functional>
#include <vector>

class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class TCOMPort;

// The main window's saved choice (its members PortNumber and BaudRate).
struct TSavedPortChoice {
  std::function<int()> PortNumber;
  std::function<void(int)> SetPortNumber;
  std::function<int()> BaudRate;
  std::function<void(int)> SetBaudRate;
};

// The saved choice as the port takes it, handed to the port: at start-up,
// before the window is ever built, and again when the window is built.
struct TPortChoice {
  int port;  // index in the port list, 0 = none
  int baud;  // index in the rate list
};
TPortChoice HandSavedPortChoice(TCOMPort& port, const TSavedPortChoice& saved);

class TOptionsForm : public QDialog {
  Q_OBJECT
 public:
  TOptionsForm(TCOMPort& port, TSavedPortChoice saved, QWidget* parent = nullptr);
  ~TOptionsForm() override;

  QGroupBox* SerialPortSetupGroupBox;
  QLabel* NurvoCOMPortNumberLabel;
  QComboBox* PortNumberComboBox;
  QLabel* DevicePathLabel;  // the device the chosen port names on this machine
  QLabel* BaudRateLabel;
  QComboBox* BaudRateComboBox;
  QPushButton* OKButton;
  QPushButton* CancelButton;

  // A group of another subsystem's settings below the port (the dose
  // archive's database), owned by the window. OK first asks accept(),
  // which may refuse (the window stays open); Cancel calls load() so that
  // the group shows the saved settings again.
  struct Section {
    QWidget* group = nullptr;
    std::function<bool()> accept;
    std::function<void()> load;
  };
  void AddSection(Section section);

  void FormCreate();
  void OKButtonClick();
  void CancelButtonClick();

  // Escape and the window's close button cancel as the Cancel button does.
  void reject() override;

 private:
  void ShowDevicePath(int portIndex);
  void ResolveBaudText();

  TCOMPort& COMPortDrv;
  TSavedPortChoice Saved;
  std::vector<Section> Sections;
  int LastBaudIndex = 0;
};

