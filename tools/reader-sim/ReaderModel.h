#pragma once
// A model of the reader as plain code: request bytes in, reply bytes out.
// It answers the frame level (reset frames, information frames, busy,
// reject, refusals) and the block commands over a memory of 2048 block
// slots, and can misbehave on purpose (damaged check sums, busy, rejects,
// refusals, dropped replies, garbage, split, delayed and late replies, wrong
// letters, vanishing) in a deterministic way.

#include <QString>
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <random>
#include <vector>

#include "measurement/BlockRecord.h"

namespace quelm::sim {

// The reader's parameter tables and look-up table (ReaderParams.h) and its
// service state and loader (ReaderService.h), each with its own commands.
struct ParameterState;
struct ServiceState;

// Fires on every Nth information reply (every > 0) and/or with the given
// probability per information reply.
struct FaultRule {
  int every = 0;
  double probability = 0;
};

enum Fault : unsigned {
  kFaultCrc = 0x01,          // check sum damaged
  kFaultBusy = 0x02,         // supervisory busy (ID 2)
  kFaultReject = 0x04,       // supervisory reject (ID 7)
  kFaultRefuse = 0x08,       // 'P' instead of the letter
  kFaultRefuseBusy = 0x10,   // 'P' with 'd'
  kFaultDrop = 0x20,         // no reply at all
  kFaultWrongLetter = 0x40,  // another letter echoed
  kFaultLate = 0x80,         // the reply comes lateMs after the request
};

struct FaultOptions {
  FaultRule crc, busy, reject, refuse, refuseBusy, drop, wrongLetter, late;
  int garbage = 0;        // bytes of noise before the sync of every reply
  int chunkSize = 0;      // split replies into pieces of this many bytes ...
  int chunkDelayMs = 0;   // ... this far apart
  int delayMs = 0;        // before every reply
  int lateMs = 4500;      // before a late reply (beyond the program's time-out)
  int vanishAfter = 0;    // the reader goes away on this information frame or loader request
  uint32_t lineBaud = 0;  // pace all output (and input) at bytes * 10 / baud
  uint64_t seed = 1;
};

// Bytes to put on the line after waiting delayMs (counted from the previous
// emission, or from the request for the first one).
struct Emission {
  int delayMs = 0;
  std::vector<uint8_t> bytes;
};

class TReaderModel {
 public:
  explicit TReaderModel(const FaultOptions& faults = {});
  ~TReaderModel();
  TReaderModel(TReaderModel&& other) noexcept;
  TReaderModel& operator=(TReaderModel&&) = delete;
  TReaderModel(const TReaderModel&) = delete;

  // Memory. Blocks go to the slot of their number; the last one given is
  // the newest. All loaded blocks start unsaved unless told otherwise.
  void LoadBlocks(const std::vector<BlockRecord>& blocks);
  // Loads a data file (records back to back). Returns 0, -107 or -109.
  int LoadMemoryFile(const QString& path);
  // Only the newest `count` blocks remain unsaved (negative: all).
  void SetUnsaved(int count);

  int BlockCount() const { return static_cast<int>(Order.size()); }
  int NewestBlock() const { return Order.empty() ? -1 : Order.back(); }
  int FirstUnsaved() const { return FirstUnsaved_; }
  bool HasBlock(int number) const { return Used[number & 2047]; }
  const BlockRecord& Block(int number) const { return Slots[number & 2047]; }

  // Feeds bytes from the host and returns what goes back.
  std::vector<Emission> Feed(const uint8_t* data, size_t size);

  // The reader is switched on into its loader: it announces itself, and
  // host bytes are loader requests until the finish request.
  std::vector<Emission> SwitchOnLoader();

  // Fault sets (Fault bits) for the next information replies, used before
  // the rules; tests script exact sequences with it.
  std::deque<unsigned> Script;
  // Raw bytes to send instead of the next information replies (tests of
  // frames no reader would send, e.g. impossible Length fields).
  std::deque<std::vector<uint8_t>> RawReplies;
  // Every complete request frame, as received.
  std::vector<std::vector<uint8_t>> Requests;
  // Called with each request frame as it is taken, before it is answered:
  // a test served on its own event loop sees the program in the middle of
  // its work at exactly that moment, however fast or slow the machine.
  std::function<void(const std::vector<uint8_t>& frame)> OnRequest;

  const FaultOptions& Faults() const { return Options; }
  // The reader has gone away (vanishAfter): it takes and answers nothing
  // more; its server closes the line.
  bool Vanished() const { return Vanished_; }

  // State behind the parameter and service commands, for set-up and checks.
  ParameterState& Parameters() { return *Parameters_; }
  ServiceState& Service() { return *Service_; }

 private:
  std::vector<Emission> HandleFrame(const std::vector<uint8_t>& frame);
  std::vector<uint8_t> Command(const uint8_t* payload, int length, bool* understood);
  std::vector<uint8_t> SearchPage(const SearchRequest& request);
  // Commands of the parameter tables (ReaderParams.cpp) and of the service
  // functions (ReaderService.cpp): true when the payload is one of theirs,
  // with the reply (letter first) in reply; false leaves reply alone.
  bool ParameterCommand(const uint8_t* payload, int length, std::vector<uint8_t>& reply);
  bool ServiceCommand(const uint8_t* payload, int length, std::vector<uint8_t>& reply);
  std::vector<Emission> LoaderFeed(const uint8_t* data, size_t size);
  int MemoryImage();
  unsigned DrawFaults();
  std::vector<Emission> Transmit(std::vector<uint8_t> frame, int delayMs);

  FaultOptions Options;
  std::mt19937_64 Random;
  uint64_t InformationReplies = 0;
  uint64_t InformationFrames = 0;
  bool Vanished_ = false;
  std::vector<uint8_t> Pending;  // host bytes not yet forming a frame

  std::vector<BlockRecord> Slots = std::vector<BlockRecord>(kBlocksInReader);  // 1 MiB: on the heap
  std::array<bool, kBlocksInReader> Used{};
  std::vector<int> Order;  // block numbers, oldest first
  int FirstUnsaved_ = -1;  // -1: none
  // The memory as a data file (record k = slot k) for the search, which
  // then works exactly as on a data file; rebuilt after the memory changed.
  int ImageFd = -1;
  bool ImageStale = true;
  std::unique_ptr<ParameterState> Parameters_;
  std::unique_ptr<ServiceState> Service_;
};

}  // namespace quelm::sim
