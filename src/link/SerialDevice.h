#pragma once
// The operating-system side of a serial port, reduced to the few operations
// the port component needs. Every operation returns 0 or an errno value so
// that the component can show the system's own text for it. The POSIX
// implementation drives a tty with termios2; tests substitute a device whose
// queues they control.

#include <QByteArray>
#include <cstdint>
#include <memory>

namespace quelm {

struct LineSettings {
  uint32_t baud = 19200;  // any rate; 0 is refused (EINVAL)
  int dataBits = 8;       // 5..8
  int stopBits = 0;       // 0 one, 1 one and a half, 2 two
  int parity = 0;         // 0 none, 1 odd, 2 even, 3 mark, 4 space
  bool rtsCts = false;    // RTS/CTS handshake
  bool xonXoff = false;   // XON/XOFF in both directions
};

enum ModemLine : int { kLineDTR = 1, kLineRTS = 2 };

class SerialDevice {
 public:
  virtual ~SerialDevice() = default;

  // Opens an existing device for reading and writing, exclusively: a second
  // opener, also in another process and also as root, gets EBUSY.
  virtual int open(const QByteArray& path) = 0;
  virtual int close() = 0;
  virtual bool isOpen() const = 0;

  // Raw mode with the given line settings; reads return at once.
  virtual int setLine(const LineSettings& settings) = 0;
  virtual int setImmediateReads() = 0;
  virtual int flush(bool in, bool out) = 0;

  // Modem lines. A device without modem lines (a pseudo-terminal) is not a
  // failure: setModemLine returns 0 and modemStatus reports present = false.
  virtual int setModemLine(ModemLine line, bool on) = 0;
  virtual int modemStatus(bool* anyLineOn, bool* present) = 0;

  virtual int outQueued(uint32_t* bytes) = 0;
  virtual int inWaiting(uint32_t* bytes) = 0;
  // Never block: a device with nothing to give or no room reports 0 bytes.
  virtual int read(uint8_t* buffer, uint32_t n, uint32_t* got) = 0;
  virtual int write(const uint8_t* data, uint32_t n, uint32_t* put) = 0;

  // Sleep (without spinning) until the device is readable or writable, or
  // for at most ms milliseconds.
  virtual void waitReadable(int ms) = 0;
  virtual void waitWritable(int ms) = 0;
  virtual void pause(int ms) = 0;

  // The descriptor to watch for received bytes, or -1 when the device has
  // none (received bytes then reach the program through the poll alone).
  virtual int descriptor() const { return -1; }
};

std::unique_ptr<SerialDevice> makePosixSerialDevice();

}  // namespace quelm
