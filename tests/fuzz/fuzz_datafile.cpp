// Data files of arbitrary bytes: counting, reading by number, paging and
// searching, appending. Reads by number are checked against the plain
// definition (the first record that holds the number and is whole).
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "FuzzSupport.h"
#include "measurement/NurvoDataBlock.h"

using quelm::fuzz::require;

namespace {

int firstRecordWith(const std::vector<uint8_t>& file, uint32_t number) {
  if (number > 0xFFFF) return -1;
  for (size_t k = 0; 512 * k + 3 <= file.size(); ++k)
    if ((file[512 * k + 1] | (file[512 * k + 2] << 8)) == static_cast<int>(number))
      return static_cast<int>(k);
  return -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const quelm::fuzz::MemoryFile file;
  static const quelm::fuzz::MemoryFile copy;
  FuzzedDataProvider in(data, size);
  const uint32_t number = in.ConsumeBool() ? in.ConsumeIntegral<uint32_t>() : in.ConsumeIntegral<uint16_t>();
  SearchRequest request;
  std::memset(&request, 0, sizeof request);
  const std::vector<uint8_t> q = in.ConsumeBytes<uint8_t>(sizeof request);
  if (!q.empty()) std::memcpy(&request, q.data(), q.size());
  const int pageSize = in.ConsumeIntegralInRange(1, 20);
  const auto upper = in.ConsumeIntegral<uint16_t>();
  const auto lower = in.ConsumeIntegral<uint16_t>();
  const std::vector<uint8_t> bytes = in.ConsumeRemainingBytes<uint8_t>();
  file.assign(bytes.data(), bytes.size());

  TNurvoDataBlock block(nullptr);
  require(block.SkimFile(file.path()) == 0, "a plain file can be counted");
  const uint32_t records = static_cast<uint32_t>((bytes.size() + 511) / 512);
  require(block.ValidBlocks == records, "ValidBlocks counts record starts");

  const int k = firstRecordWith(bytes, number);
  const bool whole = k >= 0 && 512 * static_cast<size_t>(k) + 512 <= bytes.size();
  const int rc = block.ReadFileBlock(number);
  require(rc == (whole ? 0 : -214), "ReadFileBlock finds exactly the first whole record");
  require(block.IsLoaded() == whole, "Loaded only after a read");
  if (whole)
    require(std::memcmp(&block.Record, bytes.data() + 512 * k, 512) == 0, "the record is the file's");
  else
    require(
        std::all_of(reinterpret_cast<const uint8_t*>(&block.Record),
                    reinterpret_cast<const uint8_t*>(&block.Record) + 512, [](uint8_t b) { return b == 0; }),
        "a failed read leaves a cleared record");

  int count = -1;
  const int found = block.SearchFileBlocks(request, pageSize, upper, lower, &count);
  require(found == 0 || found == -1, "a page ends or ends early");
  require(count >= 0 && count <= pageSize, "never more summaries than the page holds");
  for (int i = 0; i < count; ++i)
    require(firstRecordWith(bytes, block.Summaries[i].BlockNumber) >= 0,
            "a summary is of a block in the file");

  copy.assign(bytes.data(), bytes.size());
  require(block.WriteFileBlock(copy.path(), 1) == 0, "appending to a plain file");
  require(copy.size() == static_cast<off_t>(bytes.size() + 512), "an append adds one record");
  require(block.SkimFile(copy.path()) == 0 && block.ValidBlocks == records + 1, "and one more block counts");
  return 0;
}
