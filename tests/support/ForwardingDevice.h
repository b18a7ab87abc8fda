#pragma once
// The system's serial device behind the port's seam: every call goes to it,
// and a test overrides only what it watches or breaks.

#include <memory>

#include "link/SerialDevice.h"

namespace quelm::test {

class ForwardingDevice : public SerialDevice {
 public:
  int open(const QByteArray& path) override { return device_->open(path); }
  int close() override { return device_->close(); }
  bool isOpen() const override { return device_->isOpen(); }
  int setLine(const LineSettings& s) override { return device_->setLine(s); }
  int setImmediateReads() override { return device_->setImmediateReads(); }
  int flush(bool in, bool out) override { return device_->flush(in, out); }
  int setModemLine(ModemLine line, bool on) override { return device_->setModemLine(line, on); }
  int modemStatus(bool* anyOn, bool* present) override { return device_->modemStatus(anyOn, present); }
  int outQueued(uint32_t* bytes) override { return device_->outQueued(bytes); }
  int inWaiting(uint32_t* bytes) override { return device_->inWaiting(bytes); }
  int read(uint8_t* b, uint32_t n, uint32_t* got) override { return device_->read(b, n, got); }
  int write(const uint8_t* b, uint32_t n, uint32_t* put) override { return device_->write(b, n, put); }
  void waitReadable(int ms) override { device_->waitReadable(ms); }
  void waitWritable(int ms) override { device_->waitWritable(ms); }
  void pause(int ms) override { device_->pause(ms); }
  int descriptor() const override { return device_->descriptor(); }

 private:
  std::unique_ptr<SerialDevice> device_ = makePosixSerialDevice();
};

}  // namespace quelm::test
