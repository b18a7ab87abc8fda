#include "ReaderModel.h"

#include "ReaderParams.h"
#include "ReaderService.h"

#include <QFile>
#include <algorithm>
#include <cstring>
#include <utility>

#include "link/Frame.h"
#include "measurement/NurvoDataBlock.h"

#include <sys/mman.h>
#include <unistd.h>

namespace quelm::sim {
namespace {

constexpr uint8_t kAck = 0x00;
constexpr uint8_t kBusy = 0x20;
constexpr uint8_t kReject = 0x70;

void putU16(std::vector<uint8_t>& v, uint32_t value) {
  v.push_back(static_cast<uint8_t>(value & 0xFF));
  v.push_back(static_cast<uint8_t>((value >> 8) & 0xFF));
}

std::vector<uint8_t> frameOf(uint8_t control, const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> f(payload.size() + kFrameOverhead);
  BuildFrame(f.data(), control, payload.data(), static_cast<int>(payload.size()));
  return f;
}

bool fires(const FaultRule& rule, uint64_t index, double draw) {
  return (rule.every > 0 && index % static_cast<uint64_t>(rule.every) == 0) ||
         (rule.probability > 0 && draw < rule.probability);
}

int compareStamp(const uint8_t* a, const uint8_t* b) {
  for (int i = 0; i < 5; ++i)
    if (a[i] != b[i]) return a[i] > b[i] ? 1 : -1;
  return 0;
}

}  // namespace

TReaderModel::TReaderModel(const FaultOptions& faults)
    : Options(faults),
      Random(faults.seed),
      Parameters_(std::make_unique<ParameterState>()),
      Service_(std::make_unique<ServiceState>()) {}

TReaderModel::TReaderModel(TReaderModel&& o) noexcept
    : Script(std::move(o.Script)),
      RawReplies(std::move(o.RawReplies)),
      Requests(std::move(o.Requests)),
      OnRequest(std::move(o.OnRequest)),
      Options(o.Options),
      Random(o.Random),
      InformationReplies(o.InformationReplies),
      InformationFrames(o.InformationFrames),
      Vanished_(o.Vanished_),
      Pending(std::move(o.Pending)),
      Slots(std::move(o.Slots)),
      Used(o.Used),
      Order(std::move(o.Order)),
      FirstUnsaved_(o.FirstUnsaved_),
      ImageFd(std::exchange(o.ImageFd, -1)),
      ImageStale(o.ImageStale),
      Parameters_(std::move(o.Parameters_)),
      Service_(std::move(o.Service_)) {}

TReaderModel::~TReaderModel() {
  if (ImageFd >= 0) ::close(ImageFd);
}

void TReaderModel::LoadBlocks(const std::vector<BlockRecord>& blocks) {
  Used.fill(false);
  Order.clear();
  for (const BlockRecord& b : blocks) {
    const int n = int{b.BlockNumber} & 2047;
    if (Used[n]) Order.erase(std::find(Order.begin(), Order.end(), n));
    Slots[n] = b;
    Slots[n].Lead = 0;
    Slots[n].Reserved503[8] = 0;  // byte 511
    Used[n] = true;
    Order.push_back(n);
  }
  ImageStale = true;
  SetUnsaved(-1);
}

int TReaderModel::LoadMemoryFile(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return -107;
  std::vector<BlockRecord> blocks;
  for (;;) {
    BlockRecord r;
    const qint64 got = f.read(reinterpret_cast<char*>(&r), sizeof r);
    if (got == 0) break;
    if (got != static_cast<qint64>(sizeof r)) return got < 0 ? -109 : (blocks.empty() ? -109 : 0);
    blocks.push_back(r);
  }
  LoadBlocks(blocks);
  return 0;
}

void TReaderModel::SetUnsaved(int count) {
  const int n = static_cast<int>(Order.size());
  if (count < 0 || count > n) count = n;
  FirstUnsaved_ = count == 0 ? -1 : Order[static_cast<size_t>(n - count)];
}

unsigned TReaderModel::DrawFaults() {
  ++InformationReplies;
  if (!Script.empty()) {
    const unsigned f = Script.front();
    Script.pop_front();
    return f;
  }
  // One draw per rule and reply, so that enabling one fault does not shift
  // the sequence of another.
  std::uniform_real_distribution<double> u(0.0, 1.0);
  const uint64_t i = InformationReplies;
  unsigned f = 0;
  const std::pair<const FaultRule*, Fault> rules[] = {{&Options.crc, kFaultCrc},
                                                      {&Options.busy, kFaultBusy},
                                                      {&Options.reject, kFaultReject},
                                                      {&Options.refuse, kFaultRefuse},
                                                      {&Options.refuseBusy, kFaultRefuseBusy},
                                                      {&Options.drop, kFaultDrop},
                                                      {&Options.wrongLetter, kFaultWrongLetter},
                                                      {&Options.late, kFaultLate}};
  for (const auto& [rule, bit] : rules)
    if (fires(*rule, i, u(Random))) f |= bit;
  return f;
}

std::vector<Emission> TReaderModel::Feed(const uint8_t* data, size_t size) {
  if (Vanished_) return {};
  if (Service_->loader.active) return LoaderFeed(data, size);
  Pending.insert(Pending.end(), data, data + size);
  std::vector<Emission> out;
  while (!Vanished_) {
    static constexpr uint8_t kSync[] = {kSync0, kSync1, kSync2};
    const auto sync = std::search(Pending.begin(), Pending.end(), std::begin(kSync), std::end(kSync));
    Pending.erase(Pending.begin(), sync);
    if (Pending.size() < 5) break;
    const int length = frameLengthField(Pending.data());
    if (length < kFrameOverhead || length > kRcvFrameSize) {
      Pending.erase(Pending.begin());  // not a frame start after all
      continue;
    }
    if (Pending.size() < static_cast<size_t>(length)) break;
    std::vector<uint8_t> frame(Pending.begin(), Pending.begin() + length);
    Pending.erase(Pending.begin(), Pending.begin() + length);
    Requests.push_back(frame);
    if (OnRequest) OnRequest(frame);
    for (Emission& e : HandleFrame(frame)) out.push_back(std::move(e));
  }
  return out;
}

std::vector<Emission> TReaderModel::HandleFrame(const std::vector<uint8_t>& frame) {
  const int n = static_cast<int>(frame.size());
  const uint16_t crc = FrameCRC16(frame.data(), n - 2);
  if (crc != static_cast<uint16_t>((frame[n - 2] << 8) | frame[n - 1]))
    return Transmit(frameOf(kReject, {}), Options.delayMs);
  const uint8_t control = frame[5];
  if (!isInformation(control)) return Transmit(frameOf(kAck, {}), Options.delayMs);

  if (Options.vanishAfter > 0 && ++InformationFrames >= static_cast<uint64_t>(Options.vanishAfter)) {
    Vanished_ = true;  // taken, never answered
    Pending.clear();
    return {};
  }
  if (!RawReplies.empty()) {
    std::vector<uint8_t> raw = std::move(RawReplies.front());
    RawReplies.pop_front();
    return Transmit(std::move(raw), Options.delayMs);
  }
  const uint8_t* payload = frame.data() + 6;
  const int length = n - kFrameOverhead;
  const unsigned faults = DrawFaults();
  if (faults & kFaultDrop) return {};
  std::vector<uint8_t> reply;
  uint8_t replyControl = static_cast<uint8_t>(kControlInformation | frameSeqNum(control));
  if (faults & kFaultBusy) {
    replyControl = kBusy;
  } else if (faults & kFaultReject) {
    replyControl = kReject;
  } else if (faults & kFaultRefuseBusy) {
    reply = {'P', length > 1 ? payload[1] : uint8_t{0}, 'd'};
  } else if (faults & kFaultRefuse) {
    reply = {'P', length > 1 ? payload[1] : uint8_t{0}, '-'};
  } else {
    bool understood = false;
    reply = Command(payload, length, &understood);
    if (!understood) {
      replyControl = kReject;
      reply.clear();
    } else if (faults & kFaultWrongLetter) {
      reply[0] = reply[0] == 'Z' ? 'A' : static_cast<uint8_t>(reply[0] + 1);
    }
  }
  std::vector<uint8_t> out = frameOf(replyControl, reply);
  if (faults & kFaultCrc) out.back() ^= 0x5A;
  return Transmit(std::move(out), faults & kFaultLate ? Options.lateMs : Options.delayMs);
}

std::vector<Emission> TReaderModel::Transmit(std::vector<uint8_t> frame, int delayMs) {
  if (Options.garbage > 0) {
    // Noise that never holds the first sync byte, so the reply stays findable.
    std::vector<uint8_t> noise(static_cast<size_t>(Options.garbage));
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<uint8_t>(0x30 + i % 64);
    frame.insert(frame.begin(), noise.begin(), noise.end());
  }
  std::vector<Emission> out;
  const size_t chunk = Options.chunkSize > 0 ? static_cast<size_t>(Options.chunkSize) : frame.size();
  for (size_t at = 0; at < frame.size(); at += chunk) {
    Emission e;
    e.delayMs = at == 0 ? delayMs : Options.chunkDelayMs;
    e.bytes.assign(frame.begin() + static_cast<long>(at),
                   frame.begin() + static_cast<long>(std::min(frame.size(), at + chunk)));
    out.push_back(std::move(e));
  }
  return out;
}

std::vector<uint8_t> TReaderModel::Command(const uint8_t* p, int length, bool* understood) {
  *understood = false;
  std::vector<uint8_t> r;
  if (length < 2 || p[0] != '.') return r;
  const uint8_t letter = p[1];
  r.push_back(letter);
  const auto terminated = [&](int expectedLength) {
    return length == expectedLength && p[length - 1] == '#';
  };
  switch (letter) {
    case 'G':
      if (!terminated(3)) return r;
      putU16(r, static_cast<uint32_t>(Order.size()));
      break;
    case 'F':
      if (!terminated(3)) return r;
      // The number after the newest block, unwrapped: 2048 after block 2047,
      // so that the host's "newest = reply - 1" holds.
      putU16(r, Order.empty() ? 0u : static_cast<uint32_t>(Order.back() + 1));
      break;
    case 'K':
      if (length >= 3 && p[2] == '0' && terminated(4)) {
        r.push_back('0');
        putU16(r, FirstUnsaved_ < 0 ? 0xFFFFu : static_cast<uint32_t>(FirstUnsaved_));
      } else if (length >= 3 && p[2] == '2' && terminated(6)) {
        const int n = (p[3] | (p[4] << 8)) & 2047;
        // Everything up to n is saved; what follows n (if anything) is not.
        const auto at = std::find(Order.begin(), Order.end(), n);
        if (at != Order.end()) FirstUnsaved_ = at + 1 == Order.end() ? -1 : *(at + 1);
        r.push_back('2');
      } else if (length >= 3 && p[2] == '1' && terminated(9)) {
        r.push_back('1');
        uint32_t found = 0;
        for (const int n : Order) {
          const BlockRecord& b = Slots[n];
          if (b.ErrorCodes & 0x10) continue;  // no valid date
          if (compareStamp(b.DateTime, p + 3) >= 0) {
            found = static_cast<uint32_t>(n);
            break;
          }
        }
        putU16(r, found);
      } else {
        return r;
      }
      break;
    case 'Y': {
      if (!terminated(5)) return r;
      const int n = (p[2] | (p[3] << 8)) & 2047;
      BlockRecord b;
      if (Used[n]) {
        b = Slots[n];
      } else {
        std::memset(&b, 0, sizeof b);  // an empty slot reads as an empty record
        b.BlockNumber = static_cast<uint16_t>(n);
      }
      const auto* bytes = reinterpret_cast<const uint8_t*>(&b);
      r.insert(r.end(), bytes, bytes + sizeof b);
      break;
    }
    case 'U': {
      if (!terminated(2 + static_cast<int>(sizeof(SearchRequest)) + 1)) return r;
      SearchRequest q;
      std::memcpy(&q, p + 2, sizeof q);
      const std::vector<uint8_t> page = SearchPage(q);
      r.insert(r.end(), page.begin(), page.end());
      break;
    }
    default:
      r.clear();
      if (ParameterCommand(p, length, r) || ServiceCommand(p, length, r)) break;
      r.assign(1, letter);
      return r;
  }
  *understood = true;
  return r;
}

int TReaderModel::MemoryImage() {
  if (ImageFd < 0) ImageFd = ::memfd_create("quelm-reader-memory", MFD_CLOEXEC);
  if (ImageFd < 0) return -107;
  if (!ImageStale) return 0;
  // Slots up to the highest one in use; empty slots carry a number no
  // search asks for, so a lookup of an empty slot fails as a missing block.
  int last = -1;
  for (int n = 0; n < kBlocksInReader; ++n)
    if (Used[n]) last = n;
  std::vector<BlockRecord> image(Slots.begin(), Slots.begin() + (last + 1));
  for (int n = 0; n <= last; ++n)
    if (!Used[n]) {
      std::memset(&image[n], 0, sizeof image[n]);
      image[n].BlockNumber = 0xFFFF;
    }
  const size_t bytes = image.size() * sizeof(BlockRecord);
  if (::ftruncate(ImageFd, 0) != 0 ||
      ::pwrite(ImageFd, image.data(), bytes, 0) != static_cast<ssize_t>(bytes))
    return -110;
  ImageStale = false;
  return 0;
}

std::vector<uint8_t> TReaderModel::SearchPage(const SearchRequest& request) {
  // The reader pages and filters its memory with the same rules as the
  // program's data-file search; the request carries no upper number, so a
  // forward number search ends at the newest block.
  TNurvoDataBlock memory(nullptr);
  int count = 0;
  if (MemoryImage() == 0 && !Order.empty()) {
    memory.FileName = QStringLiteral("/proc/self/fd/%1").arg(ImageFd);
    memory.SearchFileBlocks(request, kPageRows, static_cast<uint32_t>(NewestBlock()), request.FromBlock,
                            &count);
    // Stepping from record to record runs into the slots that hold no block
    // when the memory is not full: the page ends there, as it ends at a
    // missing number, and no empty slot goes out as a summary.
    int kept = 0;
    while (kept < count) {
      const uint16_t number = memory.Summaries[kept].BlockNumber;
      if (number >= kBlocksInReader || !Used[number]) break;
      ++kept;
    }
    if (kept < kPageRows)
      std::memset(&memory.Summaries[kept], 0, sizeof(BlockSummary) * static_cast<size_t>(kPageRows - kept));
    count = kept;
  }
  std::vector<uint8_t> out;
  out.push_back(static_cast<uint8_t>(std::clamp(count, 0, kPageRows)));
  const auto* bytes = reinterpret_cast<const uint8_t*>(memory.Summaries);
  out.insert(out.end(), bytes, bytes + sizeof memory.Summaries);
  return out;
}

}  // namespace quelm::sim
