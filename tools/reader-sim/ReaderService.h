#pragma once
// The simulated reader's service state (high voltage, heating current,
// control bits, ADC, clock, error log, automatic setting) and its loader.
//
// The loader is what the reader runs when it is switched on for a software
// update: it announces itself with 82 55 01 00 00 and then takes unframed
// requests AA 88 <command> <address lo> <address hi> [1024 data bytes],
// answering each with 82 55 <status> 00 00 (start 1, block 2, finish 5).

#include <QString>
#include <cstdint>
#include <vector>

namespace quelm::sim {

inline constexpr int kLoaderBlockBytes = 1024;

struct LoaderRequest {
  uint8_t command = 0;
  uint16_t address = 0;
};

struct LoaderState {
  bool active = false;  // host bytes are loader requests, not frames
  std::vector<uint8_t> pending;
  std::vector<LoaderRequest> requests;  // every complete request, in order
  // The program memory as written: 64 KiB of erased flash.
  std::vector<uint8_t> memory = std::vector<uint8_t>(65536, 0xFF);
  int highestEnd = 0;  // one past the last byte of the highest block written
  bool finished = false;
  QString saveTo;  // the image goes here on the finish request
  int saveError = 0;

  // Fault injection: request number wrongStatusAt (1 = the first request
  // after the announcement) is answered with wrongStatus; a silent loader
  // announces itself and then answers nothing; strayBytes of noise follow
  // every reply.
  int wrongStatusAt = 0;
  uint8_t wrongStatus = 3;
  bool silent = false;
  int strayBytes = 0;

  // What has been written, from address 0 to the end of the highest block.
  std::vector<uint8_t> Image() const {
    return std::vector<uint8_t>(memory.begin(), memory.begin() + highestEnd);
  }
};

struct ServiceState {
  // What the last setting commands carried (-1: none yet).
  int highVoltage = -1;       // ".B" value, 0..1000 steps above 150 V
  int heatingCurrent = -1;    // ".C" value, 4 mA steps
  int controlByte = -1;       // ".S"
  int automaticSetting = -1;  // ".D": 0 enabled, 1 disabled
  // Raw ADC words as the reader sends them; the host uses the low 12 bits.
  uint16_t adcInput = 0x14D2;  // 1234 mV under a stray high nibble
  uint16_t adcBattery = 0x0FFF;
  uint8_t clock[5] = {106, 12, 17, 14, 5};  // 2006-12-17 14:05
  // 16 entries: year - 1900, month, day, hour, minute, code.
  uint8_t errorLog[96] = {};
  int logDeletes = 0;
  LoaderState loader;

  ServiceState();
};

}  // namespace quelm::sim
