#pragma once
// TCOMPort: one serial device. Opens and closes it, applies the line
// settings, writes with a stall limit and delivers received bytes on the
// user-interface thread: as soon as the device has them (a read notifier on
// its descriptor) and on every tick of the poll timer, which also watches the
// line status. Every failure is shown to the user at once as the port's
// diagnostic (a plain box naming the step, and for failed system calls the
// system's text: only the port knows them) and returned as one of the codes
// below, which the caller reports as the failure.

#include <QElapsedTimer>
#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "link/SerialDevice.h"

// The port component's own codes, named after the step that failed; -7 and
// -8 are kErrTimerKill and kErrHandleClose of the code table.
enum TPortResult : int {
  kPortConnected = -1,        // Connect() on an open port
  kPortNotConnected = -2,     // no device, or it could not be opened
  kPortSetState = -3,         // line settings refused
  kPortSetTimer = -5,         // poll timer did not start
  kPortSetTimeouts = -6,      // immediate reads refused
  kPortPurge = -9,            // queues could not be flushed
  kPortModemStatus = -10,     // no modem signal on a line that has them
  kPortWrite = -11,           // write failed
  kPortWriteTimeout = -12,    // the driver took no byte within the stall limit
  kPortClearError = -13,      // queue status unreadable: the device failed
  kPortGetModemStatus = -14,  // modem status unreadable
  kPortEscape = -15,          // DTR or RTS could not be switched
  kPortFirst = kPortEscape,   // the range of the port's codes
  kPortLast = kPortConnected,
};

enum TBaudRate : int {
  brCustom,
  br110,
  br300,
  br600,
  br1200,
  br2400,
  br4800,
  br9600,
  br14400,
  br19200,
  br38400,
  br56000,
  br57600,
  br115200,
  br128000,
  br256000,
};
enum TPortNumber : int {
  pnCustom,
  pnCOM1,
  pnCOM2,
  pnCOM3,
  pnCOM4,
  pnCOM5,
  pnCOM6,
  pnCOM7,
  pnCOM8,
  pnCOM9,
  pnCOM10,
  pnCOM11,
  pnCOM12,
  pnCOM13,
  pnCOM14,
  pnCOM15,
  pnCOM16,
};
enum TDataBits : int { db5BITS, db6BITS, db7BITS, db8BITS };
enum TStopBits : int { sb1BIT, sb1HALFBITS, sb2BITS };
enum TParity : int { ptNONE, ptODD, ptEVEN, ptMARK, ptSPACE };
enum THwFlowCtrl : int { hfNONE, hfNONERTSON, hfRTSCTS };
enum TSwFlowCtrl : int { sfNONE, sfXONXOFF };

inline constexpr uint32_t Win32BaudRates[16] = {0,     110,   300,   600,   1200,  2400,   4800,   9600,
                                                14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};

class TCOMPort;

namespace quelm {
// The line after "COM connect. error" when the system refused this user the
// device: which device, and the usual remedy (membership of the group that
// may use serial devices).
QString permissionNote(const QString& device);
// Opens the port for an exchange unless it is open already: 0, or
// kErrComConnect after the port's own messages; the report of that code
// then also says when the user lacks permission for the device.
int connectForExchange(TCOMPort& port);
}  // namespace quelm

using TReceiveDataEvent = std::function<void(QObject* Sender, const uint8_t* Data, uint32_t DataSize)>;

class TCOMPort : public QObject {
  Q_OBJECT
 public:
  explicit TCOMPort(QObject* owner = nullptr);
  ~TCOMPort() override;

  bool Connected() const;
  int Connect();
  int Disconnect();
  int ApplyCOMSettings();
  int FlushBuffers(bool in, bool out);
  int ToggleDTR(bool on);
  int ToggleRTS(bool on);
  int SendData(const void* data, uint32_t n);
  int SendDataEx(const void* data, uint32_t n, uint32_t timeout);
  int SendByte(uint8_t b);
  int SendChar(char c);
  int SendStr(const char* text);
  int ReadData(void* buffer, uint32_t n);
  int ReadByte(uint8_t* b);
  int ReadChar(char* c);
  int PausePoll();
  int ContPoll();
  bool IsPoll() const;
  int GetSysErrMsg();

