// Received bytes in arbitrary chunks through the receive assembly and the
// reply classification into every block command. Whatever arrives, a
// command either fails or stores what its reply can mean: a block count up
// to the whole memory, block numbers that exist, the record asked for, a
// page of at most 20 summaries.
#include <algorithm>
#include <cstring>
#include <vector>

#include "FuzzSupport.h"
#include "link/CommandChannel.h"
#include "link/Frame.h"
#include "measurement/NurvoDataBlock.h"

using quelm::fuzz::require;

namespace {

// The input, read front to back; past its end everything reads 0.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool more() const { return at_ < size_; }
  uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
  std::vector<uint8_t> take(size_t n) {
    n = std::min(n, size_ - at_);
    std::vector<uint8_t> v(data_ + at_, data_ + at_ + n);
    at_ += n;
    return v;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

// The link's receive side without a port. Each exchange reads a flag byte
// (bit 0: give the frame a valid check sum, so that the commands get to see
// it), then chunks as a length byte and that many bytes, up to a length 0.
// The chunks go through the receive assembly, the frame through the link's
// classification.
class FuzzChannel final : public TCommandChannel {
 public:
  explicit FuzzChannel(Input& in) : in_(in) { SetCommandChannel(this); }
  ~FuzzChannel() override { SetCommandChannel(nullptr); }

  int SendCOMCmd(uint8_t* payload, uint16_t length, uint16_t* out) override {
    const uint8_t flags = in_.byte();
    count_ = 0;
    int expected = 530;
    for (uint8_t n; count_ < expected && (n = in_.byte()) != 0;) {
      const std::vector<uint8_t> chunk = in_.take(n);
      quelm::AssembleFrameBatch(frame_, count_, chunk.data(), static_cast<uint32_t>(chunk.size()));
      if (count_ >= 5) expected = quelm::frameLengthField(frame_);
    }
    if (count_ < expected) return count_ ? -205 : -204;
    if ((flags & 1) && expected >= quelm::kFrameOverhead) {
      const uint16_t crc = FrameCRC16(frame_, expected - 2);
      frame_[expected - 2] = static_cast<uint8_t>(crc >> 8);
      frame_[expected - 1] = static_cast<uint8_t>(crc);
    }
    if (out) *out = static_cast<uint16_t>(std::max(0, std::min<int>(count_, expected) - 10));
    return quelm::ClassifyReply(frame_, count_, expected, true, payload, length, true).code;
  }
  const uint8_t* RcvFrame() const override { return frame_; }
  uint16_t RcvCount() const override { return count_; }

 private:
  Input& in_;
  uint8_t frame_[kRcvFrameSize] = {};
  uint16_t count_ = 0;
};

}  // namespace

// Each command reads an operation byte and a block number (2 bytes), then
// its exchanges.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  FuzzChannel channel(in);
  TNurvoDataBlock block(nullptr);
  while (in.more()) {
    const uint8_t op = in.byte();
    const auto number = static_cast<uint16_t>((in.byte() | (in.byte() << 8)) & 2047);
    switch (op % 6) {
      case 0:
        if (block.SkimCOM() == 0) {
          require(block.ValidBlocks <= 2048, "a count fits the memory");
          require(block.ValidBlocks == 0 || block.LastBlock + 1 <= 2048, "the newest block exists");
        }
        break;
      case 1:
        if (block.GetLastUnsavedCOMBlock() == 0)
          require(block.LastUnsaved < 2048 || block.LastUnsaved == 0xFFFF, "an unsaved block exists");
        break;
      case 2:
        if (block.GetDateCOMBlock(106, 6, 24, 15, 30) == 0)
          require(block.ByDate < 2048, "a dated block exists");
        break;
      case 3:
        block.AckLastUnsavedCOMBlock(number);
        break;
      case 4:
        if (block.ReadCOMBlock(number) == 0) {
          require(block.Record.BlockNumber == number, "the record asked for");
          require(block.Record.Lead == 0 && block.Record.Reserved503[8] == 0, "both ends cleared");
        }
        break;
      default: {
        SearchRequest request{};
        int count = -1;
        const int rc = block.SearchCOMBlocks(request, sizeof request, &count);
        require(count >= 0 && count <= 20 && (rc == 0 || count == 0), "a page holds at most 20");
        for (int i = 0; i < count; ++i) require(block.Summaries[i].BlockNumber < 2048, "listed blocks exist");
        break;
      }
    }
    require(!(block.State & Busy), "no command stays busy");
  }
  return 0;
}
