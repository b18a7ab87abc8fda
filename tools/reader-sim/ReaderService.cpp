#include "ReaderService.h"

#include <QSaveFile>
#include <algorithm>
#include <cstring>

#include "ReaderModel.h"

namespace quelm::sim {

namespace {
constexpr uint8_t kLoaderLead[] = {0xAA, 0x88};
constexpr int kLoaderHeader = 5;
enum : uint8_t { kStart = 1, kWriteBlock = 2, kFinish = 3 };
enum : uint8_t { kReady = 1, kBlockWritten = 2, kFinished = 5 };

int saveImage(const QString& path, const std::vector<uint8_t>& image) {
  QSaveFile f(path);
  if (!f.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) return -107;
  if (f.write(reinterpret_cast<const char*>(image.data()), static_cast<qint64>(image.size())) !=
      static_cast<qint64>(image.size()))
    return -110;
  return f.commit() ? 0 : -111;
}
}  // namespace

ServiceState::ServiceState() {
  // One entry of each code the host names, an empty slot between them and
  // one with a code it does not know; the clock-read entry carries no date.
  const uint8_t entries[][6] = {
      {105, 3, 9, 8, 30, 1},    {0, 0, 0, 0, 0, 0},
      {106, 11, 2, 23, 59, 2},  {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 3},
      {106, 12, 1, 7, 0, 0x7F},
  };
  std::memcpy(errorLog, entries, sizeof entries);
}

bool TReaderModel::ServiceCommand(const uint8_t* p, int length, std::vector<uint8_t>& reply) {
  ServiceState& s = *Service_;
  const auto terminated = [&](int expected) { return length == expected && p[expected - 1] == '#'; };
  const uint8_t letter = p[1];
  switch (letter) {
    case 'B':
    case 'C':
      if (!terminated(5)) return false;
      (letter == 'B' ? s.highVoltage : s.heatingCurrent) = ((p[2] & 0x0F) << 8) | p[3];
      reply = {letter};
      return true;
    case 'S':
      if (!terminated(4)) return false;
      s.controlByte = p[2];
      reply = {letter};
      return true;
    case 'D':
      if (!terminated(4) || p[2] > 1) return false;
      s.automaticSetting = p[2];
      reply = {letter};
      return true;
    case 'A':
      if (!terminated(3)) return false;
      reply = {letter, static_cast<uint8_t>(s.adcInput), static_cast<uint8_t>(s.adcInput >> 8),
               static_cast<uint8_t>(s.adcBattery), static_cast<uint8_t>(s.adcBattery >> 8)};
      return true;
    case 'T':
      if (!terminated(3)) return false;
      reply = {letter};
      reply.insert(reply.end(), std::begin(s.clock), std::end(s.clock));
      return true;
    case 'a':
      if (!terminated(4) || p[2] != 0) return false;
      reply = {letter};
      reply.insert(reply.end(), std::begin(s.errorLog), std::end(s.errorLog));
      return true;
    case 'b':
      if (!terminated(3)) return false;
      std::memset(s.errorLog, 0, sizeof s.errorLog);
      ++s.logDeletes;
      reply = {letter};
      return true;
    default:
      return false;
  }
}

std::vector<Emission> TReaderModel::SwitchOnLoader() {
  LoaderState& l = Service_->loader;
  l.active = true;
  l.finished = false;
  l.pending.clear();
  l.requests.clear();
  Pending.clear();  // a frame begun before the switch-on is gone with it
  return {Emission{0, {0x82, 0x55, kReady, 0x00, 0x00}}};
}

std::vector<Emission> TReaderModel::LoaderFeed(const uint8_t* data, size_t size) {
  LoaderState& l = Service_->loader;
  l.pending.insert(l.pending.end(), data, data + size);
  std::vector<Emission> out;
  while (l.active) {
    l.pending.erase(l.pending.begin(), std::search(l.pending.begin(), l.pending.end(),
                                                   std::begin(kLoaderLead), std::end(kLoaderLead)));
    if (l.pending.size() < static_cast<size_t>(kLoaderHeader)) break;
    const uint8_t command = l.pending[2];
    const size_t need = kLoaderHeader + (command == kWriteBlock ? kLoaderBlockBytes : 0);
    if (l.pending.size() < need) break;
    const LoaderRequest r{command, static_cast<uint16_t>(l.pending[3] | (l.pending[4] << 8))};
    l.requests.push_back(r);
    if (Options.vanishAfter > 0 && ++InformationFrames >= static_cast<uint64_t>(Options.vanishAfter)) {
      Vanished_ = true;  // pulled out while it programs: the request is taken, never answered
      return {};
    }
    uint8_t status = 0;  // a command the loader does not know
    switch (command) {
      case kStart:
        std::fill(l.memory.begin(), l.memory.end(), uint8_t{0xFF});
        l.highestEnd = 0;
        status = kReady;
        break;
      case kWriteBlock:
        std::copy(l.pending.begin() + kLoaderHeader, l.pending.begin() + static_cast<long>(need),
                  l.memory.begin() + r.address);
        l.highestEnd = std::max(l.highestEnd, r.address + kLoaderBlockBytes);
        status = kBlockWritten;
        break;
      case kFinish:
        status = kFinished;
        break;
      default:
        break;
    }
    l.pending.erase(l.pending.begin(), l.pending.begin() + static_cast<long>(need));
    if (l.wrongStatusAt == static_cast<int>(l.requests.size())) status = l.wrongStatus;
    if (command == kFinish && status == kFinished) {
      l.finished = true;
      if (!l.saveTo.isEmpty()) l.saveError = saveImage(l.saveTo, l.Image());
      l.active = false;  // the reader starts the program it was given
    }
    if (l.silent) continue;
    Emission e;
    e.delayMs = Options.delayMs;
    e.bytes = {0x82, 0x55, status, 0x00, 0x00};
    e.bytes.insert(e.bytes.end(), static_cast<size_t>(l.strayBytes), uint8_t{0x00});
    out.push_back(std::move(e));
  }
  return out;
}

}  // namespace quelm::sim