  // Properties.
  TBaudRate BaudRate() const { return BaudRate_; }
  void SetBaudRate(TBaudRate v) { setLineSetting(BaudRate_, v); }
  TPortNumber PortNumber() const { return PortNumber_; }
  void SetPortNumber(TPortNumber v);
  TDataBits DataBits() const { return DataBits_; }
  void SetDataBits(TDataBits v) { setLineSetting(DataBits_, v); }
  TStopBits StopBits() const { return StopBits_; }
  void SetStopBits(TStopBits v) { setLineSetting(StopBits_, v); }
  TParity Parity() const { return Parity_; }
  void SetParity(TParity v) { setLineSetting(Parity_, v); }
  THwFlowCtrl HwFlowCtrl() const { return HwFlowCtrl_; }
  void SetHwFlowCtrl(THwFlowCtrl v) { setLineSetting(HwFlowCtrl_, v); }
  TSwFlowCtrl SwFlowCtrl() const { return SwFlowCtrl_; }
  void SetSwFlowCtrl(TSwFlowCtrl v) { setLineSetting(SwFlowCtrl_, v); }
  uint32_t InBufSize() const { return InBufSize_; }
  void SetInBufSize(uint32_t v);
  uint32_t OutBufSize() const { return OutBufSize_; }
  void SetOutBufSize(uint32_t v);
  uint32_t PollDelay() const { return PollDelay_; }
  void SetPollDelay(uint32_t v);
  bool EnaDTROnOpen = true;
  bool ChkLineStatus = false;
  uint32_t InTimeout = 200;
  uint32_t OutTimeout = 500;
  TReceiveDataEvent OnReceiveData;

  // Where COMn is looked up ("Serial port settings" section); empty means the
  // program's configuration file (quelm::configFilePath()).
  QString IniFileName;
  // A device path that takes the place of what the port number names (the
  // command line's --port /dev/ttyUSB0); empty: the port number decides.
  QString DeviceOverride;
  // The device the port number names, as Connect will open it, and the one
  // another number would name.
  QString DevicePath() const;
  QString DevicePathFor(int portNumber) const;

  // Replaces the operating-system device (tests); only while closed.
  void SetDevice(std::unique_ptr<quelm::SerialDevice> device);

  // The poll tick (public so that tests can drive it without waiting).
  void TimerWndProc();

  // A device whose status can no longer be read (an adapter pulled out, a
  // line hung up) is closed by the poll after its messages have been shown
  // once; this is the code of that failure (-13), 0 while the device has not
  // failed. Connect clears it.
  int DeviceFailure() const { return DeviceFailure_; }
  // The system's error number of the last Connect that could not open the
  // device; 0 once a Connect opened it.
  int OpenError() const { return OpenError_; }

 private:
  // A setting of the line itself: an open line takes it at once.
  template <typename T>
  void setLineSetting(T& setting, T v) {
    setting = v;
    if (Connected()) ApplyCOMSettings();
  }
  // What only a closed port may change: says so and returns true while
  // the port is open (`setter` names the call in the message).
  bool refusedWhileConnected(const char* setter);
  void message(const QString& text);
  void systemError(int error);
  // Shows the step's message and the system's error, and returns the step's code.
  int fault(const QString& text, int error, int code);
  // Sets DTR or RTS on an open line; `caller` names the call in the message.
  int setModemLine(quelm::ModemLine line, bool on, const char* caller);
  uint64_t now() const;
  // Reads what the device holds and hands it to OnReceiveData. Returns the
  // bytes delivered, or -1 when the device failed (and is closed now).
  int Receive();
  void OnReadable();
  void EnableNotifier(bool on);
  void CloseFailedDevice(int code);

  std::unique_ptr<quelm::SerialDevice> Device;
  QTimer PollTimer;
  QSocketNotifier Notifier{QSocketNotifier::Read};
  QElapsedTimer Clock;
  std::vector<uint8_t> InBuffer;  // empty when allocation failed
  int PollPause = 0;
  int LastError = 0;
  int DeviceFailure_ = 0;
  int OpenError_ = 0;

  TBaudRate BaudRate_ = br9600;
  TPortNumber PortNumber_ = pnCOM1;
  TDataBits DataBits_ = db8BITS;
  TStopBits StopBits_ = sb1BIT;
  TParity Parity_ = ptNONE;
  THwFlowCtrl HwFlowCtrl_ = hfNONE;
  TSwFlowCtrl SwFlowCtrl_ = sfNONE;
  uint32_t InBufSize_ = 4096;
  uint32_t OutBufSize_ = 2048;
  uint32_t PollDelay_ = 50;
};
