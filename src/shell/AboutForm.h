#pragma once
// The About window: product, version and where the program keeps its
// configuration, data and serial port.

#include <QDialog>
#include <functional>

class QLabel;
class QPushButton;
class QGroupBox;

class TAboutForm : public QDialog {
  Q_OBJECT

 public:
  explicit TAboutForm(QWidget* parent = nullptr);
  ~TAboutForm() override;

  QLabel* ProductName;
  QLabel* Version;
  QGroupBox* InfoGroupBox;  // "General information:"
  QLabel* CfgFileLabel;
  QLabel* CfgFileDatLabel;
  QLabel* StoragePathLabel;
  QLabel* StoragePathDatLabel;
  QLabel* COMPortLabel;
  QLabel* COMPortDatLabel;
  QPushButton* OKButton;

  // The version value shown behind "Version ".
  QString VersionText;

  // Reads the program's version into VersionText; a failure keeps
  // "0.0.0.0 Beta" and returns its code.
  int ReadVersion();
  // Refreshes the configuration path, storage path and port number.
  void FormPaint();

  static constexpr int kLeft = 50;
  static constexpr int kTop = 50;

 protected:
  void showEvent(QShowEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
};


namespace quelm {
// The port number "COM port:" shows: the one set on the serial port. Until
// the port component is wired in, the main window's PortNumber.
using PortNumberProvider = std::function<int()>;
void setPortNumberProvider(PortNumberProvider provider);
int currentPortNumber();
}  // namespace quelm
